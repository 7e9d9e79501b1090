// Texts between the model and the Win32 controls. Edit texts and received data are bytes in
// the system's ANSI code page (GetACP), where a character may take two bytes (the test
// box's model is ui/test_box_text.h, shared with the Linux window). Captions and messages
// of the resources are UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "ui/test_box_text.h"

namespace gui::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 texts are UTF-16");

inline std::u16string_view U16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}
inline std::wstring Wide(std::u16string_view text) {
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}

// The system's ANSI code page as the test box's charset.
const ui::ByteCharset& AnsiCharset();

// Bytes in the ANSI code page to characters and back; a character the code page cannot
// spell becomes '?', as in an ANSI edit.
std::wstring BytesToWide(std::string_view bytes);
std::string WideToBytes(std::wstring_view text);
// UTF-8 when the text is valid UTF-8, else the ANSI code page's.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace gui::win32
