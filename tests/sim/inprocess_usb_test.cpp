// The reader over the HID link with the in-process backend: every answer and fault, on
// the virtual clock (time moves only by waits, so every duration here is exact).
#include <gtest/gtest.h>

#include <sstream>

#include "link/hid_link.h"
#include "link/serial_link.h"
#include "sim/inprocess.h"
#include "sim/options.h"
#include "sim/reader.h"
#include "sim_fixture.h"

namespace {

class SimUsb : public simtest::SimFixture {
protected:
    bool Open(uint16_t vid = 0x0801) {
        Close();
        m_h = HidLink::Open(vid, 0x0005);
        return m_h != INVALID_HID_HANDLE;
    }
    void Close() {
        if (m_h != INVALID_HID_HANDLE) HidLink::Close(m_h);
        m_h = INVALID_HID_HANDLE;
    }
    void TearDown() override { Close(); }

    // One output report: report id 0, the payload, zeros to the output length.
    int Send(const std::vector<uint8_t>& payload) {
        const uint16_t length = HidLink::OutputReportLength(m_h);
        std::vector<uint8_t> report(std::max<size_t>(length, 9), 0);
        std::copy(payload.begin(), payload.end(), report.begin() + 1);
        if (length) report.resize(length);
        uint32_t written = 0;
        return HidLink::WriteReport(m_h, report.data(), static_cast<uint32_t>(report.size()),
                                    &written, HID_NO_TIMEOUT);
    }
    // One input report's payload (bytes 1 to 8), or false on failure / time-out.
    bool Receive(std::vector<uint8_t>* payload, uint32_t timeoutMs) {
        const uint16_t length = HidLink::InputReportLength(m_h);
        std::vector<uint8_t> report(length ? length : 9, 0);
        uint32_t got = 0;
        if (!HidLink::ReadReport(m_h, report.data(), static_cast<uint32_t>(report.size()), &got,
                                 timeoutMs)) {
            return false;
        }
        payload->assign(report.begin() + 1, report.begin() + std::min<size_t>(9, report.size()));
        return true;
    }
    // The set-configuration command as the download sends it: 8 reports, 17 ms apart.
    int SendImage(const protocol::ConfigWriteImage& image) {
        for (int k = 0; k < 8; ++k) {
            if (!Send(std::vector<uint8_t>(image.begin() + 8 * k, image.begin() + 8 * k + 8))) {
                return k + 1;
            }
            m_sim.Clock().SleepMs(17);
        }
        return 0;
    }
    std::vector<uint8_t> ReadAll(uint32_t timeoutMs) {
        std::vector<uint8_t> all, payload;
        while (Receive(&payload, timeoutMs)) all.insert(all.end(), payload.begin(), payload.end());
        return all;
    }

    static protocol::ConfigWriteImage SomeImage() {
        protocol::ReaderConfig c = protocol::ParseConfigWriteImage(sim::UsbFactoryImage());
        c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_BEEP_OFF;
        c.prefix = {'P', 'R'};
        c.usbSpeed = 2;
        c.trackStart = {1, 2, 3};
        return protocol::MakeConfigWriteImage(c);
    }
    static std::string Hex(const uint8_t* p, size_t n) { return sim::HexBytes(p, n); }

    HidHandle m_h = INVALID_HID_HANDLE;
};

TEST_F(SimUsb, OneReaderUnder0801And0005WithNineByteReports) {
    EXPECT_EQ(HidLink::Open(0x0802, 0x0005), INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::Open(0x0801, 0x0006), INVALID_HID_HANDLE);
    ASSERT_TRUE(Open());
    EXPECT_EQ(HidLink::InputReportLength(m_h), 9);
    EXPECT_EQ(HidLink::OutputReportLength(m_h), 9);
    const auto list = zarn::DescribeHidInterfaces();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].openable);
    EXPECT_EQ(list[0].vendorId, 0x0801);
}

