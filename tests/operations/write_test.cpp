// Writing a configuration: "Download Setting to Device" and "Back to Default Factory
// Setting" through the real dialog, against the simulated reader.
#include <climits>
#include <functional>
#include <variant>

#include "fixture.h"
#include "app/operations/config_dialog.h"
#include "protocol/write_exchange.h"

namespace optest {
namespace {

const char* const USB_FACTORY_HEX =
    "1b 01 01 01 01 25 3b 2b 3f 3f 3f 00 03 03 03 06 14 01 00 00 00 00 00 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
const char* const SERIAL_FACTORY_HEX =
    "1b 01 01 01 01 25 3b 2b 3f 3f 3f 00 03 03 03 07 15 01 00 00 00 00 00 00 "
    "00 00 00 00 00 00 00 78 30 30 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "78 30 30 00 00 00 00 00 00 00 00 00 00 00 00 00";

// The eight output reports an image travels in: report id 0 and 8 image bytes each.
std::vector<std::string> AsReports(const std::string& imageHex) {
    std::vector<std::string> reports;
    for (size_t k = 0; k < 8; ++k) reports.push_back("00 " + imageHex.substr(k * 24, 23));
    return reports;
}

using WriteTest = OperationsTest;

TEST_F(WriteTest, FactoryImagesByteForByte) {
    EXPECT_EQ(Hex(protocol::FactoryWriteImageHid()), USB_FACTORY_HEX);
    EXPECT_EQ(Hex(protocol::FactoryWriteImageSerial()), SERIAL_FACTORY_HEX);
}

TEST_F(WriteTest, TheDialogAsItStartsDownloadsTheUsbFactoryImage) {
    const uint32_t start = Now();
    m_dlg.UserClick(IDC_DOWNLOAD);
    EXPECT_EQ(TestBox(), "Setup ok");
    EXPECT_EQ(Log().usb, AsReports(USB_FACTORY_HEX));
    EXPECT_EQ(SimHex("config"), USB_FACTORY_HEX);
    EXPECT_GE(Now() - start, 8 * protocol::REPORT_PAUSE_MS);
    EXPECT_TRUE(m_host.boxes.empty());
}

// Every text of both columns over USB, from the reader's side of things.
TEST_F(WriteTest, UsbOutcomeTextsOfBothOperations) {
    struct Case {
        std::vector<std::string> sim;
        std::string download, factory;
        size_t reportsSent;  // by the factory reset
    } cases[] = {
        {{}, "Setup ok", "Setup ok", 8},
        {{"usb detach"}, "Open USB Device Failure!!!", "Open USB Device Failure!!!", 0},
        {{"usb detach", "usb attach 0802"}, "Setup ok", "Setup ok", 8},
        // The reader vanishes after N reports: report N+1 fails (none: it is not found).
        {{"mode vanish 0"}, "Open USB Device Failure!!!", "Open USB Device Failure!!!", 0},
        {{"mode vanish 1"}, "USB WRITE ERROR2", "USB WRITE ERROR2 !!!", 1},
        {{"mode vanish 2"}, "USB WRITE ERROR 3", "USB WRITE ERROR3 !!!", 2},
        {{"mode vanish 3"}, "USB WRITE ERROR 3", "USB WRITE ERROR 3", 3},
        {{"mode vanish 7"}, "USB WRITE ERROR 3", "USB WRITE ERROR 3", 7},
        {{"mode vanish 8"}, "ZARN60 NO RESPONSE3", "Setup ok", 8},
        {{"mode silent"}, "ZARN60 NO RESPONSE3", "Setup ok", 8},
        {{"mode reject"}, "Setup Error", "Setup ok", 8},
        {{"reports 9 8"}, "USB WRITE ERROR1", "USB WRITE ERROR1 !!!", 0},
        {{"reports 0 0"}, "USB WRITE ERROR1", "USB WRITE ERROR1 !!!", 0},
        {{"reports 8 9"}, "USB WRITE ERROR1", "Setup ok", 8},
        {{"reports 65 65"}, "Setup ok", "Setup ok", 8},
    };
    for (const Case& c : cases) {
        for (bool factory : {false, true}) {
            SCOPED_TRACE((c.sim.empty() ? "normal" : c.sim.back()) +
                         (factory ? " / factory" : " / download"));
            FreshReaderWith(c.sim);
            Log();
            m_dlg.UserClick(factory ? IDC_FACTORY : IDC_DOWNLOAD);
            EXPECT_EQ(TestBox(), factory ? c.factory : c.download);
            EXPECT_TRUE(m_dlg.IsEnabled(IDC_DOWNLOAD));
            EXPECT_TRUE(m_dlg.IsEnabled(IDC_FACTORY));
            if (factory) {
                EXPECT_EQ(Log().usb.size(), c.reportsSent);
            }
        }
    }
}

TEST_F(WriteTest, LongReportsArePaddedWithZeros) {
    Sim("reports 65 65");
    m_dlg.UserClick(IDC_DOWNLOAD);
    const SimLog log = Log();
    ASSERT_EQ(log.usb.size(), 8u);
    const std::string zeros56 = [] {
        std::string s;
        for (int i = 0; i < 56; ++i) s += " 00";
        return s;
    }();
    for (size_t k = 0; k < 8; ++k) EXPECT_EQ(log.usb[k], AsReports(USB_FACTORY_HEX)[k] + zeros56);
}

// The verdict byte alone decides; the other reply bytes play no part.
TEST_F(WriteTest, VerdictByteDecides) {
    ScriptedHid hid(m_sim.Clock());
    hid.replies = {{0x00, 0xFF, 0xFF}, {0x01}, {0xFF, 0x00}};
    for (const char* expected : {"Setup ok", "Setup Error", "Setup Error"}) {
        m_dlg.UserClick(IDC_DOWNLOAD);
        EXPECT_EQ(TestBox(), expected);
    }
    EXPECT_EQ(hid.opened, 3);
    EXPECT_EQ(hid.closed, 3);
    // The fifth write fails: four reports went out, the sixth never did.
    hid.written.clear();
    hid.failWrite = 5;
    m_dlg.UserClick(IDC_DOWNLOAD);
    EXPECT_EQ(TestBox(), "USB WRITE ERROR 3");
    EXPECT_EQ(hid.written.size(), 5u);
    EXPECT_EQ(hid.closed, 4);
    // A failing first report.
    hid.failWrite = 1;
    for (int id : {IDC_DOWNLOAD, IDC_FACTORY}) {
        hid.written.clear();
        m_dlg.UserClick(id);
        EXPECT_EQ(hid.written.size(), 1u);
    }
    EXPECT_EQ(TestBox(), "USB WRITE ERROR1 !!!");
    EXPECT_EQ(hid.opened, hid.closed);
}

TEST_F(WriteTest, SerialDownloadAndFactoryReset) {
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);
    Log();
    uint32_t start = Now();
    m_dlg.UserClick(IDC_DOWNLOAD);
    EXPECT_EQ(TestBox(), "Setup ok");
    // The dialog in serial mode has speed 7; otherwise the start-up image.
    std::string expected = USB_FACTORY_HEX;
    expected.replace(15 * 3, 5, "07 15");
    EXPECT_EQ(Log().serial, expected);
    EXPECT_EQ(m_dlg.TimerPeriod(), POLL_PERIOD_MS);
    // One reply byte, then one full time-out of waiting for a second.
    EXPECT_GE(Now() - start, protocol::DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS);
    EXPECT_LT(Now() - start, protocol::DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS + 200);

