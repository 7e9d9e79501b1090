// The main dialog: start-up state, connection mode, "Open", the receive poll, "Clear",
// "Exit", Enter/Escape and the system menu.
#include <climits>

#include "tests/app/app_fixture.h"

namespace {

using apptest::AppTest;

struct State {
    int id;
    bool visible, enabled, checked;
    int limit;
    const char* text;
};

// Every control with an id once OnInitDialog has returned.
const State kStartUp[] = {
    {1000, 1, 1, 0, 1, "%"},
    {1001, 1, 1, 0, 1, ";"},
    {1002, 1, 1, 0, 1, "+"},
    {1003, 1, 1, 0, 1, "?"},
    {1004, 1, 1, 0, 1, "?"},
    {1005, 1, 1, 0, 1, "?"},
    {1006, 1, 1, 1, 0, "Output Track 1 Data"},
    {1007, 1, 1, 1, 0, "OutPut Track 2 Data"},
    {1008, 1, 1, 1, 0, "OutPut Track 3 Data"},
    {1009, 1, 1, 1, 0, "End Track 1 with"},
    {1010, 1, 1, 1, 0, "End Track 2 with"},
    {1011, 1, 1, 1, 0, "End Track 3 with"},
    {1012, 1, 0, 0, 0, "End of packet"},
    {1013, 1, 1, 0, 0, "Download Setting to Device"},
    {1014, 1, 1, 0, 0, "Back to Default Factory Setting"},
    {1015, 1, 1, 0, 0, "Exit"},
    {1016, 0, 1, 0, 0, "Status:"},
    {1017, 1, 1, 0, 0, ""},
    {1018, 1, 1, 0, 0, "Disable SS"},
    {1019, 1, 1, 0, 0, "Disable ES"},
    {1020, 0, 1, 0, 0, "USB HID MODE"},
    {1021, 1, 1, 0, 0, "PREFIX(Max 15 Chars):"},
    {1022, 1, 1, 0, 0, "SUFFIX(Max 15 Chars):"},
    {1023, 1, 1, 0, 15, ""},
    {1024, 1, 1, 0, 15, ""},
    {1025, 1, 1, 0, 0, "Disable auto output"},
    {1033, 1, 1, 1, 0, "No change"},
    {1034, 1, 1, 0, 0, "Trim space between data, remains"},
    {1035, 1, 0, 0, 3, ""},
    {1036, 1, 1, 1, 0, "ON"},
    {1037, 1, 1, 0, 0, "OFF"},
    {1038, 0, 1, 0, 3, "1"},
    {1040, 1, 1, 0, 0, "Upload Setting from Device"},
    {1041, 1, 1, 0, 0, "Load Setting from File"},
    {1042, 1, 1, 1, 0, "CR+LF"},
    {1043, 1, 1, 0, 0, "CR"},
    {1044, 1, 1, 1, 0, "CR+LF"},
    {1045, 1, 1, 0, 0, "CR"},
    {1046, 1, 1, 1, 0, "CR+LF"},
    {1047, 1, 1, 0, 0, "CR"},
    {1048, 1, 0, 0, 0, "CR+LF"},
    {1049, 1, 0, 0, 0, "CR"},
    {1050, 1, 0, 0, 0, "1"},
    {1051, 1, 1, 0, 0, "Save setting to File"},
    {1052, 1, 1, 0, 0, ""},
    {1053, 1, 1, 0, 0, "Clear"},
    {1055, 1, 0, 0, 0, "Open"},
    {1056, 1, 1, 1, 0, "NO"},
    {1057, 1, 1, 0, 0, "YES"},
    {1059, 1, 1, 0, 0, "Read Card"},
    {1060, 1, 1, 0, 0, "Get Version"},
    {1061, 1, 1, 0, 0, " serial port"},
    {1062, 1, 1, 1, 0, "usb"},
    {1063, 1, 1, 0, 2, ""},
    {1064, 1, 1, 0, 2, ""},
    {1065, 1, 1, 0, 3, ""},
    {1067, 0, 1, 0, 0, "Button12"},
    {1069, 1, 1, 0, 2, ""},
    {1071, 1, 1, 0, 2, ""},
    {1072, 1, 1, 0, 3, ""},
};

TEST_F(AppTest, StartUpStateMatchesTheControlTable) {
    std::vector<int> ids;
    for (const State& s : kStartUp) {
        ids.push_back(s.id);
        const ui::Control& c = dlg.GetControl(s.id);
        EXPECT_EQ(c.visible, s.visible) << s.id;
        EXPECT_EQ(c.enabled, s.enabled) << s.id;
        EXPECT_EQ(c.checked, s.checked) << s.id;
        EXPECT_EQ(c.limit, s.limit) << s.id;
        EXPECT_EQ(c.text, s.text) << s.id;
    }
    EXPECT_EQ(dlg.ControlIds(), ids);
    const ui::Control& slider = dlg.GetControl(IDC_USB_SPEED);
    EXPECT_EQ(slider.pos, 6);
    EXPECT_EQ(slider.rangeMin, 0);
    EXPECT_EQ(slider.rangeMax, 7);
    EXPECT_EQ(slider.ticFreq, 1);
    const ui::Control& com = dlg.GetControl(IDC_COM);
    EXPECT_EQ(com.items, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(com.curSel, 0);

    EXPECT_EQ(g_connectionMode, CONNECTION_USB);  // the usb handler did not run
    EXPECT_EQ(dlg.TimerPeriod(), 0u);
    EXPECT_TRUE(host.boxes.empty());
    ASSERT_EQ(dlg.SystemMenu().size(), 2u);
    EXPECT_EQ(dlg.SystemMenu()[0].command, 0u);
    EXPECT_EQ(dlg.SystemMenu()[1].command, IDM_ABOUTBOX);
    EXPECT_EQ(dlg.SystemMenu()[1].text, "关于 ZARN TOOLS(&A)...");
    EXPECT_EQ(dlg.Icon(), res::IconPng());
    EXPECT_EQ(dlg.m_strHiddenValue, "1");
}

TEST_F(AppTest, ConnectionModeRadiosSetTheModeTrackbarAndPortControls) {
    dlg.UserSetSlider(IDC_USB_SPEED, 2);
    dlg.UserClick(IDC_SERIAL_PORT);
    EXPECT_EQ(g_connectionMode, CONNECTION_SERIAL);
    EXPECT_EQ(dlg.SliderGetPos(IDC_USB_SPEED), 7);
    EXPECT_FALSE(Enabled(IDC_USB_SPEED));
    EXPECT_TRUE(Enabled(IDC_COM));
    EXPECT_TRUE(Enabled(IDC_OPEN));
    EXPECT_TRUE(Checked(IDC_SERIAL_PORT));
    EXPECT_FALSE(Checked(IDC_USB));
    EXPECT_EQ(Text(IDC_TEST_BOX), "You select the  serial port communication mode!");

    dlg.UserClick(IDC_USB);
    EXPECT_EQ(g_connectionMode, CONNECTION_USB);
    EXPECT_EQ(dlg.SliderGetPos(IDC_USB_SPEED), 6);
    EXPECT_TRUE(Enabled(IDC_USB_SPEED));
    EXPECT_FALSE(Enabled(IDC_COM));
    EXPECT_FALSE(Enabled(IDC_OPEN));
    EXPECT_FALSE(Checked(IDC_SERIAL_PORT));
    EXPECT_EQ(Text(IDC_TEST_BOX), "You select the USB communication mode!");
    EXPECT_EQ(dlg.TimerPeriod(), 0u);  // neither radio touches the poll
    EXPECT_TRUE(serial.opens.empty());
}

TEST_F(AppTest, OpenReadsThePortNumberFromTheComboText) {
    dlg.UserClick(IDC_SERIAL_PORT);
    struct Case {
        const char* text;
        const char* status;
        int port;  // opened, or 0
    };
    const Case cases[] = {
        {"", "please setup Serial number", 0}, {" 3", "Port is opened now", 3},
        {"4x", "Port is opened now", 4},       {"0", "Port Number Error", 0},
        {"abc", "Port Number Error", 0},       {"201", "Port Number Error", 0},
        {"-5", "Port Number Error", 0},
    };
    for (const Case& c : cases) {
        serial.opens.clear();
        dlg.UserType(IDC_COM, c.text);
        dlg.UserClick(IDC_OPEN);
        EXPECT_EQ(Text(IDC_TEST_BOX), c.status) << c.text;
        if (c.port) {
            EXPECT_EQ(serial.opens[c.port], 1) << c.text;
        } else {
            EXPECT_TRUE(serial.opens.empty()) << c.text;
        }
    }
}

TEST_F(AppTest, OpenStartsThePollOnlyOnSuccessAndReopensTheSamePort) {
    dlg.UserClick(IDC_SERIAL_PORT);
    dlg.UserType(IDC_COM, "");
    dlg.UserClick(IDC_OPEN);
    EXPECT_EQ(dlg.TimerPeriod(), 0u);
    dlg.UserType(IDC_COM, "2");
    dlg.UserClick(IDC_OPEN);
    EXPECT_EQ(dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);
    dlg.SetTimer(POLL_PERIOD_MS);
    dlg.ShowStatus("x");
    dlg.UserClick(IDC_OPEN);
    EXPECT_EQ(serial.opens[2], 2);
    EXPECT_EQ(Text(IDC_TEST_BOX), "Port is opened now");
    EXPECT_EQ(dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);  // the period goes back to 50
    dlg.UserType(IDC_COM, "77");
    dlg.UserClick(IDC_OPEN);
    EXPECT_EQ(Text(IDC_TEST_BOX), "Port Number Error");
    EXPECT_EQ(dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);  // left as it was
}

TEST_F(AppTest, ReceivePollShowsEveryByteAndClearStartsAfresh) {
    dlg.UserClick(IDC_SERIAL_PORT);
    dlg.UserClick(IDC_OPEN);
    serial.Send(1, std::string("AB\0\x02", 4));
    dlg.TimerTick();
    EXPECT_EQ(Text(IDC_TEST_BOX), "A");
    dlg.ShowStatus("a status");
    dlg.TimerTick();  // the whole receive text replaces the status
    EXPECT_EQ(Text(IDC_TEST_BOX), "AB");
    dlg.TimerTick();
    dlg.TimerTick();
    EXPECT_EQ(g_strReceived, std::string("AB\0\x02", 4));
    EXPECT_EQ(Text(IDC_TEST_BOX), g_strReceived);
    dlg.TimerTick();  // nothing pending: nothing changes
    EXPECT_EQ(g_strReceived.size(), 4u);

    dlg.UserClick(IDC_CLEAR);
    EXPECT_EQ(Text(IDC_TEST_BOX), "");
    EXPECT_EQ(g_strReceived, "");
    serial.Send(1, "C");
    dlg.TimerTick();
    EXPECT_EQ(Text(IDC_TEST_BOX), "C");
}

TEST_F(AppTest, ReceivePollAddsTheByteOnlyWhileTheBoxShowsWhatWasReceived) {
    dlg.UserClick(IDC_SERIAL_PORT);
    dlg.UserClick(IDC_OPEN);
    serial.Send(1, "ABCDE");
    const auto& box = dlg.GetControl(IDC_TEST_BOX);
    dlg.TimerTick();  // replaces "Port is opened now"
    EXPECT_EQ(box.keptBytes, 0u);
    dlg.TimerTick();
    EXPECT_EQ(box.keptBytes, 1u);  // only "B" was added
    dlg.UserEdit(IDC_TEST_BOX, "AB!");
    dlg.TimerTick();
    EXPECT_EQ(box.text, "ABC");
    EXPECT_EQ(box.keptBytes, 0u);
    g_strReceived = "xy";  // cleared and refilled behind the box's back
    dlg.TimerTick();
    EXPECT_EQ(box.text, "xyD");
    dlg.TimerTick();
    EXPECT_EQ(box.text, "xyDE");
    EXPECT_EQ(box.keptBytes, 3u);
}

TEST_F(AppTest, ReceivePollFollowsTheComboTextWhateverTheMode) {
    dlg.UserClick(IDC_SERIAL_PORT);
    dlg.UserClick(IDC_OPEN);
    dlg.UserClick(IDC_USB);  // the poll keeps running
    serial.Send(1, "xyz");
    dlg.TimerTick();
    EXPECT_EQ(g_strReceived, "x");
    dlg.ComboSetCurSel(IDC_COM, 4);  // port 5 is not open
    dlg.TimerTick();
    EXPECT_EQ(g_strReceived, "x");
    dlg.ComboSetCurSel(IDC_COM, 0);
    dlg.TimerTick();
    EXPECT_EQ(g_strReceived, "xy");
}

TEST_F(AppTest, ExitAndEnterRunTheOkProcessingEscapeAndCloseCancel) {
    dlg.SetText(IDC_TRACK1_END, "100");  // longer than its limit of 2
    dlg.UserClick(IDC_EXIT);
    EXPECT_FALSE(dlg.IsEnded());
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "输入的字符请不要多于 2 个。");
    EXPECT_EQ(host.boxes[0].icon, ui::MsgIcon::Exclamation);
    EXPECT_EQ(dlg.Focus(), IDC_TRACK1_END);
    dlg.UserPressEnter();
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_EQ(host.boxes.size(), 2u);

    dlg.SetText(IDC_TRACK1_END, "10");
    dlg.UserType(IDC_TEST_BOX, "typed");  // Enter from the multi-line box is OK too
    dlg.UserPressEnter();
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.Result(), 1);
    EXPECT_EQ(dlg.m_strTrack1End, "10");
}

