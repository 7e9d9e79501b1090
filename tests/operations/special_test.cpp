// "Get Version" and "Read Card" through the real dialog, against the simulated reader and,
// for exact report contents, a scripted HID device.
#include "fixture.h"
#include "protocol/special_exchange.h"
#include "sim/reader.h"

namespace optest {
namespace {

using SpecialTest = OperationsTest;

TEST_F(SpecialTest, CardDataToHex) {
    EXPECT_EQ(protocol::CardDataToHex("abc"), "616263");
    EXPECT_EQ(protocol::CardDataToHex("\x05"), "05");
    EXPECT_EQ(protocol::CardDataToHex(""), "");
    EXPECT_EQ(protocol::CardDataToHex(std::string("\x00\x80\xFF\x7F", 4)), "0080FF7F");
}

TEST_F(SpecialTest, UsbVersionTexts) {
    struct Case {
        std::vector<uint8_t> payload;
        std::string text;
    } cases[] = {
        {{0x56, 0x32, 0x2E, 0x31, 0x30, 0, 0, 0}, "V2.10"},
        {{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}, "ABCDEFGH"},
        {{0, 'A', 'B'}, ""},
        {{0x41, 0x42, 0x00, 0x44, 0x45, 0x46, 0x47, 0x48}, "AB"},
    };
    ScriptedHid hid(m_sim.Clock());
    hid.inputLength = 65;  // bytes after payload byte 8 are noise and never shown
    for (const Case& c : cases) {
        hid.replies = {c.payload};
        hid.written.clear();
        m_dlg.ShowStatus("before");
        m_dlg.UserClick(IDC_GET_VERSION);
        EXPECT_EQ(TestBox(), c.text);
        ASSERT_EQ(hid.written.size(), 1u);
        EXPECT_EQ(Hex(hid.written[0]), "00 56 00 00 00 00 00 00 00");
    }
    EXPECT_EQ(hid.opened, hid.closed);
}

TEST_F(SpecialTest, UsbVersionFromTheReaderAndItsFailures) {
    struct Case {
        std::vector<std::string> sim;
        std::string text;
        uint32_t minMs;
        bool failure;
    } cases[] = {
        {{"version V2.10"}, "V2.10", 0, false},
        {{"version ZARN60-LONG"}, "ZARN60-L", 0, false},
        {{"usb detach", "usb attach 0802", "version V9"}, "V9", 0, false},
        {{"usb detach"}, "Open USB Device Failure!!!", 0, true},
        {{"reports 9 8"}, "USB WRITE ERROR1", 0, true},
        {{"reports 0 0"}, "USB WRITE ERROR1", 0, true},
        {{"mode silent"}, "ZARN60 NO RESPONSE1", protocol::VERSION_REPLY_TIMEOUT_MS, true},
    };
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);
    m_dlg.UserClick(IDC_USB);  // the poll keeps running: USB operations leave it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim.back());
        FreshReaderWith(c.sim);
        g_strReceived = "kept";
        m_dlg.EnableControl(IDC_DOWNLOAD, false);
        const uint32_t start = Now();
        m_dlg.UserClick(IDC_GET_VERSION);
        EXPECT_EQ(TestBox(), c.text);
        EXPECT_GE(Now() - start, c.minMs);
        EXPECT_EQ(g_strReceived, "kept");
        EXPECT_EQ(m_dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);
        // Failures enable the write buttons; a shown version leaves them alone.
        EXPECT_EQ(m_dlg.IsEnabled(IDC_DOWNLOAD), c.failure);
    }
}

