#include "gui/win32/text16.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "gui/win32/win32_api.h"

namespace gui::win32 {

namespace {

// The code points of a UTF-8 text, or nothing when it is not UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<uint8_t>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + static_cast<size_t>(extra) >= text.size() && extra > 0) return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        out.push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

void AppendUtf16(std::wstring& out, char32_t cp) {
    if (cp < 0x10000 || sizeof(wchar_t) == 4) {
        out.push_back(static_cast<wchar_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    }
}

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
    const auto decoded = DecodeUtf8(text);
    if (!decoded) return BytesToWide(text);
    std::wstring out;
    for (char32_t cp : *decoded) AppendUtf16(out, cp);
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        auto cp = static_cast<char32_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
            static_cast<char32_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<char32_t>(text[i + 1]) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace gui::win32
