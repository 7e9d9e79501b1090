// Texts between the model and the Win32 controls. The model keeps edit texts and received
// data as bytes, shown one character per byte (ISO-8859-1) so that every byte round-trips
// and limits count bytes, exactly as the Linux window shows them. Captions and messages of
// the resources are UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gui::win32 {

std::wstring BytesToWide(std::string_view bytes);
// Characters above U+00FF cannot be a byte: they become '?', as in an ANSI edit.
std::string WideToBytes(std::wstring_view text);
// UTF-8 when the text is valid UTF-8, else one character per byte.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// The test box shows control bytes as visible symbols (U+2400 + byte, U+2421 for DEL) and
// CR LF, a lone CR or a lone LF as one line break (CR LF in a multi-line edit).
struct TestBoxText {
    std::wstring display;
    // byteAt[i]: offset in the bytes of display character i; one more entry for the end.
    std::vector<size_t> byteAt;
};
TestBoxText RenderTestBox(std::string_view bytes);
// What the user typed or pasted into the test box, back to bytes: a line break is CR LF,
// a control symbol its byte.
std::string TestBoxInputToBytes(std::wstring_view typed);
// The bytes after the user changed the shown text from `before` to `after`: the part both
// keep is taken from `bytes` as it was, so lone CRs and LFs survive an edit elsewhere.
std::string ApplyTestBoxEdit(const std::string& bytes, const TestBoxText& before,
                             std::wstring_view after);

}  // namespace gui::win32