TEST_F(SimUsb, SetConfigurationIsAcceptedKeptAndLogged) {
    ASSERT_TRUE(Open());
    const protocol::ConfigWriteImage image = SomeImage();
    const uint32_t start = Now();
    ASSERT_EQ(SendImage(image), 0);
    std::vector<uint8_t> verdict;
    ASSERT_TRUE(Receive(&verdict, 1000));
    EXPECT_EQ(Now() - start, 136u);  // the verdict was ready long before the pauses ended
    EXPECT_EQ(verdict, std::vector<uint8_t>(8, 0));
    EXPECT_EQ(SimOut("config"), "sim config " + Hex(image.data(), 64) + "\n");
    const protocol::ConfigReadImage rimg = sim::ReaderReadImage(image);
    EXPECT_EQ(SimOut("readimage"), "sim readimage " + Hex(rimg.data(), 56) + "\n");

    std::string expected;
    for (int k = 0; k < 8; ++k) {
        std::vector<uint8_t> report(9, 0);
        std::copy(image.begin() + 8 * k, image.begin() + 8 * k + 8, report.begin() + 1);
        expected += "sim rx usb " + Hex(report.data(), 9) + "\n";
    }
    EXPECT_EQ(SimOut("log"), expected);
    EXPECT_EQ(SimOut("log"), "");  // forgotten once printed
}

TEST_F(SimUsb, BadChecksumAndRejectModeRefuseAndKeepTheOldConfiguration) {
    ASSERT_TRUE(Open());
    const std::string before = SimOut("config");
    protocol::ConfigWriteImage bad = SomeImage();
    bad[16] ^= 0x01;
    ASSERT_EQ(SendImage(bad), 0);
    std::vector<uint8_t> verdict;
    ASSERT_TRUE(Receive(&verdict, 1000));
    EXPECT_EQ(verdict[0], sim::VERDICT_BAD_CHECKSUM);
    EXPECT_EQ(SimOut("config"), before);

    Sim("mode reject");
    ASSERT_EQ(SendImage(SomeImage()), 0);
    ASSERT_TRUE(Receive(&verdict, 1000));
    EXPECT_NE(verdict[0], 0);
    EXPECT_EQ(SimOut("config"), before);

    Sim("mode normal");
    ASSERT_EQ(SendImage(SomeImage()), 0);
    ASSERT_TRUE(Receive(&verdict, 1000));
    EXPECT_EQ(verdict[0], 0);
    EXPECT_NE(SimOut("config"), before);
}

TEST_F(SimUsb, GetConfigAnswersSevenReportsOfTheReadImageThenNothing) {
    ASSERT_TRUE(Open());
    ASSERT_EQ(SendImage(SomeImage()), 0);
    Close();  // the unread verdict goes with the handle
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Send({protocol::CMD_GET_CONFIG}));
    const uint32_t start = Now();
    std::vector<uint8_t> image, payload;
    for (int k = 0; k < 7; ++k) {
        ASSERT_TRUE(Receive(&payload, 350)) << "report " << k + 1;
        image.insert(image.end(), payload.begin(), payload.end());
        m_sim.Clock().SleepMs(17);
    }
    EXPECT_EQ(Now() - start, 1u + 7u * 17u);  // ready 1 ms after the request, then waiting
    const protocol::ConfigReadImage expected = sim::ReaderReadImage(SomeImage());
    EXPECT_EQ(image, std::vector<uint8_t>(expected.begin(), expected.end()));
    const uint32_t before = Now();
    EXPECT_FALSE(Receive(&payload, 350));
    EXPECT_EQ(Now() - before, 350u);
}

TEST_F(SimUsb, VersionIsOneReportEndedByZero) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_EQ(payload, (std::vector<uint8_t>{'V', '2', '.', '1', '0', 0, 0, 0}));
    EXPECT_FALSE(Receive(&payload, 350));
    // A text of eight or more characters fills the payload and is cut there.
    Sim("version ABCDEFGHIJ");
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_EQ(std::string(payload.begin(), payload.end()), "ABCDEFGH");
    // Unknown requests go unanswered.
    ASSERT_TRUE(Send({'Z'}));
    EXPECT_FALSE(Receive(&payload, 350));
}

TEST_F(SimUsb, ReadCardSendsNonZeroCardBytesThenFallsSilent) {
    ASSERT_TRUE(Open());
    Sim("card ABC|1234567890|");
    ASSERT_TRUE(Send({protocol::CMD_READ_CARD}));
    const std::vector<uint8_t> all = ReadAll(500);
    std::string data;
    for (uint8_t b : all) {
        if (b) data += static_cast<char>(b);
    }
    EXPECT_EQ(data, "%ABC?\r\n;1234567890?\r\n");
    EXPECT_EQ(all.size(), 24u);  // 22 bytes in three reports, the last padded with zeros
    // A blank card: nothing at all.
    Sim("card ||");
    ASSERT_TRUE(Send({protocol::CMD_READ_CARD}));
    const uint32_t before = Now();
    EXPECT_TRUE(ReadAll(500).empty());
    EXPECT_EQ(Now() - before, 500u);
}