    m_dlg.UserClick(IDC_FACTORY);
    EXPECT_EQ(TestBox(), "Setup ok");
    EXPECT_EQ(Log().serial, SERIAL_FACTORY_HEX);
    EXPECT_EQ(SimHex("config"), SERIAL_FACTORY_HEX);

    // No reader answering: the 64 bytes still go out, and one time-out later it is sent.
    Sim("mode silent");
    start = Now();
    m_dlg.UserClick(IDC_FACTORY);
    EXPECT_EQ(TestBox(), "Setup ok");
    EXPECT_GE(Now() - start, protocol::FACTORY_SERIAL_REPLY_TIMEOUT_MS);
    EXPECT_LT(Now() - start, protocol::FACTORY_SERIAL_REPLY_TIMEOUT_MS + 200);
}

TEST_F(WriteTest, SerialPortTextFailures) {
    struct Case {
        std::string com, text;
    } cases[] = {{"", "please setup Serial number"},
                 {"abc", "Port Number Error"},
                 {"0", "Port Number Error"},
                 {"201", "Port Number Error"},
                 {"7", "Port Number Error"}};
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);  // the poll runs at 50 ms
    for (const Case& c : cases) {
        for (int id : {IDC_DOWNLOAD, IDC_FACTORY}) {
            SCOPED_TRACE("COM \"" + c.com + "\" button " + std::to_string(id));
            m_dlg.UserClick(IDC_OPEN);
            m_dlg.UserType(IDC_COM, c.com);
            const auto before = Snapshot(m_dlg);
            m_dlg.UserClick(id);
            EXPECT_EQ(TestBox(), c.text);
            EXPECT_EQ(m_dlg.TimerPeriod(), 0u) << "the poll stays stopped";
            EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{});
            EXPECT_EQ(Log().serial, "") << "nothing reaches the reader";
            m_dlg.UserType(IDC_COM, "1");
        }
    }
}