TEST_F(AppTest, EscapeAndCloseEndWithoutDataExchange) {
    dlg.SetText(IDC_TRACK1_END, "100");
    dlg.UserPressEscape();
    EXPECT_EQ(dlg.Result(), 2);
    EXPECT_TRUE(host.boxes.empty());

    CZARN60TOOLDlg other;
    other.Create();
    other.UserClose();
    EXPECT_EQ(other.Result(), 2);
}

TEST_F(AppTest, SystemMenuAboutShowsTheAboutBox) {
    dlg.UserSysCommand(IDM_ABOUTBOX | 0x3);  // low four bits do not matter
    EXPECT_EQ(host.abouts, 1);
    dlg.UserSysCommand(0xF020);  // minimise: default processing, nothing here
    EXPECT_FALSE(dlg.IsEnded());
    dlg.UserSysCommand(ui::SC_CLOSE);
    EXPECT_EQ(dlg.Result(), 2);
}

TEST(AboutBox, ItsButtonEndsIt) {
    CAboutDlg about;
    about.Create();
    EXPECT_EQ(about.GetText(1), "确定");
    EXPECT_TRUE(about.UserClick(1));
    EXPECT_TRUE(about.IsEnded());
    EXPECT_EQ(about.Result(), 1);
}

TEST(Application, InitInstanceRunsTheDialogAndReturnsFalse) {
    CZARN60TOOLApp app;
    struct BoxCounter : ui::NullHost {
        int boxes = 0;
        void MessageBox(const std::string&, const std::string&, ui::MsgIcon) override { ++boxes; }
    } host;
    bool ran = false;
    EXPECT_EQ(app.InitInstance(host,
                               [&](CZARN60TOOLDlg& dlg) {
                                   ran = true;
                                   dlg.GetHost().MessageBox("m", "t", ui::MsgIcon::None);
                                   EXPECT_EQ(host.boxes, 1);  // the dialog's host is ours
                                   EXPECT_EQ(dlg.GetText(IDC_TRACK1_SS), "%");
                                   dlg.UserPressEscape();
                               }),
              0);
    EXPECT_TRUE(ran);
}

TEST(LeadingNumberTest, ReadsTheLeadingDecimalNumber) {
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(" 3"), 3);
    EXPECT_EQ(LeadingNumber("\t\n 42x7"), 42);
    EXPECT_EQ(LeadingNumber("+12"), 12);
    EXPECT_EQ(LeadingNumber("-12"), -12);
    EXPECT_EQ(LeadingNumber("- 1"), 0);
    EXPECT_EQ(LeadingNumber("+"), 0);
    EXPECT_EQ(LeadingNumber("2147483647"), INT_MAX);
    EXPECT_EQ(LeadingNumber("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(LeadingNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(LeadingNumber("-99999999999999999999"), INT_MIN);
}

}  // namespace
