// The test box's text model, as both windows show it: the Linux one breaks lines with LF,
// the Win32 one with CR LF.
#include "ui/test_box_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using ui::kLineBreakCrLf;
using ui::kLineBreakLf;

std::string Bytes(const char* text, size_t size) {
    return std::string(text, size);
}

}  // namespace

namespace ui {
void PrintTo(const ByteOffsets& offsets, std::ostream* os) {
    for (size_t i = 0; i < offsets.size(); ++i) *os << (i ? " " : "") << offsets[i];
}
}  // namespace ui

// A code page of two-byte characters, as the Windows view has on Chinese systems: a lead
// byte 0x81 to 0xFE and any byte from 0x40 makes one character U+4E00 + the pair's offset;
// a lead byte before anything else stands alone as U+FFFD; 0x80 is U+20AC.
class TwoByteCharset : public ui::ByteCharset {
public:
    size_t Decode(std::string_view bytes, size_t at, std::u16string& out) const override {
        const auto b = static_cast<unsigned char>(bytes[at]);
        if (b == 0x80) {
            out.push_back(u'\u20AC');
            return 1;
        }
        if (b < 0x81 || b == 0xFF) {
            out.push_back(b);
            return 1;
        }
        if (at + 1 >= bytes.size()) return 0;
        const auto t = static_cast<unsigned char>(bytes[at + 1]);
        if (t < 0x40) {
            out.push_back(u'\uFFFD');
            return 1;
        }
        out.push_back(static_cast<char16_t>(0x4E00 + (b - 0x81) * 0xC0 + (t - 0x40)));
        return 2;
    }
    std::string Encode(std::u16string_view text) const override {
        std::string out;
        for (char16_t u : text) {
            if (u == u'\u20AC') {
                out.push_back('\x80');
            } else if (u < 0x80) {
                out.push_back(static_cast<char>(u));
            } else if (u >= 0x4E00 && u < 0x4E00 + 0x7E * 0xC0) {
                out.push_back(static_cast<char>(0x81 + (u - 0x4E00) / 0xC0));
                out.push_back(static_cast<char>(0x40 + (u - 0x4E00) % 0xC0));
            } else {
                out.push_back('?');
            }
        }
        return out;
    }
};

TEST(TestBoxText, ACodePageOfTwoByteCharactersShowsEachCharacterOnceAndTypesItBack) {
    const TwoByteCharset cp;
    const std::string bytes = "a\x81\x41\r\n\x80\x82\x01\x90";  // the last lead byte waits
    const ui::TestBoxText shown = ui::RenderTestBox(bytes, kLineBreakCrLf, cp);
    EXPECT_EQ(shown.display, u"a\u4E01\u240D\u240A\r\n\u20AC\uFFFD\u2401");
    EXPECT_EQ(shown.byteAt, (ui::ByteOffsets{0, 1, 3, 3, 3, 3, 5, 6, 7, 8}));
    // Bytes arriving one by one show what the whole text shows, the pair once complete.
    ui::TestBoxText grown = ui::RenderTestBox("", kLineBreakCrLf, cp);
    for (size_t n = 1; n <= bytes.size(); ++n)
        ui::AppendTestBox(grown, bytes.substr(0, n), grown.byteAt.back(), kLineBreakCrLf, cp);
    EXPECT_EQ(grown.display, shown.display);
    EXPECT_EQ(grown.byteAt, shown.byteAt);
    // A line of two-byte characters is one run of offsets.
    std::string pairs;
    for (int n = 0; n < 40; ++n) pairs += "\x81\x41";
    EXPECT_EQ(ui::RenderTestBox(pairs, kLineBreakCrLf, cp).byteAt.RunCount(), 1u);
    // Typed characters take their bytes; an edit keeps the held-back lead byte.
    EXPECT_EQ(ui::TestBoxInputToBytes(u"\u4E01\u20AC\n\u00E9", cp), "\x81\x41\x80\r\n?");
    EXPECT_EQ(ui::ApplyTestBoxEdit(bytes, shown, u"\u4E02" + shown.display.substr(1), cp),
              "\x81\x42\x81\x41\r\n\x80\x82\x01\x90");
}