// Ten reply bytes: eight are taken by the exchange, the receive poll finds the other two.
TEST_F(WriteTest, SerialReplyBytesPastEightReachTheTestBox) {
    UseSerial("1");
    Sim("mode extra 9");  // the acknowledgement and nine more
    m_dlg.UserClick(IDC_DOWNLOAD);
    EXPECT_EQ(TestBox(), "Setup ok");
    Ticks(10);
    EXPECT_EQ(g_strReceived, "XX");
    EXPECT_EQ(TestBox(), "XX");
}

TEST_F(WriteTest, SerialButtonsAreDisabledOnlyWhileThePortIsBusy) {
    UseSerial("1");
    std::vector<std::pair<bool, bool>> states;
    struct Watch : RecordingHost {
        std::vector<std::pair<bool, bool>>* states;
        void ControlChanged(int id) override {
            if (id == IDC_DOWNLOAD || id == IDC_FACTORY)
                states->push_back(
                    {dialog->IsEnabled(IDC_DOWNLOAD), dialog->IsEnabled(IDC_FACTORY)});
        }
    } watch;
    watch.states = &states;
    watch.dialog = &m_dlg;
    m_dlg.SetHost(&watch);
    m_dlg.UserClick(IDC_DOWNLOAD);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), std::make_pair(false, true));  // 1013 goes first
    EXPECT_TRUE(m_dlg.IsEnabled(IDC_DOWNLOAD));
    EXPECT_TRUE(m_dlg.IsEnabled(IDC_FACTORY));
    m_dlg.SetHost(&m_host);
}

// ---- Gathering the dialog into a record -------------------------------------------------

struct Action {
    enum { Click, Type, Slider } what;
    int id;
    std::string text;
    int pos = 0;
};
Action Click(int id) {
    return {Action::Click, id, {}};
}
Action Type(int id, std::string text) {
    return {Action::Type, id, std::move(text)};
}

