#include "ui/test_box_text.h"

#include <algorithm>

namespace ui {

namespace {
constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;
constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;
}  // namespace

std::u16string BytesToU16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char b : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(b)));
    return out;
}

std::string U16ToBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t ch : text) out.push_back(ch <= 0xFF ? static_cast<char>(ch) : '?');
    return out;
}

namespace {

class Latin1 : public ByteCharset {
public:
    size_t Decode(std::string_view bytes, size_t at, std::u16string& out) const override {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[at])));
        return 1;
    }
    std::string Encode(std::u16string_view text) const override { return U16ToBytes(text); }
};

}  // namespace

namespace {

// Where each character of `bytes` starts, and its end: a control byte or a character cut
// off at the end counts as one.
std::vector<size_t> CharacterStarts(std::string_view bytes, const ByteCharset& charset) {
    std::vector<size_t> starts;
    std::u16string scratch;
    for (size_t at = 0; at < bytes.size();) {
        starts.push_back(at);
        const auto b = static_cast<unsigned char>(bytes[at]);
        size_t taken = 1;
        if (b >= 0x20 && b != 0x7F) {
            scratch.clear();
            taken = charset.Decode(bytes, at, scratch);
            if (taken == 0) taken = bytes.size() - at;
        }
        at += taken;
    }
    starts.push_back(bytes.size());
    return starts;
}

}  // namespace

std::string FitEditToLimit(std::string_view before, std::string_view after, size_t limit,
                           const ByteCharset& charset) {
    const size_t allowed = std::max(limit, before.size());
    if (limit == 0 || after.size() <= allowed) return std::string(after);
    const std::vector<size_t> starts = CharacterStarts(after, charset);
    // The shared start ends at a character boundary of `after`; the shared end starts at
    // the first boundary in the bytes both texts end with.
    size_t same = 0;
    while (same < before.size() && same < after.size() && before[same] == after[same]) ++same;
    size_t first = 0;
    while (first + 1 < starts.size() && starts[first + 1] <= same) ++first;
    const size_t head = starts[first];
    size_t tail = 0;
    while (tail < before.size() - std::min(before.size(), head) && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    size_t last = first;
    while (starts[last] < after.size() - tail) ++last;
    const size_t rest = after.size() - starts[last];
    // The inserted characters [first, last) that fit.
    if (head + rest > allowed) return std::string(before);
    size_t end = first;
    while (end < last && starts[end + 1] - head + head + rest <= allowed) ++end;
    std::string out(after.substr(0, head));
    out.append(after.substr(head, starts[end] - head));
    out.append(after.substr(starts[last]));
    return out;
}

const ByteCharset& Latin1Charset() {
    static const Latin1 charset;
    return charset;
}

TestBoxText RenderTestBox(std::string_view bytes, std::u16string_view lineBreak,
                          const ByteCharset& charset) {
    TestBoxText out;
    out.display.reserve(bytes.size());
    out.byteAt.reserve(bytes.size() + 1);
    AppendTestBox(out, bytes, 0, lineBreak, charset);
    return out;
}

void AppendTestBox(TestBoxText& out, std::string_view bytes, size_t from,
                   std::u16string_view lineBreak, const ByteCharset& charset) {
    if (!out.byteAt.empty()) out.byteAt.pop_back();  // the end moves
    size_t i = from;
    // The LF of a CR LF pair split by the append belongs to the break already shown.
    if (i > 0 && i < bytes.size() && bytes[i - 1] == '\r' && bytes[i] == '\n') ++i;
    for (; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\r' || b == '\n') {
            out.display.append(lineBreak);
            out.byteAt.insert(out.byteAt.end(), lineBreak.size(), i);
            if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            continue;
        }
        if (b < 0x20) {
            out.byteAt.push_back(i);
            out.display.push_back(static_cast<char16_t>(kControlPictures + b));
        } else if (b == 0x7F) {
            out.byteAt.push_back(i);
            out.display.push_back(kDeletePicture);
        } else {
            const size_t shown = out.display.size();
            const size_t taken = charset.Decode(bytes, i, out.display);
            if (taken == 0) break;  // the rest of the character has not arrived
            // Every character one byte sequence stands for starts at that sequence.
            out.byteAt.insert(out.byteAt.end(), out.display.size() - shown, i);
            i += taken - 1;
        }
    }
    out.byteAt.push_back(std::min(i, bytes.size()));
}

std::string TestBoxInputToBytes(std::u16string_view typed, const ByteCharset& charset) {
    std::string bytes;
    bytes.reserve(typed.size());
    size_t run = 0;  // start of the characters the charset spells
    for (size_t i = 0; i < typed.size(); ++i) {
        const char16_t u = typed[i];
        const bool special =
            u == u'\r' || u == u'\n' || u == kLineSeparator || u == kParagraphSeparator ||
            (u >= kControlPictures && u < kControlPictures + 0x20) || u == kDeletePicture;
        if (!special) continue;
        bytes += charset.Encode(typed.substr(run, i - run));
        if (u == u'\r' || u == u'\n' || u == kLineSeparator || u == kParagraphSeparator) {
            bytes += "\r\n";
            if (u == u'\r' && i + 1 < typed.size() && typed[i + 1] == u'\n') ++i;
        } else if (u >= kControlPictures && u < kControlPictures + 0x20) {
            bytes.push_back(static_cast<char>(u - kControlPictures));
        } else {
            bytes.push_back(0x7F);
        }
        run = i + 1;
    }
    bytes += charset.Encode(typed.substr(run));
    return bytes;
}

std::string ApplyTestBoxEdit(std::string_view bytes, const TestBoxText& before,
                             std::u16string_view after, const ByteCharset& charset) {
    const std::u16string& old = before.display;
    const std::vector<size_t>& at = before.byteAt;
    const size_t common = std::min(old.size(), after.size());
    size_t prefix = 0;
    while (prefix < common && old[prefix] == after[prefix]) ++prefix;
    // Two neighbours with one offset are characters of one line break.
    while (prefix > 0 && prefix < old.size() && at[prefix] == at[prefix - 1]) --prefix;
    size_t suffix = 0;
    while (suffix < common - prefix &&
           old[old.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    while (suffix > 0 && suffix < old.size() &&
           at[old.size() - suffix] == at[old.size() - suffix - 1])
        --suffix;
    const size_t from = at[prefix];
    const size_t to = at[old.size() - suffix];
    std::string out(bytes.substr(0, from));
    out += TestBoxInputToBytes(after.substr(prefix, after.size() - prefix - suffix), charset);
    out += bytes.substr(to);
    return out;
}

}  // namespace ui