namespace {

TEST(TestBoxText, EveryByteRoundTripsAndNoOtherCharacterIsAByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(ui::U16ToBytes(ui::BytesToU16(all)), all);
    EXPECT_EQ(ui::U16ToBytes(u"a\u786E\u20ACb"), "a??b");
}

TEST(TestBoxText, ShowsEveryByteAndMapsEachCharacterBack) {
    struct Case {
        std::string bytes;
        std::u16string_view lineBreak;
        std::u16string shown;
    } cases[] = {
        {Bytes("\x00\x01\x1f AZ\x7f\x80\x9f\xa0\xff", 11), kLineBreakLf,
         u"\u2400\u2401\u241f AZ\u2421\u27E880\u27E9\u27E89F\u27E9\u00a0\u00ff"},
        // CR LF, a lone CR and a lone LF each by their own symbols, and a break.
        {"a\r\nb\rc\nd", kLineBreakLf, u"a\u240D\u240A\nb\u240D\nc\u240A\nd"},
        {"a\r\nb\rc\nd", kLineBreakCrLf, u"a\u240D\u240A\r\nb\u240D\r\nc\u240A\r\nd"},
        {"\r\r\n\n", kLineBreakCrLf, u"\u240D\r\n\u240D\u240A\r\n\u240A\r\n"},
        // A CR at the end: its symbol now, its break when the next byte tells which.
        {"ab\r", kLineBreakLf, u"ab\u240D"},
        {"", kLineBreakCrLf, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        const ui::TestBoxText shown = ui::RenderTestBox(c.bytes, c.lineBreak);
        EXPECT_EQ(shown.display, c.shown);
        ASSERT_EQ(shown.byteAt.size(), shown.display.size() + 1);
        EXPECT_EQ(shown.byteAt.back(), c.bytes.size());
        // Each character stands for the bytes from its offset to the next one's.
        for (size_t i = 0; i < shown.display.size(); ++i) {
            const size_t next = shown.byteAt[i + 1];
            EXPECT_LE(shown.byteAt[i], next);
            // Only a line end's or a value's characters share their bytes.
            if (shown.byteAt[i] == next) {
                EXPECT_NE(
                    std::u16string(u"\u240D\u240A\r\u27E80123456789ABCDEF").find(shown.display[i]),
                    std::u16string::npos);
            }
        }
    }
}

TEST(TestBoxText, AddingBytesShowsWhatTheWholeTextShows) {
    const std::vector<std::string> texts = {
        "AB\r\nCD",                    // CR LF split by an append between CR and LF
        "\r\r\n\n\r",                  // lone CRs and LFs around a pair
        Bytes("\x02%B41\x03\x7f", 7),  // control bytes and DEL as symbols
        Bytes("\0x\0", 3),             // zero bytes
        "abc\r",                       // a CR at the very end
        "\r\n\r\r\n\r",                // a pair after a pending CR
        Bytes("a\x85\x9f\r\x80", 6),   // C1 bytes as values
    };
    for (std::u16string_view lineBreak : {kLineBreakLf, kLineBreakCrLf}) {
        for (const std::string& bytes : texts) {
            const ui::TestBoxText whole = ui::RenderTestBox(bytes, lineBreak);
            for (size_t from = 0; from <= bytes.size(); ++from) {
                SCOPED_TRACE(::testing::PrintToString(bytes) + " added from " +
                             std::to_string(from) + " with " + std::to_string(lineBreak.size()) +
                             "-character breaks");
                ui::TestBoxText shown = ui::RenderTestBox(bytes.substr(0, from), lineBreak);
                ui::AppendTestBox(shown, bytes, from, lineBreak);
                EXPECT_EQ(shown.display, whole.display);
                EXPECT_EQ(shown.byteAt, whole.byteAt);
            }
        }
    }
}

// The box of a reader left streaming holds every card it got: its offsets must cost a few
// entries a line, not one a character.
TEST(TestBoxText, CardsAddedByteByByteKeepAFewOffsetEntriesALine) {
    const std::string card = Bytes("\x02%B4111^DOE/JOHN^2912?;4111=2912?\x03\r\n", 36);
    std::string bytes;
    ui::TestBoxText shown = ui::RenderTestBox("", kLineBreakLf);
    for (int n = 0; n < 200; ++n) {
        for (char b : card) {
            bytes.push_back(b);
            ui::AppendTestBox(shown, bytes, shown.byteAt.back(), kLineBreakLf);
        }
    }
    EXPECT_EQ(shown.byteAt, ui::RenderTestBox(bytes, kLineBreakLf).byteAt);
    EXPECT_LE(shown.byteAt.RunCount(), 2u * 200 + 1);
    // A character in a run still maps to its own byte.
    const size_t lastCard = shown.display.size() - (card.size() + 1);
    EXPECT_EQ(shown.display[lastCard + 2], u'B');
    EXPECT_EQ(shown.byteAt[lastCard + 2], bytes.size() - card.size() + 2);
}

TEST(TestBoxText, AnEditKeepsTheBytesItDoesNotTouch) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string_view lineBreak;
        std::u16string after;
        std::string expected;
    } cases[] = {
        {"typing at the end", "x\ry\nz", kLineBreakLf, u"x\u240D\ny\u240A\nzQ", "x\ry\nzQ"},
        {"typing at the start", "x\ry\nz", kLineBreakLf, u"Qx\u240D\ny\u240A\nz", "Qx\ry\nz"},
        {"a typed break is CR LF", "x\ry\nz", kLineBreakLf, u"x\u240D\ny\u240A\n\nz",
         "x\ry\n\r\nz"},
        {"deleting a break", "x\ry\nz", kLineBreakLf, u"xy\u240A\nz", "xy\nz"},
        // The symbols say which line end: deleting one changes CR LF into the other.
        {"CR LF into CR", "x\r\ny", kLineBreakLf, u"x\u240D\ny", "x\ry"},
        {"CR LF into LF", "x\r\ny", kLineBreakLf, u"x\u240A\ny", "x\ny"},
        {"a value retyped", Bytes("a\x85", 2), kLineBreakLf, u"a\u27E886\u27E9", "a\x86"},
        {"typing after a pending CR", "x\r", kLineBreakLf, u"x\u240DQ", "x\rQ"},
        {"deleting a control symbol",
         Bytes("a\x02"
               "b",
               3),
         kLineBreakLf, u"ab", "ab"},
        {"typing at the end", "x\ry\nz", kLineBreakCrLf, u"x\u240D\r\ny\u240A\r\nzQ", "x\ry\nzQ"},
        {"typing at the start", "x\ry\nz", kLineBreakCrLf, u"Qx\u240D\r\ny\u240A\r\nz", "Qx\ry\nz"},
        {"a typed break is CR LF", "x\ry\nz", kLineBreakCrLf, u"x\u240D\r\ny\u240A\r\n\r\nz",
         "x\ry\n\r\nz"},
        {"deleting a break", "x\ry\nz", kLineBreakCrLf, u"xy\u240A\r\nz", "xy\nz"},
        // One character of a break's pair deleted: the CR's symbol before a typed break.
        {"half a break deleted", "x\ry", kLineBreakCrLf, u"x\u240D\ny", "x\ry"},
        {"all deleted", "x\r\ny", kLineBreakCrLf, u"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " with " + std::to_string(c.lineBreak.size()) +
                     "-character breaks");
        const ui::TestBoxText before = ui::RenderTestBox(c.bytes, c.lineBreak);
        EXPECT_EQ(ui::ApplyTestBoxEdit(c.bytes, before, c.after), c.expected);
    }
}

