#include "protocol/reader_config.h"

#include <gtest/gtest.h>

#include <vector>

#include "../support/startup_config.h"

namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
    return std::vector<uint8_t>(p, p + n);
}

using testsupport::StartupConfig;

// A record with a different value in every field, so that a field written to the wrong
// offset shows.
protocol::ReaderConfig DistinctConfig() {
    protocol::ReaderConfig c;
    c.trackEnable = {1, 0, 1};
    c.startSentinel = {0x21, 0x22, 0x23};
    c.endSentinel = {0x24, 0x25, 0x26};
    c.packetTerminator = protocol::TERM_CR;
    c.trackTerminator = {protocol::TERM_CRLF, protocol::TERM_NONE, protocol::TERM_CR};
    c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX | protocol::OPT_BEEP_OFF |
                    protocol::OPT_TRACK3_TRIM | protocol::OPT_AUTO_OUTPUT_OFF;
    for (size_t i = 0; i < protocol::CONFIG_TEXT_FIELD_SIZE; ++i) {
        c.prefix[i] = static_cast<uint8_t>(0x40 + i);
        c.suffix[i] = static_cast<uint8_t>(0x60 + i);
    }
    c.trim3KeepSpaces = 0xFE;
    c.trackLength = {0x31, 0x32, 0x33};
    c.trackStart = {0x34, 0x35, 0x36};
    return c;
}

TEST(WriteImage, AllZeroRecord) {
    protocol::ConfigWriteImage img = protocol::MakeConfigWriteImage(protocol::ReaderConfig{});
    std::vector<uint8_t> expected(64, 0);
    expected[0] = 0x1B;
    expected[1] = 0x01;
    expected[16] = 0x1A;
    EXPECT_EQ(Bytes(img.data(), 64), expected);
}

TEST(WriteImage, HeaderChecksumOfFactoryHeaders) {
    const uint8_t usb[16] = {0x1B, 0x01, 0x01, 0x01, 0x01, 0x25, 0x3B, 0x2B,
                             0x3F, 0x3F, 0x3F, 0x00, 0x03, 0x03, 0x03, 0x06};
    EXPECT_EQ(protocol::ConfigHeaderChecksum(usb), 0x14);
    uint8_t serial[16];
    std::copy(usb, usb + 16, serial);
    serial[15] = 0x07;
    EXPECT_EQ(protocol::ConfigHeaderChecksum(serial), 0x15);
}

TEST(WriteImage, StartupRecordGivesTheUsbFactoryImage) {
    protocol::ConfigWriteImage img = protocol::MakeConfigWriteImage(StartupConfig());
    const std::vector<uint8_t> header = {0x1B, 0x01, 0x01, 0x01, 0x01, 0x25, 0x3B, 0x2B,
                                         0x3F, 0x3F, 0x3F, 0x00, 0x03, 0x03, 0x03, 0x06,
                                         0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(img.data(), 24), header);
    EXPECT_EQ(Bytes(img.data() + 24, 40), std::vector<uint8_t>(40, 0));
}

TEST(WriteImage, EveryFieldAtItsOffset) {
    protocol::ConfigWriteImage img = protocol::MakeConfigWriteImage(DistinctConfig());
    EXPECT_EQ(Bytes(img.data(), 16), (std::vector<uint8_t>{0x1B, 0x01, 1, 0, 1, 0x21, 0x22, 0x23,
                                                           0x24, 0x25, 0x26, 1, 3, 0, 1, 0}));
    EXPECT_EQ(img[16], protocol::ConfigHeaderChecksum(img.data()));
    EXPECT_EQ(Bytes(img.data() + 17, 7), std::vector<uint8_t>(7, 0));
    EXPECT_EQ(img[24], 0x8F);
    EXPECT_EQ(img[25], 0x40);
    EXPECT_EQ(img[39], 0x4E);
    EXPECT_EQ(img[40], 0x60);
    EXPECT_EQ(img[54], 0x6E);
    EXPECT_EQ(img[55], 0xFE);
    EXPECT_EQ(Bytes(img.data() + 56, 8),
              (std::vector<uint8_t>{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0, 0}));
}

TEST(WriteImage, ChecksumCoversTheHeaderOnly) {
    protocol::ReaderConfig c = StartupConfig();
    const uint8_t before = protocol::MakeConfigWriteImage(c)[16];
    c.usbHidModeOff = 0;
    c.optionFlags = protocol::OPT_BEEP_OFF;
    c.prefix[0] = 'A';
    c.trackStart = {9, 9, 9};
    EXPECT_EQ(protocol::MakeConfigWriteImage(c)[16], before);
    c.usbSpeed = 7;
    EXPECT_EQ(protocol::MakeConfigWriteImage(c)[16], 0x15);
}