TEST_F(WriteTest, CollectReaderConfigFromTheControls) {
    struct Case {
        const char* name;
        std::vector<Action> actions;
        std::function<void(protocol::ReaderConfig&)> expect;  // changes from the start-up record
    } cases[] = {
        {"start-up", {}, [](protocol::ReaderConfig&) {}},
        {"track 2 from 10 to 30",
         {Type(IDC_TRACK2_START, "10"), Type(IDC_TRACK2_END, "30")},
         [](protocol::ReaderConfig& c) {
             c.trackStart[1] = 10;
             c.trackLength[1] = 20;
         }},
        {"track 1 to 30, equal ends on 3",
         {Type(IDC_TRACK1_END, "30"), Type(IDC_TRACK3_START, "5"), Type(IDC_TRACK3_END, "5")},
         [](protocol::ReaderConfig& c) {
             c.trackLength[0] = 30;
             c.trackStart[2] = 5;
         }},
        {"track 3 end 300 wraps to 44",
         {Type(IDC_TRACK3_END, "300")},
         [](protocol::ReaderConfig& c) { c.trackLength[2] = 44; }},
        {"start texts that are not numbers give 0, leading numbers for ends",
         {Type(IDC_TRACK1_START, "1x"), Type(IDC_TRACK1_END, "7y"), Type(IDC_TRACK2_START, "-1"),
          Type(IDC_TRACK2_END, "-1"), Type(IDC_TRACK3_START, " 12"), Type(IDC_TRACK3_END, "+20")},
         [](protocol::ReaderConfig& c) {
             c.trackLength[0] = 7;
             c.trackStart[1] = 0xFF;
             c.trackStart[2] = 12;
             c.trackLength[2] = 8;
         }},
        {"trim 999 gives 255",
         {Click(IDC_TRIM_SPACES), Type(IDC_TRIM_COUNT, "999")},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_TRACK3_TRIM;
             c.trim3KeepSpaces = 255;
         }},
        {"empty trim count",
         {Click(IDC_TRIM_SPACES)},
         [](protocol::ReaderConfig& c) { c.optionFlags = protocol::OPT_TRACK3_TRIM; }},
        {"a negative trim count goes as its low 8 bits",
         {Click(IDC_TRIM_SPACES), Type(IDC_TRIM_COUNT, "-56")},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_TRACK3_TRIM;
             c.trim3KeepSpaces = 200;
         }},
        {"disable SS and ES",
         {Click(IDC_DISABLE_SS), Click(IDC_DISABLE_ES)},
         [](protocol::ReaderConfig& c) {
             c.startSentinel = c.endSentinel = {0, 0, 0};
         }},
        {"framing with prefix and suffix boxes clear",
         {Click(IDC_STX_YES)},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
             c.prefix[0] = protocol::STX;
             c.suffix[0] = protocol::ETX;
         }},
        {"framing with AB and XY",
         {Click(IDC_PREFIX_CHECK), Type(IDC_PREFIX, "AB"), Click(IDC_SUFFIX_CHECK),
          Type(IDC_SUFFIX, "XY"), Click(IDC_STX_YES)},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
             c.prefix = {protocol::STX, 'A', 'B'};
             c.suffix = {'X', 'Y', protocol::ETX};
         }},
        {"15 characters without framing fill the fields",
         {Click(IDC_PREFIX_CHECK), Type(IDC_PREFIX, "ABCDEFGHIJKLMNO"), Click(IDC_SUFFIX_CHECK),
          Type(IDC_SUFFIX, "abcdefghijklmno")},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
             for (int i = 0; i < 15; ++i) {
                 c.prefix[i] = static_cast<uint8_t>('A' + i);
                 c.suffix[i] = static_cast<uint8_t>('a' + i);
             }
         }},
        {"a 15th prefix character typed after YES is cut so STX fits",
         {Click(IDC_STX_YES), Click(IDC_PREFIX_CHECK), Type(IDC_PREFIX, "ABCDEFGHIJKLMNO")},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
             c.prefix[0] = protocol::STX;
             for (int i = 0; i < 14; ++i) c.prefix[1 + i] = static_cast<uint8_t>('A' + i);
             c.suffix[0] = protocol::ETX;
         }},
        {"checked boxes with empty texts still set their flags",
         {Click(IDC_PREFIX_CHECK), Click(IDC_SUFFIX_CHECK)},
         [](protocol::ReaderConfig& c) {
             c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX;
         }},
        {"auto output off and beep off",
         {Click(IDC_DISABLE_AUTO_OUTPUT), Click(IDC_BEEP_OFF)},
         [](protocol::ReaderConfig& c) { c.optionFlags = 0x84; }},
        {"end of packet with no radio is CR LF",
         {Click(IDC_END_TRACK1), Click(IDC_END_TRACK2), Click(IDC_END_TRACK3)},
         [](protocol::ReaderConfig& c) {
             c.trackTerminator = {0, 0, 0};
         }},
        {"end of packet CR, then track rows",
         {Click(IDC_END_TRACK1), Click(IDC_END_TRACK2), Click(IDC_END_TRACK3),
          Click(IDC_END_PACKET)},
         [](protocol::ReaderConfig& c) {
             c.trackTerminator = {0, 0, 0};
             c.packetTerminator = protocol::TERM_CR;
         }},
        {"track 2 CR, track 3 off, no track 1 output",
         {Click(IDC_TRACK2_CR), Click(IDC_END_TRACK3), Click(IDC_OUTPUT_TRACK1)},
         [](protocol::ReaderConfig& c) {
             c.trackTerminator = {protocol::TERM_CRLF, protocol::TERM_CR, protocol::TERM_NONE};
             c.trackEnable[0] = 0;
         }},
        {"speed and sentinel bytes as typed",
         {{Action::Slider, IDC_USB_SPEED, {}, 2},
          Type(IDC_TRACK2_SS, "\xE9"),
          Type(IDC_TRACK3_ES, "")},
         [](protocol::ReaderConfig& c) {
             c.usbSpeed = 2;
             c.startSentinel[1] = 0xE9;
             c.endSentinel[2] = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CZARN60TOOLDlg dlg;
        dlg.Create();
        for (const Action& a : c.actions) {
            bool done = false;
            if (a.what == Action::Click) done = dlg.UserClick(a.id);
            if (a.what == Action::Type) done = dlg.UserType(a.id, a.text);
            if (a.what == Action::Slider) done = dlg.UserSetSlider(a.id, a.pos);
            ASSERT_TRUE(done) << a.id;
        }
        protocol::ReaderConfig expected = testsupport::StartupConfig();
        c.expect(expected);
        const auto got = operations::CollectReaderConfig(dlg);
        ASSERT_TRUE(std::holds_alternative<protocol::ReaderConfig>(got));
        const protocol::ReaderConfig& cfg = std::get<protocol::ReaderConfig>(got);
        EXPECT_EQ(Hex(protocol::MakeConfigWriteImage(cfg)),
                  Hex(protocol::MakeConfigWriteImage(expected)));
    }
}