// What the box shows, copied and pasted back, is the bytes it stands for.
TEST(TestBoxText, ShownTextPastedBackIsTheSameBytes) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string texts[] = {all, "a\r\nb\rc\nd\r", "\n\n\r\r\r\n", "x\r"};
    for (std::u16string_view lineBreak : {kLineBreakLf, kLineBreakCrLf}) {
        for (const std::string& bytes : texts) {
            SCOPED_TRACE(::testing::PrintToString(bytes));
            const ui::TestBoxText shown = ui::RenderTestBox(bytes, lineBreak);
            EXPECT_EQ(ui::TestBoxInputToBytes(shown.display), bytes);
            // No C1 control character reaches a screen reader.
            for (char16_t u : shown.display) EXPECT_FALSE(u >= 0x80 && u <= 0x9F);
        }
    }
}

TEST(TestBoxText, TypedTextBecomesBytes) {
    struct Case {
        std::u16string typed;
        std::string bytes;
    } cases[] = {
        {u"\u2402a\nb\u2421", Bytes("\x02"
                                    "a\r\nb\x7f",
                                    6)},
        {u"a\r\nb\rc\u2028d\u2029e", "a\r\nb\r\nc\r\nd\r\ne"},
        {u"\u00e9\u786E", "\xe9?"},
        // A line end's symbols before a break are that line end; alone, control bytes.
        {u"a\u240D\u240A\nb\u240D\r\nc\u240A\u2028d\u240D", "a\r\nb\rc\nd\r"},
        // A value from 80 to 9F is its byte; other bracketed text stays text.
        {u"\u27E89f\u27E9\u27E8A0\u27E9", "\x9f?A0?"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::TestBoxInputToBytes(c.typed), c.bytes) << ::testing::PrintToString(c.bytes);
}

}  // namespace

// One rule for every edit limited in bytes, whatever its view counts: what was inserted is
// kept as far as it fits in whole characters.
TEST(TestBoxText, AnEditPastItsLimitKeepsTheInsertedCharactersThatFit) {
    const TwoByteCharset cp;
    struct Case {
        const char* what;
        std::string before, after;
        size_t limit;
        std::string kept;
    };
    const std::string ab7 = "AB\x81\x41\x81\x42\x81\x43\x81\x44\x81\x45\x81\x46\x81\x47";
    const Case cases[] = {
        {"a paste of 16 bytes into 15 keeps 7 whole characters", "", ab7, 15, ab7.substr(0, 14)},
        {"fits: as it is", "", ab7, 16, ab7},
        {"no limit", "", ab7, 0, ab7},
        {"typed in the middle: the text around stays", "A\x81\x41Z", "A\x81\x41\x81\x42\x81\x43Z",
         6, "A\x81\x41\x81\x42Z"},
        {"a paste over a selection", "AxyB", "A\x81\x41\x81\x42\x81\x43" "B", 6,
         "A\x81\x41\x81\x42" "B"},
        {"the same pair inserted before its twin", "\x81\x41", "\x81\x41\x81\x41\x81\x41", 4,
         "\x81\x41\x81\x41"},
        {"no room at all: the text before", "ABC", "AB\x81\x41" "C", 3, "ABC"},
        {"a set text past the limit may shrink", "ABCDE", "ABDE", 3, "ABDE"},
        {"but never grow", "ABCDE", "ABCDEF", 3, "ABCDE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::FitEditToLimit(c.before, c.after, c.limit, cp), c.kept) << c.what;
    // Bytes of one character each: a cut at the byte.
    EXPECT_EQ(ui::FitEditToLimit("", ab7, 15), ab7.substr(0, 15));
}