TEST(WriteImage, FramingFieldsAreCopiedAsFilled) {
    // Framing on, user prefix and suffix off.
    protocol::ReaderConfig c;
    c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
    c.prefix[0] = protocol::STX;
    c.suffix[0] = protocol::ETX;
    protocol::ConfigWriteImage img = protocol::MakeConfigWriteImage(c);
    EXPECT_EQ(img[24], 0x03);
    std::vector<uint8_t> prefix(15, 0), suffix(15, 0);
    prefix[0] = 0x02;
    suffix[0] = 0x03;
    EXPECT_EQ(Bytes(img.data() + 25, 15), prefix);
    EXPECT_EQ(Bytes(img.data() + 40, 15), suffix);

    // Framing on with AB and XY.
    protocol::ReaderConfig d;
    d.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
    d.prefix = {protocol::STX, 'A', 'B'};
    d.suffix = {'X', 'Y', protocol::ETX};
    img = protocol::MakeConfigWriteImage(d);
    prefix = std::vector<uint8_t>(15, 0);
    suffix = std::vector<uint8_t>(15, 0);
    prefix[0] = 0x02, prefix[1] = 0x41, prefix[2] = 0x42;
    suffix[0] = 0x58, suffix[1] = 0x59, suffix[2] = 0x03;
    EXPECT_EQ(Bytes(img.data() + 25, 15), prefix);
    EXPECT_EQ(Bytes(img.data() + 40, 15), suffix);

    // Nothing is added when the record has no framing.
    protocol::ReaderConfig e;
    e.prefix = {'A', 'B'};
    img = protocol::MakeConfigWriteImage(e);
    EXPECT_EQ(img[24], 0);
    EXPECT_EQ(img[25], 'A');
    EXPECT_EQ(img[40], 0);
}

TEST(ReadImage, EveryFieldFromItsOffset) {
    protocol::ConfigReadImage img{};
    for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<uint8_t>(0x80 + i);
    protocol::ReaderConfig c = protocol::ParseConfigReadImage(img);
    EXPECT_EQ(c.trackEnable, (std::array<uint8_t, 3>{0x80, 0x81, 0x82}));
    EXPECT_EQ(c.startSentinel, (std::array<uint8_t, 3>{0x83, 0x84, 0x85}));
    EXPECT_EQ(c.endSentinel, (std::array<uint8_t, 3>{0x86, 0x87, 0x88}));
    EXPECT_EQ(c.packetTerminator, 0x89);
    EXPECT_EQ(c.trackTerminator, (std::array<uint8_t, 3>{0x8A, 0x8B, 0x8C}));
    EXPECT_EQ(c.optionFlags, 0x91);
    EXPECT_EQ(c.prefix[0], 0x92);
    EXPECT_EQ(c.prefix[14], 0xA0);
    EXPECT_EQ(c.suffix[0], 0xA1);
    EXPECT_EQ(c.suffix[14], 0xAF);
    EXPECT_EQ(c.trim3KeepSpaces, 0xB0);
    EXPECT_EQ(c.trackLength, (std::array<uint8_t, 3>{0xB1, 0xB2, 0xB3}));
    EXPECT_EQ(c.trackStart, (std::array<uint8_t, 3>{0xB4, 0xB5, 0xB6}));
    // Bytes 13-16 and 55 carry nothing for the system; speed and HID mode are not there.
    EXPECT_EQ(c.usbSpeed, 0);
    EXPECT_EQ(c.usbHidModeOff, 0);
    protocol::ConfigReadImage other = img;
    other[13] = other[14] = other[15] = other[16] = other[55] = 0;
    EXPECT_EQ(protocol::ParseConfigReadImage(other), c);
}

TEST(ReadImage, RoundTripKeepsEverySharedField) {
    protocol::ReaderConfig c = DistinctConfig();
    c.usbSpeed = 5;
    c.usbHidModeOff = 1;
    protocol::ConfigReadImage img =
        protocol::MakeConfigReadImage(c, {0xAA, 0xBB, 0xCC, 0xDD}, 0xEE);
    EXPECT_EQ(Bytes(img.data() + 13, 4), (std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_EQ(img[55], 0xEE);

    protocol::ReaderConfig back = protocol::ParseConfigReadImage(img);
    protocol::ReaderConfig expected = c;
    expected.usbSpeed = 0;
    expected.usbHidModeOff = 0;
    EXPECT_EQ(back, expected);

    // Made into a write image again: the body and header fields equal those of the image read,
    // speed and HID mode byte come out 0.
    protocol::ConfigWriteImage w = protocol::MakeConfigWriteImage(back);
    protocol::ConfigWriteImage orig = protocol::MakeConfigWriteImage(c);
    EXPECT_EQ(Bytes(w.data() + 24, 40), Bytes(orig.data() + 24, 40));
    EXPECT_EQ(Bytes(w.data(), 15), Bytes(orig.data(), 15));
    EXPECT_EQ(w[15], 0);
    EXPECT_EQ(w[17], 0);
    EXPECT_EQ(protocol::ParseConfigWriteImage(orig), c);
}

}  // namespace