TEST_F(SimUsb, SilentReaderTakesReportsButAnswersNothing) {
    Sim("mode silent");
    ASSERT_TRUE(Open());
    const std::string before = SimOut("config");
    ASSERT_EQ(SendImage(SomeImage()), 0);
    std::vector<uint8_t> payload;
    uint32_t t = Now();
    EXPECT_FALSE(Receive(&payload, 1000));
    EXPECT_EQ(Now() - t, 1000u);
    EXPECT_EQ(SimOut("config"), before);
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    EXPECT_FALSE(Receive(&payload, 350));
    EXPECT_NE(SimOut("log"), "");
}

TEST_F(SimUsb, PartialAnswersOnlyTheFirstReports) {
    Sim("mode partial 6");
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Send({protocol::CMD_GET_CONFIG}));
    std::vector<uint8_t> payload;
    for (int k = 0; k < 6; ++k) ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_FALSE(Receive(&payload, 350));
    Sim("mode partial 0");
    ASSERT_EQ(SendImage(SomeImage()), 0);
    EXPECT_FALSE(Receive(&payload, 1000));
}

TEST_F(SimUsb, SlowReaderIsLateByTheGivenTimePerReport) {
    Sim("mode slow 300");
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Send({protocol::CMD_GET_CONFIG}));
    std::vector<uint8_t> payload;
    for (int k = 0; k < 7; ++k) {
        const uint32_t t = Now();
        ASSERT_TRUE(Receive(&payload, 350));
        EXPECT_EQ(Now() - t, 301u);
    }
    Sim("mode slow 400");
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    const uint32_t t = Now();
    EXPECT_FALSE(Receive(&payload, 350));
    EXPECT_EQ(Now() - t, 350u);
    // Still coming: a longer wait gets it.
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_EQ(payload[0], 'V');
}

TEST_F(SimUsb, ExtraReportsFollowTheAnswerAndGoWithTheHandle) {
    Sim("mode extra 2");
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_EQ(payload[0], 'V');
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_EQ(payload, std::vector<uint8_t>(8, sim::EXTRA_BYTE));
    Close();
    ASSERT_TRUE(Open());
    Sim("mode normal");
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_EQ(payload[0], 'V');
}

TEST_F(SimUsb, GarbageAnswersHaveTheRightShapeAndWrongBytes) {
    Sim("mode garbage");
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Send({protocol::CMD_GET_CONFIG}));
    const std::vector<uint8_t> all = ReadAll(350);
    ASSERT_EQ(all.size(), 56u);
    const protocol::ConfigReadImage good = sim::ReaderReadImage(sim::UsbFactoryImage());
    EXPECT_NE(all, std::vector<uint8_t>(good.begin(), good.end()));
    for (uint8_t b : all) EXPECT_NE(b, 0);
    ASSERT_EQ(SendImage(SomeImage()), 0);
    std::vector<uint8_t> verdict;
    ASSERT_TRUE(Receive(&verdict, 1000));
    EXPECT_NE(verdict[0], 0);
}

TEST_F(SimUsb, ReaderVanishesInTheMiddleOfAnExchange) {
    Sim("mode vanish 4");
    ASSERT_TRUE(Open());
    const uint32_t t = Now();
    EXPECT_EQ(SendImage(SomeImage()), 5);  // reports 1-4 went out, report 5 failed
    EXPECT_EQ(Now() - t, 4u * 17u);        // the failure itself took no time
    std::vector<uint8_t> payload;
    EXPECT_FALSE(Receive(&payload, 1000));
    EXPECT_EQ(Now() - t, 4u * 17u);
    EXPECT_EQ(HidLink::InputReportLength(m_h), 0);
    Close();
    EXPECT_FALSE(Open());
    EXPECT_TRUE(zarn::DescribeHidInterfaces().empty());
    // Plugged in again, it behaves.
    Sim("usb attach");
    ASSERT_TRUE(Open());
    ASSERT_EQ(SendImage(SomeImage()), 0);
    ASSERT_TRUE(Receive(&payload, 1000));

    // Vanishing while answering: the request and two reports, then gone.
    Sim("mode vanish 3");
    ASSERT_TRUE(Send({protocol::CMD_GET_CONFIG}));
    ASSERT_TRUE(Receive(&payload, 350));
    ASSERT_TRUE(Receive(&payload, 350));
    EXPECT_FALSE(Receive(&payload, 350));
}

