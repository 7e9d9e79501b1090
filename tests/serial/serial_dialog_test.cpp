// "Open" and the receive poll of the main dialog on a real pseudo-terminal, in real time,
// driven through what a user does; and the same through the headless runner.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/zarn60_tool_dlg.h"
#include "pty_peer.h"

using serialtest::MsSince;
using serialtest::PtyPeer;

namespace {

void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

class SerialDialog : public ::testing::Test {
protected:
    SerialDialog() {
        ::unsetenv("ZARN60_COM4");
        ::unsetenv("ZARN60_COM97");
        g_connectionMode = CONNECTION_USB;
        g_strReceived.clear();
        zarn::SetSerialBackend(nullptr);
        zarn::PortTable::CloseAll();
        m_dlg.SetHost(&m_host);
        m_dlg.Create();
    }
    ~SerialDialog() override { zarn::PortTable::CloseAll(); }

    // What a user does: serial mode, the port number into the COM box, "Open".
    void OpenCom(const std::string& text) {
        if (!m_dlg.IsChecked(IDC_SERIAL_PORT)) {
            ASSERT_TRUE(m_dlg.UserClick(IDC_SERIAL_PORT));
        }
        ASSERT_TRUE(m_dlg.UserType(IDC_COM, text));
        ASSERT_TRUE(m_dlg.UserClick(IDC_OPEN));
    }
    std::string Box() const { return m_dlg.GetText(IDC_TEST_BOX); }

    PtyPeer m_peer{3};
    ui::NullHost m_host;
    CZARN60TOOLDlg m_dlg;
};

TEST_F(SerialDialog, OpenThenBytesArriveOnePerTick) {
    ASSERT_TRUE(m_peer.Ok());
    OpenCom("3");
    EXPECT_EQ(Box(), "Port is opened now");
    EXPECT_EQ(m_dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);
    EXPECT_TRUE(zarn::PortTable::IsOpen(3));

    const std::string sent("A\r\n\x00\x03\xff", 6);
    ASSERT_TRUE(m_peer.Send(sent));
    Settle();
    for (size_t i = 1; i <= sent.size(); ++i) {
        m_dlg.TimerTick();
        EXPECT_EQ(Box(), sent.substr(0, i));
    }
    EXPECT_EQ(g_strReceived, sent);
    // Nothing more: a tick changes nothing and does not wait.
    auto t0 = std::chrono::steady_clock::now();
    m_dlg.TimerTick();
    EXPECT_LT(MsSince(t0), 500.0);
    EXPECT_EQ(Box(), sent);

    // "Clear" empties both; the next byte shows only what came after.
    ASSERT_TRUE(m_dlg.UserClick(IDC_CLEAR));
    EXPECT_EQ(Box(), "");
    EXPECT_EQ(g_strReceived, "");
    ASSERT_TRUE(m_peer.Send("z"));
    Settle();
    m_dlg.TimerTick();
    EXPECT_EQ(Box(), "z");
}

TEST_F(SerialDialog, SwitchingToUsbLeavesThePollRunning) {
    ASSERT_TRUE(m_peer.Ok());
    OpenCom("3");
    ASSERT_TRUE(m_peer.Send("s"));
    Settle();
    m_dlg.TimerTick();
    ASSERT_EQ(Box(), "s");

    ASSERT_TRUE(m_dlg.UserClick(IDC_USB));
    EXPECT_EQ(Box(), "You select the USB communication mode!");
    EXPECT_EQ(m_dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);
    EXPECT_TRUE(zarn::PortTable::IsOpen(3));
    // The status text stays until the next byte brings back the whole receive text.
    m_dlg.TimerTick();
    EXPECT_EQ(Box(), "You select the USB communication mode!");
    ASSERT_TRUE(m_peer.Send("u"));
    Settle();
    m_dlg.TimerTick();
    EXPECT_EQ(Box(), "su");
}

TEST_F(SerialDialog, AComboTextNamingAnotherPortStopsNewBytes) {
    ASSERT_TRUE(m_peer.Ok());
    OpenCom("3");
    ASSERT_TRUE(m_peer.Send("ab"));
    Settle();
    m_dlg.TimerTick();
    ASSERT_EQ(Box(), "a");

    ASSERT_TRUE(m_dlg.UserType(IDC_COM, "4"));  // not open
    for (int i = 0; i < 5; ++i) m_dlg.TimerTick();
    EXPECT_EQ(Box(), "a");
    ASSERT_TRUE(m_dlg.UserType(IDC_COM, "not a number"));
    for (int i = 0; i < 5; ++i) m_dlg.TimerTick();
    EXPECT_EQ(Box(), "a");

    // Back to 3: what waited in the port comes through, one byte a tick.
    ASSERT_TRUE(m_dlg.UserType(IDC_COM, "3"));
    m_dlg.TimerTick();
    EXPECT_EQ(Box(), "ab");
}

TEST_F(SerialDialog, BadComTexts) {
    ASSERT_TRUE(m_peer.Ok());
    ::setenv("ZARN60_COM7", "/tmp", 1);  // a directory
    struct Case {
        const char* text;
        const char* status;
    };
    const Case cases[] = {
        {"", "please setup Serial number"},
        {" ", "Port Number Error"},
        {"   \t", "Port Number Error"},
        {"-3", "Port Number Error"},
        {"+", "Port Number Error"},
        {"99999999999", "Port Number Error"},
        {"-99999999999", "Port Number Error"},
        {"4294967299", "Port Number Error"},  // would be 3 if it wrapped
        {"abc", "Port Number Error"},
        {"x3", "Port Number Error"},
        {"0", "Port Number Error"},
        {"201", "Port Number Error"},
        {"97", "Port Number Error"},  // no device for that number
        {"7", "Port Number Error"},   // a directory, not a line
    };
    // Before any success the poll stays off.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        OpenCom(c.text);
        EXPECT_EQ(Box(), c.status);
        EXPECT_EQ(m_dlg.TimerPeriod(), 0u);
    }
    EXPECT_FALSE(zarn::PortTable::IsOpen(3));

