#include "ui/test_box_text.h"

#include <algorithm>

namespace ui {

namespace {
constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;
constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kCrSymbol = kControlPictures + u'\r';
constexpr char16_t kLfSymbol = kControlPictures + u'\n';
constexpr char16_t kOpenValue = 0x27E8;  // a C1 byte's value between angle brackets
constexpr char16_t kCloseValue = 0x27E9;

// Characters that all stand for the bytes from `at` on.
void Put(TestBoxText& out, std::u16string_view chars, size_t at) {
    out.display.append(chars);
    out.byteAt.Append(chars.size(), at);
}

char16_t HexDigit(unsigned v) {
    return static_cast<char16_t>(v < 10 ? u'0' + v : u'A' + (v - 10));
}

int HexValue(char16_t u) {
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    return -1;
}

// The characters of a line break at typed[i]; 0 when there is none.
size_t BreakAt(std::u16string_view typed, size_t i) {
    if (i >= typed.size()) return 0;
    const char16_t u = typed[i];
    if (u == u'\r') return i + 1 < typed.size() && typed[i + 1] == u'\n' ? 2 : 1;
    return u == u'\n' || u == kLineSeparator || u == kParagraphSeparator ? 1 : 0;
}

// The byte of a bracketed value from 80 to 9F at typed[i]; -1 when there is none.
int ValueAt(std::u16string_view typed, size_t i) {
    if (i + 3 >= typed.size() || typed[i] != kOpenValue || typed[i + 3] != kCloseValue) return -1;
    const int high = HexValue(typed[i + 1]), low = HexValue(typed[i + 2]);
    if (high < 0 || low < 0) return -1;
    const int value = high * 16 + low;
    return value >= 0x80 && value <= 0x9F ? value : -1;
}

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

ByteOffsets::ByteOffsets(std::initializer_list<size_t> offsets) {
    for (size_t offset : offsets) push_back(offset);
}

size_t ByteOffsets::operator[](size_t i) const {
    // The last run that starts at or before i.
    auto run = std::upper_bound(m_runs.begin(), m_runs.end(), i,
                                [](size_t index, const Run& r) { return index < r.first; });
    return At(*(run - 1), i);
}

void ByteOffsets::push_back(size_t offset) {
    if (!m_runs.empty()) {
        Run& last = m_runs.back();
        if (m_size - last.first == 1 && offset >= last.offset) {
            last.step = offset - last.offset;  // a run's second entry sets its step
            ++m_size;
            return;
        }
        if (offset == At(last, m_size)) {
            ++m_size;
            return;
        }
    }
    m_runs.push_back(Run{m_size, offset, 1});
    ++m_size;
}

void ByteOffsets::Append(size_t count, size_t offset) {
    for (size_t n = 0; n < count; ++n) push_back(offset);
}

void ByteOffsets::pop_back() {
    if (m_size == 0) return;
    --m_size;
    if (m_runs.back().first == m_size) m_runs.pop_back();
}

bool ByteOffsets::operator==(const ByteOffsets& other) const {
    if (m_size != other.m_size) return false;
    for (size_t i = 0; i < m_size; ++i)
        if ((*this)[i] != other[i]) return false;
    return true;
}

TestBoxText RenderTestBox(std::string_view bytes, std::u16string_view lineBreak,
                          const ByteCharset& charset) {
    TestBoxText out;
    out.display.reserve(bytes.size());
    AppendTestBox(out, bytes, 0, lineBreak, charset);
    return out;
}

void AppendTestBox(TestBoxText& out, std::string_view bytes, size_t from,
                   std::u16string_view lineBreak, const ByteCharset& charset) {
    if (!out.byteAt.empty()) out.byteAt.pop_back();  // the end moves
    size_t i = from;
    if (out.breakPending && i > 0 && i < bytes.size()) {
        // The CR shown last gets its break now, after the LF's symbol when one follows.
        out.breakPending = false;
        const size_t cr = i - 1;
        if (bytes[i] == '\n') {
            Put(out, std::u16string_view(&kLfSymbol, 1), cr);
            ++i;
        }
        Put(out, lineBreak, cr);
    }
    for (; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\r') {
            Put(out, std::u16string_view(&kCrSymbol, 1), i);
            if (i + 1 == bytes.size()) {
                out.breakPending = true;
                continue;
            }
            const size_t start = i;
            if (bytes[i + 1] == '\n') {
                Put(out, std::u16string_view(&kLfSymbol, 1), start);
                ++i;
            }
            Put(out, lineBreak, start);
            continue;
        }
        if (b == '\n') {
            Put(out, std::u16string_view(&kLfSymbol, 1), i);
            Put(out, lineBreak, i);
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
            if (taken == 1 && out.display.size() == shown + 1 && out.display.back() >= 0x80 &&
                out.display.back() <= 0x9F) {
                // A C1 control character shows nothing: its byte's value instead.
                out.display.back() = kOpenValue;
                out.display.push_back(HexDigit(b >> 4));
                out.display.push_back(HexDigit(b & 0xF));
                out.display.push_back(kCloseValue);
            }
            // Every character one byte sequence stands for starts at that sequence.
            out.byteAt.Append(out.display.size() - shown, i);
            i += taken - 1;
        }
    }
    out.byteAt.push_back(std::min(i, bytes.size()));
}

std::string TestBoxInputToBytes(std::u16string_view typed, const ByteCharset& charset) {
    std::string bytes;
    bytes.reserve(typed.size());
    size_t run = 0;  // start of the characters the charset spells
    for (size_t i = 0; i < typed.size();) {
        const char16_t u = typed[i];
        std::string special;
        size_t length = 0;
        if (const size_t n = BreakAt(typed, i)) {
            special = "\r\n";
            length = n;
        } else if (u == kCrSymbol && i + 1 < typed.size() && typed[i + 1] == kLfSymbol &&
                   BreakAt(typed, i + 2)) {
            special = "\r\n";
            length = 2 + BreakAt(typed, i + 2);
        } else if ((u == kCrSymbol || u == kLfSymbol) && BreakAt(typed, i + 1)) {
            special = u == kCrSymbol ? "\r" : "\n";
            length = 1 + BreakAt(typed, i + 1);
        } else if (u >= kControlPictures && u < kControlPictures + 0x20) {
            special = std::string(1, static_cast<char>(u - kControlPictures));
            length = 1;
        } else if (u == kDeletePicture) {
            special = "\x7f";
            length = 1;
        } else if (const int value = ValueAt(typed, i); value >= 0) {
            special = std::string(1, static_cast<char>(value));
            length = 4;
        }
        if (length == 0) {
            ++i;
            continue;
        }
        bytes += charset.Encode(typed.substr(run, i - run));
        bytes += special;
        i += length;
        run = i;
    }
    bytes += charset.Encode(typed.substr(run));
    return bytes;
}

std::string ApplyTestBoxEdit(std::string_view bytes, const TestBoxText& before,
                             std::u16string_view after, const ByteCharset& charset) {
    const std::u16string& old = before.display;
    const ByteOffsets& at = before.byteAt;
    const size_t common = std::min(old.size(), after.size());
    size_t prefix = 0;
    while (prefix < common && old[prefix] == after[prefix]) ++prefix;
    // Two neighbours with one offset are characters of one line end or one value.
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