// Over serial the handler only asks; the poll shows the answer one byte per tick.
TEST_F(SpecialTest, SerialVersionAndCardComeThroughThePoll) {
    Sim("version V2.10");
    UseSerial("1");
    m_dlg.ShowStatus("before");
    g_strReceived = "old";
    m_dlg.UserClick(IDC_GET_VERSION);
    EXPECT_EQ(Log().serial, "56");
    EXPECT_EQ(g_strReceived, "");
    EXPECT_EQ(TestBox(), "before");
    EXPECT_EQ(m_dlg.TimerPeriod(), POLL_PERIOD_MS);
    std::vector<std::string> shown;
    for (int i = 0; i < 8; ++i) {
        Ticks(1);
        if (shown.empty() || shown.back() != TestBox()) shown.push_back(TestBox());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"V", "V2", "V2.", "V2.1", "V2.10"}));

    Sim("card B1234^X^99||");
    m_dlg.UserClick(IDC_CLEAR);
    m_dlg.UserClick(IDC_READ_CARD);
    EXPECT_EQ(Log().serial, "41");
    Ticks(60);
    const std::string expected = sim::FormatCardData(
        protocol::ParseConfigWriteImage([&] {
            protocol::ConfigWriteImage w{};
            std::string hex = SimHex("config");
            for (size_t i = 0; i < w.size(); ++i)
                w[i] = static_cast<uint8_t>(std::stoi(hex.substr(i * 3, 2), nullptr, 16));
            return w;
        }()),
        sim::ParseCardTracks("B1234^X^99||"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(TestBox(), expected);
}

TEST_F(SpecialTest, SerialCommandFailuresAndSilence) {
    struct Case {
        std::string com, sim, text;
        int timer;
        std::string sent;
    } cases[] = {
        {"", "normal", "please setup Serial number", 0, ""},
        {"abc", "normal", "Port Number Error", 0, ""},
        {"0", "normal", "Port Number Error", 0, ""},
        {"201", "normal", "Port Number Error", 0, ""},
        {"1", "silent", "before", POLL_PERIOD_MS, "xx"},  // no answer: no text
    };
    UseSerial("1");
    for (const Case& c : cases) {
        for (int id : {IDC_GET_VERSION, IDC_READ_CARD}) {
            SCOPED_TRACE(c.com + " " + c.sim + " " + std::to_string(id));
            Sim("mode " + c.sim);
            m_dlg.UserType(IDC_COM, "1");
            m_dlg.UserClick(IDC_OPEN);
            m_dlg.UserType(IDC_COM, c.com);
            m_dlg.ShowStatus("before");
            Log();
            m_dlg.UserClick(id);
            Ticks(20);
            EXPECT_EQ(TestBox(), c.text);
            EXPECT_EQ(m_dlg.TimerPeriod(), static_cast<uint32_t>(c.timer));
            EXPECT_EQ(Log().serial.empty(), c.sent.empty());
        }
    }
}

TEST_F(SpecialTest, UsbCardDataAsHex) {
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> reports;
        std::string text;
    } cases[] = {
        {"two reports with filler",
         {{0x25, 0x42, 0x31, 0x05, 0x7F, 0x80, 0xFF, 0x00}, {0x0A}},
         "254231057F80FF0A"},
        {"zero reports add nothing", {{0, 0, 0}, {'a', 0, 'b'}, {}}, "6162"},
        {"only zero bytes", {{}, {}}, ""},
        {"silence", {}, ""},
    };
    ScriptedHid hid(m_sim.Clock());
    hid.inputLength = 33;  // the noise after byte 8 must never show
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hid.replies.assign(c.reports.begin(), c.reports.end());
        hid.written.clear();
        hid.reads = 0;
        m_dlg.ShowStatus("before");
        m_host.testBoxTexts.clear();
        const uint32_t start = Now();
        m_dlg.UserClick(IDC_READ_CARD);
        EXPECT_EQ(TestBox(), c.text);
        ASSERT_EQ(hid.written.size(), 1u);
        EXPECT_EQ(Hex(hid.written[0]), "00 41 00 00 00 00 00 00 00");
        EXPECT_EQ(hid.reads, static_cast<int>(c.reports.size()) + 1);
        // Each report is followed by 20 ms, and the last read waits out its 500 ms.
        EXPECT_GE(Now() - start, c.reports.size() * protocol::CARD_REPORT_PAUSE_MS +
                                     protocol::CARD_REPORT_TIMEOUT_MS);
        // The wait text was on screen (the host was told) before the first read.
        EXPECT_EQ(m_host.testBoxTexts,
                  (std::vector<std::string>{"", "Please wait for reading data!", c.text}));
    }
    EXPECT_EQ(hid.opened, hid.closed);
}

TEST_F(SpecialTest, UsbCardReaderThatNeverFallsSilent) {
    ScriptedHid hid(m_sim.Clock());
    hid.replies = {{'1', '2'}};
    hid.endless = true;
    m_dlg.UserClick(IDC_READ_CARD);
    EXPECT_EQ(hid.reads, protocol::CARD_MAX_REPORTS);
    EXPECT_EQ(TestBox(), "Please wait for reading data!");
    EXPECT_EQ(hid.opened, 1);
    EXPECT_EQ(hid.closed, 1);
}

TEST_F(SpecialTest, UsbCardFromTheReaderAndItsFailures) {
    Sim("card B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|");
    m_dlg.UserClick(IDC_READ_CARD);
    const std::string expected = protocol::CardDataToHex(sim::FormatCardData(
        testsupport::StartupConfig(),
        sim::ParseCardTracks("B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|")));
    ASSERT_GT(expected.size(), 16u);
    EXPECT_EQ(TestBox(), expected);

    struct Case {
        std::string sim, text;
    } cases[] = {{"usb detach", "Open USB Device Failure!!!"},
                 {"reports 9 8", "USB WRITE ERROR1"},
                 {"reports 0 0", "USB WRITE ERROR1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim);
        Sim("usb attach");
        Sim("reports 9 9");
        Sim(c.sim);
        m_dlg.EnableControl(IDC_FACTORY, false);
        m_dlg.UserClick(IDC_READ_CARD);
        EXPECT_EQ(TestBox(), c.text);
        EXPECT_TRUE(m_dlg.IsEnabled(IDC_FACTORY));
    }
}

}  // namespace
}  // namespace optest
