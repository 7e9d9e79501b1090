// The test box's text model, as both windows show it: the Linux one breaks lines with LF,
// the Win32 one with CR LF.
#include "ui/test_box_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ui::kLineBreakCrLf;
using ui::kLineBreakLf;

std::string Bytes(const char* text, size_t size) {
    return std::string(text, size);
}

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
        {Bytes("\x00\x01\x1f AZ\x7f\x80\xff", 9), kLineBreakLf,
         u"\u2400\u2401\u241f AZ\u2421\u0080\u00ff"},
        {"a\r\nb\rc\nd", kLineBreakLf, u"a\nb\nc\nd"},
        {"a\r\nb\rc\nd", kLineBreakCrLf, u"a\r\nb\r\nc\r\nd"},
        {"\r\r\n\n", kLineBreakCrLf, u"\r\n\r\n\r\n"},
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
            if (shown.byteAt[i] == next) {
                EXPECT_EQ(shown.display[i], u'\r');
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

TEST(TestBoxText, AnEditKeepsTheBytesItDoesNotTouch) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string_view lineBreak;
        std::u16string after;
        std::string expected;
    } cases[] = {
        {"typing at the end", "x\ry\nz", kLineBreakLf, u"x\ny\nzQ", "x\ry\nzQ"},
        {"typing at the start", "x\ry\nz", kLineBreakLf, u"Qx\ny\nz", "Qx\ry\nz"},
        {"a typed break is CR LF", "x\ry\nz", kLineBreakLf, u"x\ny\n\nz", "x\ry\n\r\nz"},
        {"deleting a break", "x\ry\nz", kLineBreakLf, u"xy\nz", "xy\nz"},
        {"deleting a control symbol",
         Bytes("a\x02"
               "b",
               3),
         kLineBreakLf, u"ab", "ab"},
        {"typing at the end", "x\ry\nz", kLineBreakCrLf, u"x\r\ny\r\nzQ", "x\ry\nzQ"},
        {"typing at the start", "x\ry\nz", kLineBreakCrLf, u"Qx\r\ny\r\nz", "Qx\ry\nz"},
        {"a typed break is CR LF", "x\ry\nz", kLineBreakCrLf, u"x\r\ny\r\n\r\nz", "x\ry\n\r\nz"},
        {"deleting a break", "x\ry\nz", kLineBreakCrLf, u"xy\r\nz", "xy\nz"},
        // One character of a break's pair deleted: what is left is a typed break.
        {"half a break deleted", "x\ry", kLineBreakCrLf, u"x\ny", "x\r\ny"},
        {"all deleted", "x\r\ny", kLineBreakCrLf, u"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " with " + std::to_string(c.lineBreak.size()) +
                     "-character breaks");
        const ui::TestBoxText before = ui::RenderTestBox(c.bytes, c.lineBreak);
        EXPECT_EQ(ui::ApplyTestBoxEdit(c.bytes, before, c.after), c.expected);
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
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::TestBoxInputToBytes(c.typed), c.bytes) << ::testing::PrintToString(c.bytes);
}

}  // namespace
