#include "gui/win32/text16.h"

#include <algorithm>

#include "gui/win32/win32_api.h"
// The platform's headers come in through win32_api.h first.
#include "base/win32/utf16.h"

namespace gui::win32 {

namespace {

class AnsiCodePage : public ui::ByteCharset {
public:
    size_t Decode(std::string_view bytes, size_t at, std::u16string& out) const override {
        const UINT cp = GetACP();
        const char* p = bytes.data() + at;
        size_t size = 1;
        if (IsDBCSLeadByteEx(cp, static_cast<BYTE>(*p))) {
            if (at + 1 >= bytes.size()) return 0;  // the trail byte has not arrived
            size = 2;
        }
        wchar_t ch[2] = {};
        int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, p, static_cast<int>(size), ch, 2);
        if (n <= 0 && size == 2) {
            // No character with this trail byte: the lead byte stands alone.
            size = 1;
            n = MultiByteToWideChar(cp, 0, p, 1, ch, 2);
        }
        if (n <= 0) ch[0] = L'?', n = 1;
        out.append(reinterpret_cast<const char16_t*>(ch), static_cast<size_t>(n));
        return size;
    }
    std::string Encode(std::u16string_view text) const override { return WideToBytes(Wide(text)); }
};

}  // namespace

const ui::ByteCharset& AnsiCharset() {
    static const AnsiCodePage charset;
    return charset;
}

std::wstring BytesToWide(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, out.data(), n);
    return out;
}

std::string WideToBytes(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    if (zarn::win32::Utf8ToUtf16(text, &out)) return out;
    return BytesToWide(text);
}

std::string WideToUtf8(std::wstring_view text) {
    return zarn::win32::Utf16ToUtf8(text);
}

}  // namespace gui::win32
