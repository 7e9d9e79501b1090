#include "gui/win32/text16.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace gui::win32 {

namespace {

constexpr wchar_t kControlPictures = 0x2400;
constexpr wchar_t kDeletePicture = 0x2421;

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

}  // namespace

std::wstring BytesToWide(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char b : bytes) out.push_back(static_cast<wchar_t>(static_cast<uint8_t>(b)));
    return out;
}

std::string WideToBytes(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text)
        out.push_back(static_cast<uint32_t>(ch) <= 0xFF ? static_cast<char>(ch) : '?');
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

TestBoxText RenderTestBox(std::string_view bytes) {
    TestBoxText out;
    out.display.reserve(bytes.size());
    out.byteAt.reserve(bytes.size() + 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        out.byteAt.push_back(i);
        if (b == '\r' || b == '\n') {
            // Both characters of the break stand for the whole break.
            out.display += L"\r\n";
            out.byteAt.push_back(i);
            if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else if (b < 0x20) {
            out.display.push_back(static_cast<wchar_t>(kControlPictures + b));
        } else if (b == 0x7F) {
            out.display.push_back(kDeletePicture);
        } else {
            out.display.push_back(static_cast<wchar_t>(b));
        }
    }
    out.byteAt.push_back(bytes.size());
    return out;
}

std::string TestBoxInputToBytes(std::wstring_view typed) {
    std::string bytes;
    for (size_t i = 0; i < typed.size(); ++i) {
        const wchar_t u = typed[i];
        if (u == L'\r' || u == L'\n') {
            bytes += "\r\n";
            if (u == L'\r' && i + 1 < typed.size() && typed[i + 1] == L'\n') ++i;
        } else if (u >= kControlPictures && u < kControlPictures + 0x20) {
            bytes.push_back(static_cast<char>(u - kControlPictures));
        } else if (u == kDeletePicture) {
            bytes.push_back(0x7F);
        } else {
            bytes.push_back(static_cast<uint32_t>(u) <= 0xFF ? static_cast<char>(u) : '?');
        }
    }
    return bytes;
}

std::string ApplyTestBoxEdit(const std::string& bytes, const TestBoxText& before,
                             std::wstring_view after) {
    const std::wstring& old = before.display;
    const size_t common = std::min(old.size(), after.size());
    size_t prefix = 0;
    while (prefix < common && old[prefix] == after[prefix]) ++prefix;
    // A kept part never ends or starts inside a line break's CR LF pair.
    if (prefix > 0 && old[prefix - 1] == L'\r' && prefix < old.size() && old[prefix] == L'\n')
        --prefix;
    size_t suffix = 0;
    while (suffix < common - prefix &&
           old[old.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    if (suffix > 0 && suffix < old.size() && old[old.size() - suffix] == L'\n' &&
        old[old.size() - suffix - 1] == L'\r')
        --suffix;
    const size_t from = before.byteAt[prefix];
    const size_t to = before.byteAt[old.size() - suffix];
    return bytes.substr(0, from) +
           TestBoxInputToBytes(after.substr(prefix, after.size() - prefix - suffix)) +
           bytes.substr(to);
}

}  // namespace gui::win32