// Start texts must read as a whole number; end and trim texts take a leading one.
TEST_F(WriteTest, StartPositionTexts) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},    {"12", 12}, {" 12 ", 12},       {"-5", -5},
        {"+7", 7},  {"12x", 0}, {"x12", 0},         {"-", 0},
        {"1 2", 0}, {"0", 0},   {"99999999999", 0}, {"-2147483648", INT_MIN},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(operations::StartPositionNumber(text), value) << text;
}

TEST_F(WriteTest, TrackPositionErrorsSendNothing) {
    struct Case {
        std::vector<Action> actions;
        std::string text;
    } cases[] = {
        {{Type(IDC_TRACK1_START, "30"), Type(IDC_TRACK1_END, "10")}, "Track1 Err start end"},
        {{Type(IDC_TRACK2_START, "9"), Type(IDC_TRACK2_END, "3")}, "Track 2 Err start end"},
        {{Type(IDC_TRACK3_START, "10"), Type(IDC_TRACK3_END, "5"), Type(IDC_TRACK1_END, "4"),
          Type(IDC_TRACK2_END, "4")},
         "Track 3 Err start end"},
        // Only the first failing track is reported.
        {{Type(IDC_TRACK1_START, "5"), Type(IDC_TRACK3_START, "5")}, "Track1 Err start end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (int id : {IDC_TRACK1_START, IDC_TRACK2_START, IDC_TRACK3_START, IDC_TRACK1_END,
                       IDC_TRACK2_END, IDC_TRACK3_END})
            m_dlg.UserType(id, "");
        for (const Action& a : c.actions) m_dlg.UserType(a.id, a.text);
        m_dlg.ShowStatus("before");
        m_host.boxes.clear();
        m_dlg.UserClick(IDC_DOWNLOAD);
        ASSERT_EQ(m_host.boxes.size(), 1u);
        EXPECT_EQ(m_host.boxes[0].text, c.text);
        EXPECT_EQ(m_host.boxes[0].title, ui::Dialog::ProgramName());
        EXPECT_EQ(m_host.boxes[0].icon, ui::MsgIcon::None);
        EXPECT_EQ(TestBox(), "before");
        EXPECT_TRUE(Log().usb.empty());
    }
}

