// Texts of edits and received data are bytes; the widgets show them one character per
// byte (ISO-8859-1) so that every byte round-trips and limits count bytes. Captions of
// the resources are UTF-8 and do not come through here.
#pragma once

#include <QString>
#include <string>
#include <vector>

namespace gui {

QString BytesToQString(const std::string& bytes);
// Characters above U+00FF cannot be a byte: they become '?', as in an ANSI edit.
std::string QStringToBytes(const QString& text);

// The test box shows control bytes as visible symbols (U+2400 + byte, U+2421 for DEL)
// and CR LF, a lone CR or a lone LF as one line break.
struct TestBoxText {
    QString display;
    // byteAt[i]: offset in the bytes of display character i; one more entry for the end.
    std::vector<size_t> byteAt;
};
TestBoxText RenderTestBox(const std::string& bytes);
// `out` shows bytes[0, from); adds what bytes[from, end) shows, so that `out` equals
// RenderTestBox(bytes). The work grows with the new bytes only (a CR shown before `from`
// and an LF after it are still one line break).
void AppendTestBox(TestBoxText& out, const std::string& bytes, size_t from);
// What a user typed or pasted into the test box, back to bytes: a line break is CR LF,
// a control symbol its byte.
std::string TestBoxInputToBytes(const QString& typed);
// The bytes after the user has changed the shown text from `before` to `after`: the part
// both keep is taken from `bytes` as it was, so lone CRs and LFs survive an edit
// elsewhere.
std::string ApplyTestBoxEdit(const std::string& bytes, const TestBoxText& before,
                             const QString& after);

}  // namespace gui
