// The texts of edits and of the test box between the dialog's bytes and a view's UTF-16
// characters. Edit texts and received data are bytes in a view's byte charset: the Linux
// window shows one character per byte (ISO-8859-1), so that every byte round-trips; the
// Windows window uses the system's ANSI code page, where a character may take two bytes.
// Limits count bytes. Captions of the resources are UTF-8 and do not come through here.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

std::u16string BytesToU16(std::string_view bytes);
// Characters above U+00FF cannot be a byte: they become '?', as in an ANSI edit.
std::string U16ToBytes(std::u16string_view text);

// How a view's characters stand for bytes.
class ByteCharset {
public:
    virtual ~ByteCharset() = default;
    // Appends the character that starts at bytes[at] (not a control byte) to `out`; the
    // bytes it takes, 0 when the bytes end inside it.
    virtual size_t Decode(std::string_view bytes, size_t at, std::u16string& out) const = 0;
    // Characters to bytes; what the charset cannot spell becomes '?'.
    virtual std::string Encode(std::u16string_view text) const = 0;
};
// One character a byte (BytesToU16, U16ToBytes).
const ByteCharset& Latin1Charset();

// What an edit limited to `limit` bytes keeps when the user changes its text from `before`
// to `after` in one step (a keystroke, a paste, a drop): the inserted characters that fit,
// whole, as many as fit from the first; the parts both texts share stay as they are. An
// edit already longer than its limit (a text the program set) may shrink but never grow.
// `after` itself when it fits or `limit` is 0.
std::string FitEditToLimit(std::string_view before, std::string_view after, size_t limit,
                           const ByteCharset& charset = Latin1Charset());

// The line break of a view's multi-line edit: what one break of the text is shown as.
inline constexpr std::u16string_view kLineBreakLf = u"\n";
inline constexpr std::u16string_view kLineBreakCrLf = u"\r\n";

// Offsets into the received bytes, one a shown character, as a list that keeps a run of
// characters of one length each (one byte, two in a double-byte code page, none for the
// characters after the first of a line end) in one entry: a box of cards holds about two
// entries a line instead of eight bytes a character.
class ByteOffsets {
public:
    ByteOffsets() = default;
    ByteOffsets(std::initializer_list<size_t> offsets);

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    size_t operator[](size_t i) const;
    size_t back() const { return At(m_runs.back(), m_size - 1); }
    void push_back(size_t offset);
    // `count` characters that all stand for the bytes from `offset` on.
    void Append(size_t count, size_t offset);
    void pop_back();
    // Entries kept; what the list costs.
    size_t RunCount() const { return m_runs.size(); }

    bool operator==(const ByteOffsets& other) const;

private:
    struct Run {
        size_t first;   // index of its first character
        size_t offset;  // that character's offset
        size_t step;    // bytes a character; 0: the characters share one offset
    };
    static size_t At(const Run& run, size_t i) { return run.offset + (i - run.first) * run.step; }
    std::vector<Run> m_runs;
    size_t m_size = 0;
};

// The test box shows control bytes as visible symbols (U+2400 + byte, U+2421 for DEL),
// bytes the charset spells as C1 control characters (U+0080 to U+009F) as their value
// between angle brackets ("\u27E885\u27E9"), and each line end by its own symbols followed
// by one line break, written as the view's `lineBreak`: CR LF as U+240D U+240A, a lone CR
// as U+240D, a lone LF as U+240A, so that the three can be told apart. A CR that ends the
// bytes shows its symbol at once and its break with the next byte (an LF may follow);
// other bytes as the charset spells them. A character whose bytes have not all arrived is
// not shown yet: byteAt.back() is then where it starts.
struct TestBoxText {
    std::u16string display;
    // byteAt[i]: offset in the bytes of display character i; one more entry for the end.
    // Every character of one line end or of one byte's bracketed value has the offset of
    // its first byte.
    ByteOffsets byteAt{0};
    // The bytes end in a CR whose line break is not shown yet.
    bool breakPending = false;
};
TestBoxText RenderTestBox(std::string_view bytes, std::u16string_view lineBreak,
                          const ByteCharset& charset = Latin1Charset());
// `out` shows bytes[0, from); adds what bytes[from, end) shows, so that `out` equals
// RenderTestBox(bytes). The work grows with the new bytes only (a CR shown before `from`
// and an LF after it are still one line break).
void AppendTestBox(TestBoxText& out, std::string_view bytes, size_t from,
                   std::u16string_view lineBreak, const ByteCharset& charset = Latin1Charset());
// What a user typed or pasted into the test box, back to bytes: a line end's symbols
// before a line break (CR LF, a lone CR or LF, U+2028, U+2029) are that line end, a line
// break alone is CR LF, a control symbol or a bracketed value from 80 to 9F its byte,
// other characters as the charset spells them.
std::string TestBoxInputToBytes(std::u16string_view typed,
                                const ByteCharset& charset = Latin1Charset());
// The bytes after the user has changed the shown text from `before` to `after`: the part
// both keep is taken from `bytes` as it was, so lone CRs and LFs survive an edit
// elsewhere. A kept part never starts or ends inside the characters of one line end or of
// one bracketed value.
std::string ApplyTestBoxEdit(std::string_view bytes, const TestBoxText& before,
                             std::u16string_view after,
                             const ByteCharset& charset = Latin1Charset());

}  // namespace ui