// A text longer than its limit (as an upload can leave): the length message comes once,
// the members' earlier texts go back into that edit and those after it, and the download
// goes on with them.
TEST_F(WriteTest, ATooLongEndTextShowsTheLengthMessageOnce) {
    m_dlg.UserType(IDC_TRACK1_END, "20");
    m_dlg.UserType(IDC_TRACK2_END, "5");
    m_dlg.UpdateData(true);
    m_dlg.SetText(IDC_TRACK1_END, "100");
    m_dlg.SetText(IDC_TRACK2_END, "7");
    m_dlg.SetText(IDC_TRACK1_SS, "#");
    m_dlg.UserClick(IDC_DOWNLOAD);
    ASSERT_EQ(m_host.boxes.size(), 1u);
    EXPECT_EQ(m_host.boxes[0].icon, ui::MsgIcon::Exclamation);
    EXPECT_EQ(TestBox(), "Setup ok");
    EXPECT_EQ(m_dlg.GetText(IDC_TRACK1_END), "20");
    EXPECT_EQ(m_dlg.GetText(IDC_TRACK2_END), "5");
    const protocol::ReaderConfig sent = protocol::ParseConfigReadImage([&] {
        protocol::ConfigReadImage r{};
        std::string hex = SimHex("readimage");
        for (size_t i = 0; i < r.size(); ++i) r[i] = std::stoi(hex.substr(i * 3, 2), nullptr, 16);
        return r;
    }());
    EXPECT_EQ(sent.startSentinel[0], '#') << "members before the long one take their new texts";
    EXPECT_EQ(sent.trackLength[0], 20);
    EXPECT_EQ(sent.trackLength[1], 5);
}

// ---- Factory reset ------------------------------------------------------------------------

TEST_F(WriteTest, FactoryResetOverUsbSendsTheImageAndResetsTheDialog) {
    const auto factoryState = Snapshot(m_dlg);
    // Change everything the reset puts back, and what it must leave alone.
    for (int id : {IDC_DISABLE_SS, IDC_DISABLE_ES, IDC_END_TRACK1, IDC_END_TRACK2, IDC_END_TRACK3,
                   IDC_END_PACKET, IDC_TRIM_SPACES, IDC_PREFIX_CHECK, IDC_STX_YES, IDC_SUFFIX_CHECK,
                   IDC_BEEP_OFF, IDC_DISABLE_AUTO_OUTPUT, IDC_OUTPUT_TRACK2})
        m_dlg.UserClick(id);
    m_dlg.UserType(IDC_TRIM_COUNT, "3");
    m_dlg.UserType(IDC_PREFIX, "P");
    m_dlg.UserType(IDC_SUFFIX, "S");
    m_dlg.UserType(IDC_TRACK1_START, "1");
    m_dlg.UserType(IDC_TRACK3_END, "50");
    m_dlg.UserSetSlider(IDC_USB_SPEED, 3);

    m_dlg.UserClick(IDC_FACTORY);
    EXPECT_EQ(TestBox(), "Setup ok");
    EXPECT_EQ(Log().usb, AsReports(USB_FACTORY_HEX));
    EXPECT_EQ(SimHex("config"), USB_FACTORY_HEX);
    // Back to the start-up state except what the reset leaves alone.
    std::vector<int> diff = Differences(factoryState, Snapshot(m_dlg));
    EXPECT_EQ(diff, (std::vector<int>{IDC_USB_SPEED, IDC_SUFFIX, IDC_DISABLE_AUTO_OUTPUT}));
    EXPECT_TRUE(m_dlg.IsChecked(IDC_DISABLE_AUTO_OUTPUT));
    EXPECT_EQ(m_dlg.SliderGetPos(IDC_USB_SPEED), 3);
    EXPECT_EQ(m_dlg.GetText(IDC_SUFFIX), "");
    EXPECT_EQ(m_dlg.GetControl(IDC_SUFFIX).limit, 14) << "the reset changes no limit";
}

TEST_F(WriteTest, FailedFactoryResetLeavesTheDialog) {
    m_dlg.UserClick(IDC_DISABLE_SS);
    m_dlg.UserClick(IDC_BEEP_OFF);
    Sim("usb detach");
    const auto before = Snapshot(m_dlg);
    m_dlg.UserClick(IDC_FACTORY);
    EXPECT_EQ(TestBox(), "Open USB Device Failure!!!");
    EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{});
}

TEST_F(WriteTest, FactoryResetOverUsbKeepsTheReceiveText) {
    g_strReceived = "kept";
    m_dlg.UserClick(IDC_FACTORY);
    EXPECT_EQ(g_strReceived, "kept");
    m_dlg.UserClick(IDC_DOWNLOAD);
    EXPECT_EQ(g_strReceived, "");
}

}  // namespace
}  // namespace optest