TEST_F(SimUsb, ReportLengthsOnDemand) {
    Sim("reports 65 9");
    ASSERT_TRUE(Open());
    EXPECT_EQ(HidLink::InputReportLength(m_h), 65);
    EXPECT_EQ(HidLink::OutputReportLength(m_h), 9);
    ASSERT_TRUE(Send({protocol::CMD_GET_VERSION}));
    std::vector<uint8_t> report(65, 0xEE);
    uint32_t got = 0;
    // A buffer shorter than the input report is refused.
    EXPECT_FALSE(HidLink::ReadReport(m_h, report.data(), 9, &got, 350));
    ASSERT_TRUE(HidLink::ReadReport(m_h, report.data(), 65, &got, 350));
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(report[1], 'V');
    EXPECT_EQ(std::vector<uint8_t>(report.begin() + 9, report.end()), std::vector<uint8_t>(56, 0));
    // Output reports must have the output report length.
    uint8_t big[65] = {0, 'V'};
    EXPECT_FALSE(HidLink::WriteReport(m_h, big, 65, &got, HID_NO_TIMEOUT));

    Sim("reports 9 65");
    EXPECT_EQ(HidLink::OutputReportLength(m_h), 65);
    EXPECT_TRUE(HidLink::WriteReport(m_h, big, 65, &got, HID_NO_TIMEOUT));
    SimOut("log");
    Sim("reports 5 5");
    EXPECT_EQ(HidLink::InputReportLength(m_h), 5);
    Sim("reports 0 0");
    EXPECT_EQ(HidLink::InputReportLength(m_h), 0);
    EXPECT_EQ(HidLink::OutputReportLength(m_h), 0);
}

TEST_F(SimUsb, AttachDetachAndVendorIds) {
    Sim("usb detach");
    EXPECT_FALSE(Open());
    Sim("usb attach 0802");
    EXPECT_FALSE(Open(0x0801));
    ASSERT_TRUE(Open(0x0802));
    // A handle from before a detach fails at once.
    Sim("usb detach");
    const uint32_t t = Now();
    EXPECT_FALSE(Send({protocol::CMD_GET_VERSION}));
    std::vector<uint8_t> payload;
    EXPECT_FALSE(Receive(&payload, 350));
    EXPECT_EQ(Now(), t);
    Sim("usb attach");
    EXPECT_TRUE(Open(0x0801));
}

TEST_F(SimUsb, AutomaticOutputSendsASwipeToAnOpenHandle) {
    ASSERT_TRUE(Open());
    Sim("card |42|");
    Sim("swipe");
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Receive(&payload, 500));
    EXPECT_EQ(payload, (std::vector<uint8_t>{';', '4', '2', '?', '\r', '\n', 0, 0}));
}

TEST(SimCommands, RefusesWhatItDoesNotKnow) {
    sim::InProcessSimulation s;
    std::ostringstream out;
    std::string error;
    for (const char* bad :
         {"", "fly", "mode", "mode fast", "mode partial", "mode partial x", "mode slow -1",
          "mode silent 3", "reports 9", "reports a b", "serial attach 0", "serial attach 201",
          "usb attach xyz", "send 1g", "send 123", "card a|b|c|d", "config now"}) {
        error.clear();
        EXPECT_FALSE(s.Command(bad, out, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(out.str(), "");
}

TEST(SimCommands, RestoresTheClockAndBackendsItReplaced) {
    zarn::Clock* clock = &zarn::GetClock();
    zarn::HidBackend* hid = &zarn::GetHidBackend();
    zarn::SerialBackend* serial = &zarn::GetSerialBackend();
    {
        sim::InProcessSimulation s;
        EXPECT_EQ(&zarn::GetClock(), &s.Clock());
        EXPECT_NE(&zarn::GetHidBackend(), hid);
        EXPECT_NE(&zarn::GetSerialBackend(), serial);
    }
    EXPECT_EQ(&zarn::GetClock(), clock);
    EXPECT_EQ(&zarn::GetHidBackend(), hid);
    EXPECT_EQ(&zarn::GetSerialBackend(), serial);
}

}  // namespace