    // After a success a failed "Open" leaves the poll and the open port as they were.
    OpenCom("3");
    ASSERT_EQ(Box(), "Port is opened now");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        OpenCom(c.text);
        EXPECT_EQ(Box(), c.status);
        EXPECT_EQ(m_dlg.TimerPeriod(), OPEN_POLL_PERIOD_MS);
        EXPECT_TRUE(zarn::PortTable::IsOpen(3));
    }
    ::unsetenv("ZARN60_COM7");
}

TEST_F(SerialDialog, ComTextsThatStillNameThree) {
    ASSERT_TRUE(m_peer.Ok());
    for (const char* text : {"3", " 3", "+3", "3x", "03", "3 4"}) {
        SCOPED_TRACE(text);
        OpenCom(text);
        EXPECT_EQ(Box(), "Port is opened now");
        EXPECT_TRUE(zarn::PortTable::IsOpen(3));
    }
    // Opening twice reopens: what came in between is discarded.
    ASSERT_TRUE(m_peer.Send("old"));
    Settle();
    OpenCom("3");
    EXPECT_EQ(Box(), "Port is opened now");
    m_dlg.TimerTick();
    EXPECT_EQ(Box(), "Port is opened now");
}

TEST_F(SerialDialog, APeerThatGoesAwayStopsTheBytesWithoutHanging) {
    ASSERT_TRUE(m_peer.Ok());
    OpenCom("3");
    ASSERT_TRUE(m_peer.Send("p"));
    Settle();
    m_dlg.TimerTick();
    ASSERT_EQ(Box(), "p");
    m_peer.CloseMaster();
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) m_dlg.TimerTick();
    EXPECT_LT(MsSince(t0), 2000.0);
    EXPECT_EQ(Box(), "p");
    // Opening the vanished line again fails with the fixed text.
    OpenCom("3");
    EXPECT_EQ(Box(), "Port Number Error");
}

// As a new user would try it: the program itself, headless, with COM3 on a pty.
TEST(SerialTool, ScriptOpensComThreeAndShowsWhatThePeerWrites) {
    PtyPeer peer(3);
    ASSERT_TRUE(peer.Ok());
    char scriptPath[] = "/tmp/zarn60-serial-script-XXXXXX";
    int fd = ::mkstemp(scriptPath);
    ASSERT_GE(fd, 0);
    const std::string script =
        "click 1061\n"
        "type 1050 3\n"
        "click 1055\n"
        "get 1052\n"
        "wait 1500\n"
        "get 1052\n"
        "click 1015\n";
    ASSERT_EQ(::write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    ::close(fd);

    // The peer writes once the tool has opened the line (and so made it raw): what came
    // before the open would be discarded.
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            struct termios t;
            if (::tcgetattr(peer.SlaveFd(), &t) == 0 && !(t.c_lflag & ICANON)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        peer.Send("HELLO");
    });
    const std::string cmd = std::string(ZARN60_TOOL_PATH) + " --script " + scriptPath + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = ::pclose(p);
    writer.join();
    ::unlink(scriptPath);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("Port is opened now"), std::string::npos) << out;
    EXPECT_NE(out.find("\"HELLO\""), std::string::npos) << out;
}

}  // namespace
