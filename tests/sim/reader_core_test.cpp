// The reader core on its own: card formatting, the read image it answers, line timing.
#include <gtest/gtest.h>

#include "sim/options.h"
#include "sim/reader.h"

namespace {

using sim::Card;
using sim::FormatCardData;

protocol::ReaderConfig Factory() {
    return protocol::ParseConfigWriteImage(sim::UsbFactoryImage());
}

const char kTrack1[] = "B4111111111111111^DOE/JOHN^2912101";
const char kTrack2[] = "4111111111111111=2912101";

TEST(CardFormat, FactoryConfigurationOutputsEachTrackWithSentinelsAndCrLf) {
    Card card = sim::ParseCardTracks(std::string(kTrack1) + "|" + kTrack2 + "|");
    EXPECT_EQ(card, sim::DefaultCard());
    EXPECT_EQ(FormatCardData(Factory(), card),
              std::string("%") + kTrack1 + "?\r\n;" + kTrack2 + "?\r\n");
    card.tracks[2] = "0123";
    EXPECT_EQ(FormatCardData(Factory(), card),
              std::string("%") + kTrack1 + "?\r\n;" + kTrack2 + "?\r\n+0123?\r\n");
}

TEST(CardFormat, DisabledAndBlankTracksAreLeftOutWholly) {
    protocol::ReaderConfig c = Factory();
    c.trackEnable = {0, 1, 1};
    c.startSentinel = {'%', 0, '+'};
    c.endSentinel = {'?', 0, '?'};
    c.trackTerminator = {protocol::TERM_CRLF, protocol::TERM_CR, protocol::TERM_NONE};
    const Card card = sim::ParseCardTracks("AAA|222|");
    EXPECT_EQ(FormatCardData(c, card), "222\r");
    // Nothing readable on an enabled track: no packet at all, not even prefix and suffix.
    c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
    c.prefix[0] = protocol::STX;
    c.suffix[0] = protocol::ETX;
    EXPECT_EQ(FormatCardData(c, sim::ParseCardTracks("AAA||")), "");
    EXPECT_EQ(FormatCardData(c, sim::ParseCardTracks("")), "");
}

TEST(CardFormat, PrefixSuffixFramingAndPacketTerminator) {
    protocol::ReaderConfig c = Factory();
    c.trackEnable = {0, 1, 0};
    c.trackTerminator = {protocol::TERM_NONE, protocol::TERM_NONE, protocol::TERM_NONE};
    c.packetTerminator = protocol::TERM_CRLF;
    c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
    c.prefix = {protocol::STX, 'A', 'B'};
    c.suffix = {'X', 'Y', protocol::ETX};
    const Card card = sim::ParseCardTracks("|123|");
    EXPECT_EQ(FormatCardData(c, card),
              "\x02"
              "AB;123?XY\x03\r\n");
    // The fields are output only with their flags, whatever they hold.
    c.optionFlags = protocol::OPT_SUFFIX;
    EXPECT_EQ(FormatCardData(c, card), ";123?XY\x03\r\n");
    c.optionFlags = 0;
    c.packetTerminator = protocol::TERM_CR;
    EXPECT_EQ(FormatCardData(c, card), ";123?\r");
    // A full 15-byte field has no NUL and is output whole.
    c.optionFlags = protocol::OPT_PREFIX;
    c.prefix.fill('P');
    EXPECT_EQ(FormatCardData(c, card), std::string(15, 'P') + ";123?\r");
}

TEST(CardFormat, StartAndLengthPickPartOfEachTrack) {
    protocol::ReaderConfig c = Factory();
    c.trackTerminator = {protocol::TERM_NONE, protocol::TERM_NONE, protocol::TERM_NONE};
    const Card card = sim::ParseCardTracks("ABCDEFGHIJ|0123456789|xyz");
    c.trackStart = {2, 0, 5};
    c.trackLength = {3, 4, 0};
    // Length 0 runs to the end; a start past the end leaves the sentinels alone.
    EXPECT_EQ(FormatCardData(c, card), "%CDE?;0123?+?");
    c.trackStart = {8, 9, 0};
    c.trackLength = {30, 0, 2};
    EXPECT_EQ(FormatCardData(c, card), "%IJ?;9?+xy?");
}

TEST(CardFormat, Track3TrimKeepsTheGivenNumberOfSpaces) {
    protocol::ReaderConfig c = Factory();
    c.trackEnable = {0, 0, 1};
    c.trackTerminator = {protocol::TERM_NONE, protocol::TERM_NONE, protocol::TERM_NONE};
    const Card card = sim::ParseCardTracks("||  12    34 5   ");
    EXPECT_EQ(FormatCardData(c, card), "+  12    34 5   ?");
    c.optionFlags = protocol::OPT_TRACK3_TRIM;
    c.trim3KeepSpaces = 0;
    EXPECT_EQ(FormatCardData(c, card), "+12345?");
    c.trim3KeepSpaces = 2;
    EXPECT_EQ(FormatCardData(c, card), "+12  34 5?");
    c.trim3KeepSpaces = 255;
    EXPECT_EQ(FormatCardData(c, card), "+12    34 5?");
    // Tracks 1 and 2 are never trimmed.
    c.trackEnable = {1, 0, 0};
    EXPECT_EQ(FormatCardData(c, sim::ParseCardTracks("A  B||")), "%A  B?");
}

TEST(ReaderImage, StartsInTheUsbFactoryConfiguration) {
    sim::Reader r;
    const std::vector<uint8_t> header = {0x1B, 0x01, 0x01, 0x01, 0x01, 0x25, 0x3B, 0x2B,
                                         0x3F, 0x3F, 0x3F, 0x00, 0x03, 0x03, 0x03, 0x06,
                                         0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(r.KeptImage().begin(), r.KeptImage().begin() + 24), header);
    EXPECT_EQ(std::vector<uint8_t>(r.KeptImage().begin() + 24, r.KeptImage().end()),
              std::vector<uint8_t>(40, 0));
    const protocol::ConfigReadImage img = r.ReadImage();
    EXPECT_EQ(sim::HexBytes(img.data(), img.size()),
              "01 01 01 25 3b 2b 3f 3f 3f 00 03 03 03 06 14 01 00 00 00 00 00 00 00 00 00 00 00 "
              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
              "00 1b");
}

TEST(ReaderImage, Bytes13To16CarrySpeedChecksumHidModeAndByte55TheXor) {
    protocol::ReaderConfig c = Factory();
    c.usbSpeed = 3;
    c.usbHidModeOff = 0;
    c.optionFlags = protocol::OPT_BEEP_OFF;
    c.trackStart = {1, 2, 3};
    const protocol::ConfigWriteImage w = protocol::MakeConfigWriteImage(c);
    const protocol::ConfigReadImage img = sim::ReaderReadImage(w);
    EXPECT_EQ(img[13], 3);
    EXPECT_EQ(img[14], w[16]);
    EXPECT_EQ(img[15], 0);
    EXPECT_EQ(img[16], 0);
    uint8_t x = 0;
    for (size_t i = 0; i < 55; ++i) x ^= img[i];
    EXPECT_EQ(img[55], x);
    protocol::ReaderConfig expected = c;
    expected.usbSpeed = 0;
    EXPECT_EQ(protocol::ParseConfigReadImage(img), expected);
}

TEST(ReaderTiming, SerialBytesFollowAtLineSpeedAndQueueBehindEachOther) {
    sim::Reader r;
    r.SerialSend({1, 2, 3}, 1000);
    uint32_t at = 0;
    uint8_t b = 0;
    std::vector<uint32_t> times;
    while (r.SerialPeek(&at, &b)) {
        times.push_back(at);
        ASSERT_TRUE(r.SerialPop(&b, at));
    }
    EXPECT_EQ(times, (std::vector<uint32_t>{1002, 1003, 1004}));
    // Sent while the line is still busy: behind the previous bytes.
    r.SerialSend({1, 2}, 2000);
    r.SerialSend({3}, 2001);
    times.clear();
    while (r.SerialPeek(&at, &b)) {
        times.push_back(at);
        ASSERT_TRUE(r.SerialPop(&b, at));
    }
    EXPECT_EQ(times, (std::vector<uint32_t>{2002, 2003, 2004}));
    // 100 bytes take 104.2 ms of line time.
    r.SerialSend(std::vector<uint8_t>(100, 0x41), 5000);
    while (r.SerialPeek(&at, &b)) ASSERT_TRUE(r.SerialPop(&b, at));
    EXPECT_EQ(at, 5105u);
}

TEST(ReaderTiming, TickWrapDoesNotStallUsbReports) {
    sim::Reader r;
    const uint32_t now = 0xFFFFFFFEu;
    r.UsbOpened(now);
    const uint8_t req[9] = {0, 'V'};
    ASSERT_TRUE(r.UsbWrite(req, 9, now));
    uint32_t at = 0;
    ASSERT_TRUE(r.UsbPeek(&at));
    EXPECT_EQ(at, 0xFFFFFFFFu);
    EXPECT_EQ(r.UsbPop(at).size(), 9u);
}

TEST(ReaderUsb, ReportsGoOnlyToAnOpenHandle) {
    sim::Reader r;
    const uint8_t req[9] = {0, 'V'};
    ASSERT_TRUE(r.UsbWrite(req, 9, 0));
    EXPECT_FALSE(r.UsbPeek(nullptr));
    r.UsbOpened(0);
    ASSERT_TRUE(r.UsbWrite(req, 9, 0));
    EXPECT_TRUE(r.UsbPeek(nullptr));
    r.UsbClosed(5);
    EXPECT_FALSE(r.UsbPeek(nullptr));
}

TEST(ReaderUsb, StalledFrameIsDroppedAndPiecesAreNotTakenAsCommands) {
    sim::Reader r;
    r.UsbOpened(0);
    protocol::ReaderConfig c = Factory();
    c.optionFlags = protocol::OPT_BEEP_OFF;
    const protocol::ConfigWriteImage img = protocol::MakeConfigWriteImage(c);
    uint8_t report[9] = {};
    // The first piece, then nothing for longer than a frame may pause.
    std::copy(img.begin(), img.begin() + 8, report + 1);
    ASSERT_TRUE(r.UsbWrite(report, 9, 0));
    const uint8_t version[9] = {0, 'V'};
    ASSERT_TRUE(r.UsbWrite(version, 9, 2000));
    EXPECT_TRUE(r.UsbPeek(nullptr));  // answered as a request, not taken as a piece
    r.UsbPop(2001);
    // A whole frame whose pieces start with 'S', 'V' and 'A' is still one frame.
    c.prefix = {'S', 0, 0, 0, 0, 0, 0, 'V', 0, 0, 0, 0, 0, 0, 0};
    c.suffix = {0, 0, 0, 0, 0, 0, 0, 'A'};
    c.optionFlags = protocol::OPT_PREFIX;
    const protocol::ConfigWriteImage img2 = protocol::MakeConfigWriteImage(c);
    for (int k = 0; k < 8; ++k) {
        std::copy(img2.begin() + 8 * k, img2.begin() + 8 * k + 8, report + 1);
        ASSERT_TRUE(r.UsbWrite(report, 9, 3000 + 17 * k));
    }
    EXPECT_EQ(r.KeptImage(), img2);
    std::vector<uint8_t> verdict = r.UsbPop(3200);
    ASSERT_EQ(verdict.size(), 9u);
    EXPECT_EQ(verdict[1], 0);
    EXPECT_FALSE(r.UsbPeek(nullptr));
}

}  // namespace
