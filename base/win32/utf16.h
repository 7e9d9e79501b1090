// UTF-8 and the platform's UTF-16 both ways, for paths and command lines. Paths cross the
// layers as UTF-8 (base/file_io.h); only the W calls see UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zarn::win32 {

// False for text that is not UTF-8 (nothing is guessed: such a path names no file).
inline bool Utf8ToUtf16(std::string_view text, std::wstring* out) {
    out->clear();
    if (text.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), out->data(), n) == n;
}

// A lone surrogate, which no UTF-8 can carry, becomes U+FFFD.
inline std::string Utf16ToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

}  // namespace zarn::win32
