// The reader over the serial link with the in-process backend (COM1), on the virtual
// clock: every answer and fault, with exact durations.
#include <gtest/gtest.h>

#include <sstream>

#include "link/hid_link.h"
#include "link/serial_link.h"
#include "sim/inprocess.h"
#include "sim/options.h"
#include "sim/reader.h"
#include "sim_fixture.h"

namespace {

class SimSerial : public simtest::SimFixture {
protected:
    void SetUp() override { ASSERT_EQ(SerialLink::Open(1, 9600, 8, 0), 0); }

    void Write(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) ASSERT_EQ(SerialLink::WriteByte(1, b), 0);
    }
    // Bytes until the first read that gets none in time (at most `max`).
    std::vector<uint8_t> ReadUpTo(size_t max, uint32_t timeoutMs) {
        std::vector<uint8_t> got;
        uint8_t b = 0;
        while (got.size() < max && SerialLink::ReadByte(1, &b, timeoutMs) == 0) got.push_back(b);
        return got;
    }

    static protocol::ConfigWriteImage SomeImage() {
        protocol::ReaderConfig c = protocol::ParseConfigWriteImage(sim::UsbFactoryImage());
        c.optionFlags = protocol::OPT_SUFFIX;
        c.suffix = {'#'};
        c.trackEnable = {0, 1, 0};
        return protocol::MakeConfigWriteImage(c);
    }
};

TEST_F(SimSerial, OnlyCom1HasAReader) {
    EXPECT_EQ(SerialLink::Open(2, 9600, 8, 0), -1);
    const auto ports = zarn::GetSerialBackend().ListPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].number, 1);
}

TEST_F(SimSerial, SetConfigurationGetsAnAckAndIsKept) {
    const protocol::ConfigWriteImage image = SomeImage();
    Write(std::vector<uint8_t>(image.begin(), image.end()));
    const uint32_t t = Now();
    const std::vector<uint8_t> reply = ReadUpTo(8, 850);
    EXPECT_EQ(reply, std::vector<uint8_t>{sim::SERIAL_CONFIG_ACCEPTED});
    EXPECT_EQ(Now() - t, 2u + 850u);  // one byte of line time, then one full time-out
    EXPECT_EQ(SimOut("config"), "sim config " + sim::HexBytes(image.data(), 64) + "\n");
    EXPECT_EQ(SimOut("log"), "sim rx serial " + sim::HexBytes(image.data(), 64) + "\n");
}

TEST_F(SimSerial, RefusedConfigurationsGetANak) {
    const std::string before = SimOut("config");
    protocol::ConfigWriteImage bad = SomeImage();
    bad[16] ^= 0x40;
    Write(std::vector<uint8_t>(bad.begin(), bad.end()));
    EXPECT_EQ(ReadUpTo(8, 450), std::vector<uint8_t>{sim::SERIAL_CONFIG_REFUSED});
    Sim("mode reject");
    const protocol::ConfigWriteImage good = SomeImage();
    Write(std::vector<uint8_t>(good.begin(), good.end()));
    EXPECT_EQ(ReadUpTo(8, 450), std::vector<uint8_t>{sim::SERIAL_CONFIG_REFUSED});
    EXPECT_EQ(SimOut("config"), before);
}

TEST_F(SimSerial, EscapeWithoutSetConfigurationIsNoFrame) {
    // ESC then 'V': the version is answered, and the next 63 bytes are no frame either.
    Write({protocol::CMD_ESC, protocol::CMD_GET_VERSION});
    const std::vector<uint8_t> v = ReadUpTo(100, 850);
    EXPECT_EQ(std::string(v.begin(), v.end()), "V2.10");
}

