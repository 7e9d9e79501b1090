// Reading a configuration: "Upload Setting from Device" and ShowReaderConfig, through the
// real dialog against the simulated reader.
#include <functional>

#include "fixture.h"
#include "app/operations/config_dialog.h"
#include "protocol/read_exchange.h"

namespace optest {
namespace {

protocol::ConfigReadImage ImageOf(const protocol::ReaderConfig& cfg) {
    return protocol::MakeConfigReadImage(cfg, {}, 0);
}

// The record the reader starts with, as a read image shows it.
protocol::ReaderConfig Factory() {
    protocol::ReaderConfig c{};
    c.trackEnable = {1, 1, 1};
    c.startSentinel = {'%', ';', '+'};
    c.endSentinel = {'?', '?', '?'};
    c.trackTerminator = {protocol::TERM_CRLF, protocol::TERM_CRLF, protocol::TERM_CRLF};
    return c;
}

using ReadTest = OperationsTest;

// The option controls the read image decides, with the value they should show.
struct Expect {
    int id;
    std::string text;  // "-" = do not look at the text
    int checked;       // -1 = do not look
    int enabled;       // -1 = do not look
};

void CheckControls(const CZARN60TOOLDlg& dlg, const std::vector<Expect>& expected) {
    for (const Expect& e : expected) {
        SCOPED_TRACE("control " + std::to_string(e.id));
        if (e.text != "-") {
            EXPECT_EQ(dlg.GetText(e.id), e.text);
        }
        if (e.checked >= 0) {
            EXPECT_EQ(dlg.IsChecked(e.id), e.checked == 1);
        }
        if (e.enabled >= 0) {
            EXPECT_EQ(dlg.IsEnabled(e.id), e.enabled == 1);
        }
    }
}

TEST_F(ReadTest, ShowReaderConfigCases) {
    struct Case {
        const char* name;
        std::function<void(protocol::ReaderConfig&)> record;  // changes from the factory record
        std::function<void(CZARN60TOOLDlg&)> before;
        std::vector<Expect> expected;
    } cases[] = {
        {"factory record",
         [](protocol::ReaderConfig&) {},
         [](CZARN60TOOLDlg&) {},
         {{1018, "-", 0, -1}, {1019, "-", 0, -1}, {1000, "%", -1, 1}, {1001, ";", -1, 1},
          {1002, "+", -1, 1}, {1003, "?", -1, 1}, {1004, "?", -1, 1}, {1005, "?", -1, 1},
          {1006, "-", 1, -1}, {1007, "-", 1, -1}, {1008, "-", 1, -1}, {1009, "-", 1, 1},
          {1010, "-", 1, 1},  {1011, "-", 1, 1},  {1042, "-", 1, 1},  {1044, "-", 1, 1},
          {1046, "-", 1, 1},  {1043, "-", 0, 1},  {1045, "-", 0, 1},  {1047, "-", 0, 1},
          {1012, "-", 0, 0},  {1048, "-", 0, 0},  {1049, "-", 0, 0},  {1056, "-", 1, -1},
          {1057, "-", 0, -1}, {1021, "-", 0, -1}, {1022, "-", 0, -1}, {1023, "", -1, -1},
          {1024, "", -1, -1}, {1036, "-", 1, -1}, {1037, "-", 0, -1}, {1033, "-", 1, -1},
          {1034, "-", 0, -1}, {1035, "", -1, 0},  {1069, "", -1, -1}, {1071, "", -1, -1},
          {1072, "", -1, -1}, {1063, "", -1, -1}, {1064, "", -1, -1}, {1065, "", -1, -1}}},
        {"track 1 decides the start sentinel row",
         [](protocol::ReaderConfig& c) {
             c.startSentinel = {0, ';', '+'};
         },
         [](CZARN60TOOLDlg&) {},
         {{1018, "-", 1, -1},
          {1000, "", -1, 0},
          {1001, "", -1, 0},
          {1002, "", -1, 0},
          {1019, "-", 0, -1},
          {1003, "?", -1, 1}}},
        {"end sentinels off, a shown row keeps a track's 0",
         [](protocol::ReaderConfig& c) {
             c.endSentinel = {0, '?', '?'};
             c.startSentinel = {'%', 0, 0xE9};
         },
         [](CZARN60TOOLDlg&) {},
         {{1019, "-", 1, -1},
          {1003, "", -1, 0},
          {1005, "", -1, 0},
          {1001, "", -1, 1},
          {1002, "\xE9", -1, 1}}},
        {"packet CR LF with no track terminators",
         [](protocol::ReaderConfig& c) {
             c.packetTerminator = protocol::TERM_CRLF;
             c.trackTerminator = {0, 0, 0};
         },
         [](CZARN60TOOLDlg&) {},
         {{1012, "-", 1, 1},
          {1048, "-", 1, 1},
          {1049, "-", 0, 1},
          {1009, "-", 0, 0},
          {1011, "-", 0, 0},
          {1042, "-", 0, 0},
          {1047, "-", 0, 0}}},
        {"packet CR, then a track terminator wins the rows",
         [](protocol::ReaderConfig& c) {
             c.packetTerminator = protocol::TERM_CR;
             c.trackTerminator = {0, protocol::TERM_CR, 0};
         },
         [](CZARN60TOOLDlg&) {},
         {{1012, "-", 0, 0},
          {1048, "-", 0, 0},
          {1049, "-", 0, 0},
          {1009, "-", 0, 1},
          {1010, "-", 1, 1},
          {1045, "-", 1, 1},
          {1044, "-", 0, 1},
          {1011, "-", 0, 1}}},
        {"track terminator 0 keeps the check box",
         [](protocol::ReaderConfig& c) {
             c.trackTerminator = {protocol::TERM_CRLF, 0, protocol::TERM_CRLF};
         },
         [](CZARN60TOOLDlg&) {},
         {{1010, "-", 1, 1}, {1044, "-", 0, 1}, {1045, "-", 0, 1}}},
        {"unknown terminator codes leave the controls",
         [](protocol::ReaderConfig& c) {
             c.packetTerminator = 2;
             c.trackTerminator = {0xFF, 4, protocol::TERM_CR};
         },
         [](CZARN60TOOLDlg& d) { d.UserClick(IDC_TRACK1_CR); },
         {{1009, "-", 1, 1}, {1043, "-", 1, 1}, {1042, "-", 0, 1}, {1047, "-", 1, 1}}},
        {"track enable other than 1 is off",
         [](protocol::ReaderConfig& c) {
             c.trackEnable = {2, 0, 1};
         },
         [](CZARN60TOOLDlg&) {},
         {{1006, "-", 0, -1}, {1007, "-", 0, -1}, {1008, "-", 1, -1}}},
        {"framing with AB and C",
         [](protocol::ReaderConfig& c) {
             c.prefix = {protocol::STX, 'A', 'B'};
             c.suffix = {'C', protocol::ETX};
             c.optionFlags = 0x03;
         },
         [](CZARN60TOOLDlg&) {},
         {{1057, "-", 1, -1},
          {1056, "-", 0, -1},
          {1021, "-", 1, -1},
          {1023, "AB", -1, -1},
          {1022, "-", 1, -1},
          {1024, "C", -1, -1}}},
        {"framing alone",
         [](protocol::ReaderConfig& c) {
             c.prefix = {protocol::STX};
             c.suffix = {protocol::ETX};
             c.optionFlags = 0x03;
         },
         [](CZARN60TOOLDlg&) {},
         {{1057, "-", 1, -1},
          {1021, "-", 1, -1},
          {1023, "", -1, -1},
          {1022, "-", 1, -1},
          {1024, "", -1, -1}}},
        {"text ends at the first NUL",
         [](protocol::ReaderConfig& c) {
             c.prefix = {'A', 0, 'B'};
             c.optionFlags = 0x01;
         },
         [](CZARN60TOOLDlg&) {},
         {{1023, "A", -1, -1}, {1056, "-", 1, -1}}},
        {"a 15-letter suffix under framing shows 14",
         [](protocol::ReaderConfig& c) {
             c.prefix = {protocol::STX};
             for (int i = 0; i < 15; ++i) c.suffix[i] = static_cast<uint8_t>('a' + i);
             c.optionFlags = 0x02;
         },
         [](CZARN60TOOLDlg&) {},
         {{1024, "abcdefghijklmn", -1, -1},
          {1022, "-", 1, -1},
          {1021, "-", 0, -1},
          {1023, "", -1, -1}}},
        {"a 15-letter suffix without framing shows 15",
         [](protocol::ReaderConfig& c) {
             for (int i = 0; i < 15; ++i) c.suffix[i] = static_cast<uint8_t>('a' + i);
             c.optionFlags = 0x02;
         },
         [](CZARN60TOOLDlg&) {},
         {{1024, "abcdefghijklmno", -1, -1}, {1022, "-", 1, -1}}},
        {"trim 0",
         [](protocol::ReaderConfig& c) { c.optionFlags = 0x08; },
         [](CZARN60TOOLDlg&) {},
         {{1034, "-", 1, -1}, {1033, "-", 0, -1}, {1035, "0", -1, 1}}},
        {"trim 200 reads as a signed byte",
         [](protocol::ReaderConfig& c) {
             c.optionFlags = 0x08;
             c.trim3KeepSpaces = 200;
         },
         [](CZARN60TOOLDlg&) {},
         {{1035, "-56", -1, 1}}},
        {"positions",
         [](protocol::ReaderConfig& c) {
             c.trackLength = {37, 0, 0};
             c.trackStart = {0, 128, 5};
             c.trackLength[1] = 128;
         },
         [](CZARN60TOOLDlg&) {},
         {{1069, "", -1, -1},
          {1063, "37", -1, -1},
          {1071, "-128", -1, -1},
          {1064, "", -1, -1},
          {1072, "5", -1, -1},
          {1065, "5", -1, -1}}},
        {"a number wider than its edit is shown in full",
         [](protocol::ReaderConfig& c) {
             c.trackLength = {100, 0, 0};
         },
         [](CZARN60TOOLDlg&) {},
         {{1063, "100", -1, -1}}},
        {"flags above 15: low bits, and auto output from 0x80",
         [](protocol::ReaderConfig& c) { c.optionFlags = 0x84; },
         [](CZARN60TOOLDlg&) {},
         {{1037, "-", 1, -1}, {1036, "-", 0, -1}, {1025, "-", 1, -1}, {1021, "-", 0, -1}}},
        {"flags above 15 without 0x80 clear auto output off",
         [](protocol::ReaderConfig& c) { c.optionFlags = 0x10 | protocol::OPT_TRACK3_TRIM; },
         [](CZARN60TOOLDlg& d) { d.UserClick(IDC_DISABLE_AUTO_OUTPUT); },
         {{1025, "-", 0, -1}, {1034, "-", 1, -1}}},
        {"flags up to 15 never touch auto output",
         [](protocol::ReaderConfig& c) { c.optionFlags = 0x0F; },
         [](CZARN60TOOLDlg& d) { d.UserClick(IDC_DISABLE_AUTO_OUTPUT); },
         {{1025, "-", 1, -1}, {1037, "-", 1, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CZARN60TOOLDlg dlg;
        dlg.Create();
        c.before(dlg);
        protocol::ReaderConfig record = Factory();
        c.record(record);
        operations::ShowReaderConfig(dlg, ImageOf(record));
        CheckControls(dlg, c.expected);
    }
}

// Each of the sixteen option values sets every control of the option table by its bits.
TEST_F(ReadTest, EveryOptionValueSetsEveryOptionControl) {
    protocol::ReaderConfig record = Factory();
    record.prefix = {'P'};
    record.suffix = {'S'};
    record.trim3KeepSpaces = 3;
    for (int flags = 0; flags < 16; ++flags) {
        SCOPED_TRACE(flags);
        record.optionFlags = static_cast<uint8_t>(flags);
        // Start from the opposite of what the bits ask for.
        for (int id : {IDC_PREFIX_CHECK, IDC_SUFFIX_CHECK}) m_dlg.SetCheck(id, true);
        operations::ShowReaderConfig(m_dlg, ImageOf(record));
        const bool p = flags & 1, s = flags & 2, beepOff = flags & 4, trim = flags & 8;
        CheckControls(m_dlg, {{1021, "-", p, -1},
                              {1023, p ? "P" : "", -1, -1},
                              {1022, "-", s, -1},
                              {1024, s ? "S" : "", -1, -1},
                              {1036, "-", !beepOff, -1},
                              {1037, "-", beepOff, -1},
                              {1033, "-", !trim, -1},
                              {1034, "-", trim, -1},
                              {1035, trim ? "3" : "", -1, trim}});
    }
}

// No interlock handler runs: the members stay, only the data exchange's limits come back.
TEST_F(ReadTest, ShowingRunsNoClickHandler) {
    m_dlg.UserClick(IDC_STX_YES);
    m_dlg.UserClick(IDC_SUFFIX_CHECK);
    ASSERT_EQ(m_dlg.GetControl(IDC_SUFFIX).limit, 14);
    protocol::ReaderConfig record = Factory();
    record.startSentinel = {0, 0, 0};
    record.endSentinel = {0, 0, 0};
    operations::ShowReaderConfig(m_dlg, ImageOf(record));
    EXPECT_EQ(m_dlg.GetControl(IDC_SUFFIX).limit, 15) << "the data exchange resets it";
    EXPECT_TRUE(m_dlg.IsChecked(IDC_DISABLE_SS));
    EXPECT_EQ(m_dlg.m_strTrack1SS, "%") << "the Disable SS handler would have emptied it";
    EXPECT_EQ(m_dlg.m_strTrack1ES, "?");
    EXPECT_EQ(m_dlg.GetText(IDC_HIDDEN_VALUE), "1");
}

// ---- Upload --------------------------------------------------------------------------

TEST_F(ReadTest, UsbUploadShowsTheReaderAndStopsThePoll) {
    // Configure the reader from another dialog, then upload it into this one.
    {
        CZARN60TOOLDlg other;
        other.Create();
        other.UserClick(IDC_DISABLE_ES);
        other.UserClick(IDC_BEEP_OFF);
        other.UserClick(IDC_STX_YES);
        other.UserClick(IDC_PREFIX_CHECK);
        other.UserType(IDC_PREFIX, "ID:");
        other.UserType(IDC_TRACK2_START, "3");
        other.UserType(IDC_TRACK2_END, "40");
        other.UserClick(IDC_DOWNLOAD);
        ASSERT_EQ(other.GetText(IDC_TEST_BOX), "Setup ok");
    }
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);
    ASSERT_EQ(m_dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);
    m_dlg.UserClick(IDC_USB);
    g_strReceived = "old";
    Log();
    m_dlg.UserClick(IDC_UPLOAD);
    EXPECT_EQ(TestBox(), "Get Setting Ok");
    EXPECT_EQ(m_dlg.TimerPeriod(), 0u);
    EXPECT_EQ(g_strReceived, "");
    EXPECT_EQ(Log().usb, std::vector<std::string>{"00 53 00 00 00 00 00 00 00"});
    CheckControls(m_dlg, {{1019, "-", 1, -1},
                          {1004, "", -1, 0},
                          {1037, "-", 1, -1},
                          {1057, "-", 1, -1},
                          {1021, "-", 1, -1},
                          {1023, "ID:", -1, -1},
                          {1022, "-", 1, -1},  // framing sets the suffix flag
                          {1024, "", -1, -1},
                          {1071, "3", -1, -1},
                          {1064, "40", -1, -1}});

    // Twice in a row gives the same dialog.
    const auto once = Snapshot(m_dlg, true);
    m_dlg.UserClick(IDC_UPLOAD);
    EXPECT_EQ(Differences(once, Snapshot(m_dlg, true)), std::vector<int>{});
}

TEST_F(ReadTest, UsbUploadFailuresChangeNoOptionControl) {
    struct Case {
        std::vector<std::string> sim;
        std::string text;
        uint32_t minMs;
    } cases[] = {
        {{"usb detach"}, "Open USB Device Failure!!!", 0},
        {{"reports 9 8"}, "USB WRITE ERROR1", 0},
        {{"reports 8 9"}, "USB WRITE ERROR1", 0},
        {{"reports 0 0"}, "USB WRITE ERROR1", 0},
        {{"mode vanish 1"}, "ZARN60 NO RESPONSE1", 0},
        {{"mode silent"}, "ZARN60 NO RESPONSE1", protocol::READ_REPORT_TIMEOUT_MS},
        {{"mode partial 6"}, "ZARN60 NO RESPONSE1", protocol::READ_REPORT_TIMEOUT_MS + 6 * 17},
    };
    m_dlg.UserClick(IDC_BEEP_OFF);
    m_dlg.UserType(IDC_TRACK1_END, "9");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim.back());
        FreshReaderWith(c.sim);
        m_dlg.EnableControl(IDC_DOWNLOAD, false);
        m_dlg.EnableControl(IDC_FACTORY, false);
        const auto before = Snapshot(m_dlg);
        const uint32_t start = Now();
        m_dlg.UserClick(IDC_UPLOAD);
        EXPECT_EQ(TestBox(), c.text);
        EXPECT_GE(Now() - start, c.minMs);
        EXPECT_EQ(Differences(before, Snapshot(m_dlg)),
                  (std::vector<int>{IDC_DOWNLOAD, IDC_FACTORY}));
        EXPECT_TRUE(m_dlg.IsEnabled(IDC_DOWNLOAD));
        EXPECT_TRUE(m_dlg.IsEnabled(IDC_FACTORY));
    }
}

// Long input reports, a short output report, and the second vendor id.
TEST_F(ReadTest, UsbUploadWithOtherReportLengthsAndVendor) {
    Sim("reports 65 9");
    Sim("usb detach");
    Sim("usb attach 0802");
    m_dlg.UserClick(IDC_UPLOAD);
    EXPECT_EQ(TestBox(), "Get Setting Ok");
    EXPECT_EQ(Log().usb, std::vector<std::string>{"00 53 00 00 00 00 00 00 00"});
    CheckControls(m_dlg, {{1000, "%", -1, 1}, {1042, "-", 1, 1}});
}

TEST_F(ReadTest, SerialUploadRestartsThePollAtTenMs) {
    Sim("mode extra 3");
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);
    m_dlg.UserClick(IDC_BEEP_OFF);
    Log();
    m_dlg.UserClick(IDC_UPLOAD);
    EXPECT_EQ(TestBox(), "Get Setting Ok");
    EXPECT_EQ(Log().serial, "53");
    EXPECT_EQ(m_dlg.TimerPeriod(), POLL_PERIOD_MS);
    EXPECT_TRUE(m_dlg.IsChecked(IDC_BEEP_ON));
    // Bytes after the 56th come through the poll and replace the text.
    Ticks(10);
    EXPECT_EQ(TestBox(), "XXX");
}

TEST_F(ReadTest, SerialUploadFailures) {
    struct Case {
        std::string com, sim, text;
        uint32_t ms;  // virtual time the exchange waited
    } cases[] = {
        {"", "normal", "please setup Serial number", 0},
        {"abc", "normal", "Port Number Error", 0},
        {"3", "normal", "Port Number Error", 0},
        {"1", "partial 55", "Get Configuration Error", protocol::READ_SERIAL_BYTE_TIMEOUT_MS},
        {"1", "partial 40", "Get Configuration Error", protocol::READ_SERIAL_BYTE_TIMEOUT_MS},
        {"1", "silent", "Get Configuration Error", protocol::READ_SERIAL_BYTE_TIMEOUT_MS},
    };
    UseSerial("1");
    m_dlg.UserClick(IDC_BEEP_OFF);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.com + " " + c.sim);
        Sim("mode " + c.sim);
        m_dlg.UserType(IDC_COM, "1");
        m_dlg.UserClick(IDC_OPEN);
        m_dlg.UserType(IDC_COM, c.com);
        Log();
        const auto before = Snapshot(m_dlg);
        const uint32_t start = Now();
        m_dlg.UserClick(IDC_UPLOAD);
        EXPECT_EQ(TestBox(), c.text);
        EXPECT_EQ(m_dlg.TimerPeriod(), 0u);
        EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{});
        EXPECT_EQ(Log().serial, c.ms ? "53" : "");
        EXPECT_GE(Now() - start, c.ms);
        EXPECT_LT(Now() - start, c.ms + 100);
    }
}

// A shown end position wider than its edit: the download shows the length message once
// and goes on with the member's earlier text.
TEST_F(ReadTest, AnUploadedWideEndPositionThenADownload) {
    protocol::ReaderConfig record = Factory();
    record.trackLength = {100, 12, 0};
    operations::ShowReaderConfig(m_dlg, ImageOf(record));
    ASSERT_EQ(m_dlg.GetText(IDC_TRACK1_END), "100");
    m_dlg.UserClick(IDC_DOWNLOAD);
    EXPECT_EQ(m_host.boxes.size(), 1u);
    EXPECT_EQ(TestBox(), "Setup ok");
    const std::string image = SimHex("config");
    EXPECT_EQ(image.substr(56 * 3, 8), "00 00 00") << "track lengths from the earlier members";
}

}  // namespace
}  // namespace optest