TEST_F(SimSerial, GetConfigAnswers56BytesAtLineSpeed) {
    Write({protocol::CMD_GET_CONFIG});
    const uint32_t t = Now();
    std::vector<uint8_t> got;
    uint8_t b = 0;
    for (int i = 0; i < 56; ++i) {
        ASSERT_EQ(SerialLink::ReadByte(1, &b, 850), 0) << i;
        got.push_back(b);
    }
    EXPECT_EQ(Now() - t, 59u);  // 56 bytes at 1.042 ms
    const protocol::ConfigReadImage expected = sim::ReaderReadImage(sim::UsbFactoryImage());
    EXPECT_EQ(got, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(SerialLink::ReadByte(1, &b, 850), -1);
    EXPECT_EQ(Now() - t, 59u + 850u);
}

TEST_F(SimSerial, VersionAndCardDataAsPlainBytes) {
    Sim("version ZR 3.1");
    Write({protocol::CMD_GET_VERSION});
    std::vector<uint8_t> got = ReadUpTo(100, 10);
    EXPECT_EQ(std::string(got.begin(), got.end()), "ZR 3.1");
    Sim("card ABC||  9  9  ");
    Write({protocol::CMD_READ_CARD});
    got = ReadUpTo(100, 10);
    EXPECT_EQ(std::string(got.begin(), got.end()), "%ABC?\r\n+  9  9  ?\r\n");
}

TEST_F(SimSerial, SwipeIsSentByItselfOnlyWithAutomaticOutputOn) {
    Sim("card |5555|");
    Sim("swipe");
    std::vector<uint8_t> got = ReadUpTo(100, 10);
    EXPECT_EQ(std::string(got.begin(), got.end()), ";5555?\r\n");

    protocol::ReaderConfig c = protocol::ParseConfigWriteImage(sim::UsbFactoryImage());
    c.optionFlags = protocol::OPT_AUTO_OUTPUT_OFF;
    const protocol::ConfigWriteImage off = protocol::MakeConfigWriteImage(c);
    Write(std::vector<uint8_t>(off.begin(), off.end()));
    EXPECT_EQ(ReadUpTo(8, 850).size(), 1u);
    Sim("swipe");
    EXPECT_TRUE(ReadUpTo(100, 500).empty());
    // The card is still there to be asked for.
    Write({protocol::CMD_READ_CARD});
    got = ReadUpTo(100, 10);
    EXPECT_EQ(std::string(got.begin(), got.end()), ";5555?\r\n");
}

TEST_F(SimSerial, SendPutsBytesOnTheLineAsTheyAre) {
    Sim("send 00 ff 0d 41");
    EXPECT_EQ(ReadUpTo(100, 10), (std::vector<uint8_t>{0x00, 0xFF, 0x0D, 0x41}));
    EXPECT_EQ(SimOut("log"), "");
}

TEST_F(SimSerial, SilentReaderLetsEveryReadTimeOut) {
    Sim("mode silent");
    const protocol::ConfigWriteImage image = SomeImage();
    const std::string before = SimOut("config");
    Write(std::vector<uint8_t>(image.begin(), image.end()));
    Write({protocol::CMD_GET_CONFIG});
    const uint32_t t = Now();
    EXPECT_TRUE(ReadUpTo(8, 850).empty());
    EXPECT_EQ(Now() - t, 850u);
    EXPECT_EQ(SimOut("config"), before);
    Sim("swipe");
    EXPECT_TRUE(ReadUpTo(8, 100).empty());
}

TEST_F(SimSerial, PartialSlowExtraAndGarbage) {
    Sim("mode partial 40");
    Write({protocol::CMD_GET_CONFIG});
    EXPECT_EQ(ReadUpTo(56, 850).size(), 40u);

    Sim("mode slow 900");
    Write({protocol::CMD_GET_VERSION});
    uint32_t t = Now();
    EXPECT_TRUE(ReadUpTo(56, 850).empty());
    EXPECT_EQ(Now() - t, 850u);
    std::vector<uint8_t> late = ReadUpTo(56, 1000);  // each byte 901 ms after the previous
    EXPECT_EQ(std::string(late.begin(), late.end()), "V2.10");

    // Ten bytes to a configuration: 8 are read by the exchange, 2 are left for the poll.
    Sim("mode extra 9");
    const protocol::ConfigWriteImage image = SomeImage();
    Write(std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(ReadUpTo(8, 850).size(), 8u);
    EXPECT_EQ(ReadUpTo(8, 1), (std::vector<uint8_t>{sim::EXTRA_BYTE, sim::EXTRA_BYTE}));

    Sim("mode garbage");
    Write({protocol::CMD_GET_CONFIG});
    const std::vector<uint8_t> got = ReadUpTo(100, 850);
    ASSERT_EQ(got.size(), 56u);
    const protocol::ConfigReadImage good = sim::ReaderReadImage(image);
    EXPECT_NE(got, std::vector<uint8_t>(good.begin(), good.end()));
}

TEST_F(SimSerial, VanishedReaderFailsAtOnceAndCanBeAttachedAgain) {
    Sim("mode vanish 10");
    Write({protocol::CMD_GET_CONFIG});
    EXPECT_EQ(ReadUpTo(56, 850).size(), 9u);
    const uint32_t t = Now();
    uint8_t b = 0;
    EXPECT_EQ(SerialLink::ReadByte(1, &b, 850), -1);
    EXPECT_EQ(SerialLink::WriteByte(1, 'V'), -1);
    EXPECT_EQ(Now(), t);
    EXPECT_EQ(SerialLink::Open(1, 9600, 8, 0), -1);
    Sim("serial attach 4");
    EXPECT_EQ(SerialLink::Open(1, 9600, 8, 0), -1);
    ASSERT_EQ(SerialLink::Open(4, 9600, 8, 0), 0);
    ASSERT_EQ(SerialLink::WriteByte(4, 'V'), 0);
    EXPECT_EQ(SerialLink::ReadByte(4, &b, 850), 0);
    EXPECT_EQ(b, 'V');
    Sim("serial detach");
    EXPECT_EQ(SerialLink::ReadByte(4, &b, 850), -1);
    EXPECT_EQ(SerialLink::Open(4, 9600, 8, 0), -1);
}

TEST_F(SimSerial, OtherLineSettingsGetNothingThrough) {
    ASSERT_EQ(SerialLink::Open(1, 19200, 8, 0), 0);
    Write({protocol::CMD_GET_VERSION});
    EXPECT_TRUE(ReadUpTo(8, 100).empty());
    Sim("send 41 42");
    EXPECT_TRUE(ReadUpTo(8, 100).empty());
    ASSERT_EQ(SerialLink::Open(1, 9600, 8, 0), 0);
    Write({protocol::CMD_GET_VERSION});
    EXPECT_EQ(ReadUpTo(8, 100).size(), 5u);
}

TEST_F(SimSerial, OpenDiscardsWhatAlreadyArrived) {
    Write({protocol::CMD_GET_VERSION});
    m_sim.Clock().SleepMs(3);  // "V2" is in, ".10" still on the line
    ASSERT_EQ(SerialLink::Open(1, 9600, 8, 0), 0);
    const std::vector<uint8_t> got = ReadUpTo(8, 100);
    EXPECT_EQ(std::string(got.begin(), got.end()), ".10");
}

TEST(SimLog, UsbReportsThenAllSerialBytes) {
    sim::InProcessSimulation s;
    ASSERT_EQ(SerialLink::Open(1, 9600, 8, 0), 0);
    ASSERT_EQ(SerialLink::WriteByte(1, 'S'), 0);
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    uint8_t report[9] = {0, 'V'};
    uint32_t n = 0;
    ASSERT_TRUE(HidLink::WriteReport(h, report, 9, &n, HID_NO_TIMEOUT));
    HidLink::Close(h);
    ASSERT_EQ(SerialLink::WriteByte(1, 0x1B), 0);
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(s.Command("log", out, &error));
    EXPECT_EQ(out.str(),
              "sim rx usb 00 56 00 00 00 00 00 00 00\n"
              "sim rx serial 53 1b\n");
}

}  // namespace
