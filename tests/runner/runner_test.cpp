// The headless runner: its grammar, output format, errors and its timer on the clock.
#include "runner/runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "runner/control_names.h"
#include "runner/script_text.h"
#include "tests/app/app_fixture.h"

namespace {

struct Result {
    int status;
    std::string out;
    std::vector<std::string> lines;
};

Result RunLines(const std::string& script, const runner::SimCommand& sim = {}) {
    std::istringstream in(script);
    std::ostringstream out;
    Result r;
    r.status = runner::RunScript(in, out, sim);
    r.out = out.str();
    std::istringstream split(r.out);
    for (std::string line; std::getline(split, line);) r.lines.push_back(line);
    return r;
}

// Virtual time and serial ports that are byte queues, as the receive poll sees them.
class RunnerTest : public ::testing::Test {
protected:
    RunnerTest() : clockScope(clock) { zarn::SetSerialBackend(&serial); }
    ~RunnerTest() override {
        zarn::PortTable::CloseAll();
        zarn::SetSerialBackend(nullptr);
    }
    zarn::VirtualClock clock{1000};
    zarn::ScopedClock clockScope;
    apptest::QueueSerialBackend serial;
};

TEST(ScriptText, QuoteEscapesEveryByteThatIsNotPlainText) {
    EXPECT_EQ(runner::Quote(""), "\"\"");
    EXPECT_EQ(runner::Quote("a b~"), "\"a b~\"");
    EXPECT_EQ(runner::Quote("\"\\\r\n\t"), "\"\\\"\\\\\\r\\n\\t\"");
    EXPECT_EQ(runner::Quote(std::string("\0\x1f\x7f\x80\xff", 5)), "\"\\x00\\x1f\\x7f\\x80\\xff\"");
}

TEST(ScriptText, ParseTextReadsQuotesAndEscapes) {
    std::string bytes, why;
    ASSERT_TRUE(runner::ParseText("  a b  ", &bytes, &why));
    EXPECT_EQ(bytes, "a b");
    ASSERT_TRUE(runner::ParseText(" \"  a b  \" ", &bytes, &why));
    EXPECT_EQ(bytes, "  a b  ");
    ASSERT_TRUE(runner::ParseText("\"\"", &bytes, &why));
    EXPECT_EQ(bytes, "");
    ASSERT_TRUE(runner::ParseText(R"(A\"B\\C\n\r\t\x02\xE9)", &bytes, &why));
    EXPECT_EQ(bytes, "A\"B\\C\n\r\t\x02\xe9");
    ASSERT_TRUE(runner::ParseText(R"("say \"hi\"")", &bytes, &why));
    EXPECT_EQ(bytes, "say \"hi\"");
    ASSERT_TRUE(runner::ParseText("a\"b", &bytes, &why));  // a quote inside is a byte
    EXPECT_EQ(bytes, "a\"b");

    for (const char* bad :
         {R"(\q)", R"(\x4)", R"(\xg0)", "abc\\", "\"abc", "\"a\"b", R"("abc\")", "\""}) {
        bytes = "unchanged";
        EXPECT_FALSE(runner::ParseText(bad, &bytes, &why)) << bad;
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(bytes, "unchanged");
    }
}

TEST_F(RunnerTest, DumpPrintsEveryControlInIdOrderThenTimerModeAndReceived) {
    Result r = RunLines("dump\n");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 60u + 3u);
    EXPECT_EQ(r.lines[0], "ctl 1000 kind=edit visible=1 enabled=1 checked=0 limit=1 text=\"%\"");
    EXPECT_EQ(r.lines[12],
              "ctl 1012 kind=check visible=1 enabled=0 checked=0 limit=0 text=\"End of packet\"");
    EXPECT_EQ(r.lines[59], "ctl 1072 kind=edit visible=1 enabled=1 checked=0 limit=3 text=\"\"");
    EXPECT_EQ(r.lines[60], "timer off");
    EXPECT_EQ(r.lines[61], "mode usb");
    EXPECT_EQ(r.lines[62], "received \"\"");
    int previous = 0;
    for (size_t i = 0; i < 60; ++i) {
        int id = std::stoi(r.lines[i].substr(4));
        EXPECT_GT(id, previous);
        previous = id;
    }
}

TEST_F(RunnerTest, UserCommandsActAsAUserWould) {
    Result r = RunLines(
        "# comment\n"
        "\n"
        "   \r\n"
        "type 1023 \"  a b  \"\r\n"
        "get 1023\n"
        "type 1000 xyz\n"
        "get 1000\n"
        "paste 1024 0123456789abcdefgh\n"
        "get 1024\n"
        "type 1024 \"\"\n"
        "get 1024\n"
        "dblclick 1037\n"
        "get 1036\n"
        "get 1037\n"
        "slider 3\n"
        "get 1017\n"
        "click 1061\n"
        "slider 1\n"
        "get 1017\n"
        "type 1050 \" 4\"\n"
        "get 1050\n"
        "click 1012\n"
        "type 1035 9\n"
        "get 1012\n"
        "get 1035\n"
        "sysmenu about\n"
        "dump\n");
    EXPECT_EQ(r.status, 0);
    ASSERT_GE(r.lines.size(), 12u);
    EXPECT_EQ(r.lines[0],
              "ctl 1023 kind=edit visible=1 enabled=1 checked=0 limit=15 text=\"  a b  \"");
    EXPECT_EQ(r.lines[1], "ctl 1000 kind=edit visible=1 enabled=1 checked=0 limit=1 text=\"x\"");
    EXPECT_EQ(r.lines[2],
              "ctl 1024 kind=edit visible=1 enabled=1 checked=0 limit=15 text=\"0123456789abcde\"");
    EXPECT_EQ(r.lines[3], "ctl 1024 kind=edit visible=1 enabled=1 checked=0 limit=15 text=\"\"");
    EXPECT_EQ(r.lines[4], "ctl 1036 kind=radio visible=1 enabled=1 checked=0 limit=0 text=\"ON\"");
    EXPECT_EQ(r.lines[5], "ctl 1037 kind=radio visible=1 enabled=1 checked=1 limit=0 text=\"OFF\"");
    EXPECT_EQ(r.lines[6],
              "ctl 1017 kind=slider visible=1 enabled=1 checked=0 limit=0 pos=3 min=0 max=7");
    // The serial radio set 7 and disabled the trackbar: the user cannot move it.
    EXPECT_EQ(r.lines[7],
              "ctl 1017 kind=slider visible=1 enabled=0 checked=0 limit=0 pos=7 min=0 max=7");
    EXPECT_EQ(r.lines[8],
              "ctl 1050 kind=combo visible=1 enabled=1 checked=0 limit=0 text=\" 4\" "
              "items=\"1,2,3,4,5,6,7,8,9\"");
    // Disabled controls ignore clicks and typing.
    EXPECT_EQ(r.lines[9],
              "ctl 1012 kind=check visible=1 enabled=0 checked=0 limit=0 text=\"End of packet\"");
    EXPECT_EQ(r.lines[10], "ctl 1035 kind=edit visible=1 enabled=0 checked=0 limit=3 text=\"\"");
    EXPECT_EQ(r.lines[11], "about");
    EXPECT_EQ(r.lines.back(), "received \"\"");
    EXPECT_EQ(r.lines[r.lines.size() - 2], "mode serial");
}

TEST_F(RunnerTest, EnterEscapeAndCloseEndTheDialogAndTheRestIsIgnored) {
    // Typing stops at the limit, so the data exchange passes.
    Result r = RunLines("type 1064 123\nget 1064\nkey enter\nget 1064\nbogus\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "ctl 1064 kind=edit visible=1 enabled=1 checked=0 limit=2 text=\"12\"",
                           "end 1"}));

    r = RunLines("key escape\ndump\n");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"end 2"}));
    r = RunLines("close\nclick 1015\n");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"end 2"}));
    r = RunLines("click 1015\n");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"end 1"}));
}

TEST_F(RunnerTest, ErrorsStopTheRunWithStatus2) {
    struct Case {
        const char* script;
        const char* error;
    };
    const Case cases[] = {
        {"get 1000\nfrobnicate\nget 1001\n", "error line 2: unknown command \"frobnicate\""},
        {"get 4711\n", "error line 1: no control 4711"},
        {"get\n", "error line 1: missing control id"},
        {"click abc\n", "error line 1: bad control id \"abc\""},
        {"click 1000\n", "error line 1: control 1000 is not a button, check box or radio button"},
        {"type 1013 x\n", "error line 1: control 1013 is not an edit or combo box"},
        {"type 1000 \"x\n", "error line 1: missing closing quote"},
        {"type 1000 \\z\n", "error line 1: unknown escape \\z"},
        {"cl\x01ick\r1\n", "error line 1: unknown command \"cl\\x01ick\\r1\""},
        {"click 1018 twice\n", "error line 1: unexpected text after \"click\""},
        {"key space\n",
         "error line 1: unknown key \"space\" (enter, escape, tab, shift+tab, left, right, up or "
         "down)"},
        {"tick -1\n", "error line 1: bad count \"-1\""},
        {"wait\n", "error line 1: missing milliseconds"},
        {"slider up\n", "error line 1: bad position \"up\""},
        {"answer print x\n", "error line 1: answer save|open PATH|cancel"},
        {"answer open\n", "error line 1: missing path (or cancel)"},
        {"sysmenu close\n", "error line 1: unknown system menu item \"close\" (about)"},
        {"sim card x\n", "error line 1: no simulated reader (run with --simulate)"},
    };
    for (const Case& c : cases) {
        Result r = RunLines(c.script);
        EXPECT_EQ(r.status, 2) << c.script;
        ASSERT_FALSE(r.lines.empty()) << c.script;
        EXPECT_EQ(r.lines.back(), c.error) << c.script;
    }
    // A line in error does nothing: the click with extra text did not toggle the box.
    Result r = RunLines("click 1018 x\n");
    EXPECT_EQ(r.lines.size(), 1u);
}

TEST_F(RunnerTest, SimLinesGoToTheSimulatorAndItsFailuresAreErrors) {
    std::vector<std::string> seen;
    runner::SimCommand sim = [&](const std::string& args, std::ostream& out, std::string* why) {
        seen.push_back(args);
        if (args == "fail") {
            *why = "sim says no";
            return false;
        }
        out << "sim ok\n";
        return true;
    };
    Result r = RunLines("sim  send 0d 0a\nsim fail\nsim never\n", sim);
    EXPECT_EQ(seen, (std::vector<std::string>{"send 0d 0a", "fail"}));
    EXPECT_EQ(r.lines, (std::vector<std::string>{"sim ok", "error line 2: sim says no"}));
    EXPECT_EQ(r.status, 2);
}

TEST_F(RunnerTest, FileDialogsTakeTheirQueuedAnswers) {
    Result r = RunLines(
        "answer save /tmp/never-used.cfg\n"
        "answer open cancel\n"
        "answer open \"/no such dir/x.cfg\"\n"
        "answer open C:\\tmp\\x.cfg\n"
        "click 1041\n"
        "click 1041\n"
        "click 1041\n"
        "click 1041\n");
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> dialogs;
    for (const auto& line : r.lines)
        if (line.rfind("filedialog ", 0) == 0) dialogs.push_back(line.substr(line.find(" -> ")));
    // Save answers are not given to open dialogs; paths are taken as written.
    EXPECT_EQ(dialogs, (std::vector<std::string>{" -> cancel", " -> /no such dir/x.cfg",
                                                 " -> C:\\tmp\\x.cfg", " -> cancel"}));
    EXPECT_EQ(r.lines[0].rfind("filedialog open title=\"\" file=\"\" ext=\".cfg\"", 0), 0u);
}

TEST_F(RunnerTest, WaitTicksTheTimerAtItsPeriodOnTheClock) {
    serial.Send(1, "abcdefghij");
    Result r = RunLines(
        "clock\n"
        "click 1061\n"
        "click 1055\n"
        "wait 49\n"
        "get 1052\n"
        "wait 1\n"
        "get 1052\n"
        "wait 150\n"
        "get 1052\n"
        "clock\n"
        "tick 2\n"
        "get 1052\n"
        "clock\n"
        "dump\n");
    EXPECT_EQ(r.status, 0);
    ASSERT_GE(r.lines.size(), 7u);
    EXPECT_EQ(r.lines[0], "clock 0");
    EXPECT_EQ(r.lines[1],
              "ctl 1052 kind=edit visible=1 enabled=1 checked=0 limit=0 "
              "text=\"Port is opened now\"");
    EXPECT_EQ(r.lines[2], "ctl 1052 kind=edit visible=1 enabled=1 checked=0 limit=0 text=\"a\"");
    EXPECT_EQ(r.lines[3], "ctl 1052 kind=edit visible=1 enabled=1 checked=0 limit=0 text=\"abcd\"");
    EXPECT_EQ(r.lines[4], "clock 200");
    EXPECT_EQ(r.lines[5],
              "ctl 1052 kind=edit visible=1 enabled=1 checked=0 limit=0 text=\"abcdef\"");
    EXPECT_EQ(r.lines[6], "clock 300");  // each tick comes when it is due
    EXPECT_EQ(r.lines[r.lines.size() - 3], "timer 50");
    EXPECT_EQ(r.lines.back(), "received \"abcdef\"");
}

TEST_F(RunnerTest, WaitWithoutTheTimerOnlyLetsTimePass) {
    serial.Send(1, "abc");
    Result r = RunLines("wait 1000\nclock\ntick 5\nget 1052\n");
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "clock 1000",
                           "ctl 1052 kind=edit visible=1 enabled=1 checked=0 limit=0 text=\"\""}));
}

TEST_F(RunnerTest, WaitsBeyondHalfTheTickCounterPassInFull) {
    Result r = RunLines("wait 3000000000\nclock\nwait 1294967295\nclock\nwait 4294967295\nclock\n");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"clock 3000000000", "clock 4294967295",
                                                 "clock 4294967294"}));
}

TEST_F(RunnerTest, EmptyPortReadsTakeTheirTimeOutAndTheScheduleHolds) {
    // Every poll of an empty port waits its 1 ms; ticks stay on the 50 ms grid, and the
    // tick due at the end of the wait runs, taking its millisecond.
    Result r = RunLines("click 1061\nclick 1055\nwait 500\nclock\nwait 48\nclock\nwait 1\nclock\n");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"clock 501", "clock 549", "clock 551"}));
}

// The interlocks clicked through as a user would, read back as the runner prints them.
TEST_F(RunnerTest, InterlocksThroughTheScript) {
    Result r = RunLines(
        "click 1009\nclick 1010\nclick 1011\n"  // all track rows clear
        "click 1012\n"                          // End of packet: packet CR chosen
        "get 1009\nget 1043\nget 1049\n"
        "click 1012\n"  // cleared again
        "get 1012\nget 1049\nget 1042\n"
        "click 1009\nclick 1009\n"  // the packet row comes back only this way
        "click 1048\n"              // a packet radio checks End of packet only
        "get 1012\nget 1010\n"
        "click 1010\n"  // a track row disables it, leaves it checked, chooses CR
        "get 1012\nget 1045\nget 1048\n"
        "type 1000 #\nclick 1018\nget 1000\nclick 1018\nget 1000\n"
        "type 1023 ABCDEFGHIJKLMNO\ntype 1024 abcdefghijklmno\nclick 1057\n"
        "get 1023\nget 1024\n"
        "click 1022\nget 1024\nclick 1019\nget 1024\nget 1005\n"
        "click 1034\ntype 1035 3\nclick 1033\nget 1035\n");
    const char* const kExpected[] = {
        "ctl 1009 kind=check visible=1 enabled=0 checked=0 limit=0 text=\"End Track 1 with\"",
        "ctl 1043 kind=radio visible=1 enabled=0 checked=0 limit=0 text=\"CR\"",
        "ctl 1049 kind=radio visible=1 enabled=1 checked=1 limit=0 text=\"CR\"",
        "ctl 1012 kind=check visible=1 enabled=0 checked=0 limit=0 text=\"End of packet\"",
        "ctl 1049 kind=radio visible=1 enabled=0 checked=0 limit=0 text=\"CR\"",
        "ctl 1042 kind=radio visible=1 enabled=1 checked=0 limit=0 text=\"CR+LF\"",
        "ctl 1012 kind=check visible=1 enabled=1 checked=1 limit=0 text=\"End of packet\"",
        "ctl 1010 kind=check visible=1 enabled=1 checked=0 limit=0 text=\"End Track 2 with\"",
        "ctl 1012 kind=check visible=1 enabled=0 checked=1 limit=0 text=\"End of packet\"",
        "ctl 1045 kind=radio visible=1 enabled=1 checked=1 limit=0 text=\"CR\"",
        "ctl 1048 kind=radio visible=1 enabled=0 checked=0 limit=0 text=\"CR+LF\"",
        "ctl 1000 kind=edit visible=1 enabled=0 checked=0 limit=1 text=\"\"",
        "ctl 1000 kind=edit visible=1 enabled=1 checked=0 limit=1 text=\"%\"",
        "ctl 1023 kind=edit visible=1 enabled=1 checked=0 limit=15 text=\"ABCDEFGHIJKLMN\"",
        "ctl 1024 kind=edit visible=1 enabled=1 checked=0 limit=15 text=\"abcdefghijklmn\"",
        "ctl 1024 kind=edit visible=1 enabled=1 checked=0 limit=14 text=\"abcdefghijklmn\"",
        "ctl 1024 kind=edit visible=1 enabled=1 checked=0 limit=15 text=\"abcdefghijklmn\"",
        "ctl 1005 kind=edit visible=1 enabled=0 checked=0 limit=1 text=\"\"",
        "ctl 1035 kind=edit visible=1 enabled=0 checked=0 limit=3 text=\"3\"",
    };
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines, std::vector<std::string>(std::begin(kExpected), std::end(kExpected)));
}

// Names and numbers name the same controls; an unknown name is refused like a bad number.
TEST_F(RunnerTest, ControlsByNameActAsByNumber) {
    const Result byNumber = RunLines("type 1063 30\nget 1063\nclick 1018\nget 1000\nget 1017\n");
    const Result byName = RunLines(
        "type IDC_TRACK1_END 30\nget IDC_TRACK1_END\nclick IDC_DISABLE_SS\n"
        "get IDC_TRACK1_SS\nget IDC_USB_SPEED\n");
    EXPECT_EQ(byName.status, 0);
    EXPECT_EQ(byName.lines, byNumber.lines);
    ASSERT_EQ(byName.lines.size(), 3u);

    const char* const bad[][2] = {
        {"click IDC_NOPE\n", "error line 1: bad control id \"IDC_NOPE\""},
        {"click idc_download\n", "error line 1: bad control id \"idc_download\""},
        {"click IDC_PREFIX\n",
         "error line 1: control IDC_PREFIX is not a button, check box or "
         "radio button"},
    };
    for (const auto& c : bad) {
        Result r = RunLines(c[0]);
        EXPECT_EQ(r.status, 2) << c[0];
        EXPECT_EQ(r.lines, std::vector<std::string>{c[1]}) << c[0];
    }
}

// The keys go where the window's keys go (tests/gui/keyboard_test.cpp presses the same).
TEST_F(RunnerTest, KeysMoveTheFocusAsTheDialogManagerDoes) {
    const Result r = RunLines(
        "get focus\nfocus IDC_USB\nkey right\nget focus\nget IDC_USB_SPEED\nkey up\n"
        "get focus\nget IDC_USB_SPEED\nkey tab\nget focus\nkey shift+tab\nkey shift+tab\n"
        "get focus\nfocus IDC_PREFIX\nkey left\nget focus\n");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> expected = {
        "focus IDC_TRACK1_SS",
        "focus IDC_SERIAL_PORT",
        "ctl 1017 kind=slider visible=1 enabled=0 checked=0 limit=0 pos=7 min=0 max=7",
        "focus IDC_USB",
        "ctl 1017 kind=slider visible=1 enabled=1 checked=0 limit=0 pos=6 min=0 max=7",
        "focus IDC_USB_SPEED",
        "focus IDC_EXIT",
        "focus IDC_PREFIX"};
    EXPECT_EQ(r.lines, expected);
    const Result bad = RunLines("focus IDC_OPEN\n");  // disabled at start
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.lines,
              std::vector<std::string>{"error line 1: control 1055 cannot take the focus"});
}

// Every control of the dialog has exactly one name, and every name is a control.
TEST(ControlNames, EveryControlHasOneName) {
    std::vector<int> named;
    for (const auto& [name, id] : runner::ControlNames()) {
        EXPECT_EQ(runner::ControlIdByName(name), id) << name;
        named.push_back(id);
    }
    EXPECT_TRUE(std::is_sorted(named.begin(), named.end()));
    EXPECT_EQ(std::adjacent_find(named.begin(), named.end()), named.end());
    std::vector<int> ids;
    for (const auto& c : res::MainDialogTemplate().controls)
        if (c.id != res::IDC_STATIC) ids.push_back(c.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(named, ids);
}

TEST(ScriptText, TrailingCommentsEndAtTheTextsTheyMayNotCut) {
    const char* const cases[][2] = {
        {"click 1013 # download", "click 1013"},
        {"click 1013\t#x", "click 1013"},
        {"click 1013#x", "click 1013#x"},  // no blank before: a word, refused as such
        {"answer save \"/tmp/a #1.cfg\" # note", "answer save \"/tmp/a #1.cfg\""},
        {"answer save /tmp/a#1.cfg", "answer save /tmp/a#1.cfg"},
        {"sim swipe # the card", "sim swipe"},
        // Texts run to the end of the line: any sentinel can be typed.
        {"type 1000 #", "type 1000 #"},
        {"type 1023 a # b", "type 1023 a # b"},
        {"paste 1023 # #", "paste 1023 # #"},
        {"sim card |4111 #2|", "sim card |4111 #2|"},
        {"sim version V1 #2", "sim version V1 #2"},
        // ... unless quoted, when a comment may follow.
        {"type 1023 \"a # b\" # note", "type 1023 \"a # b\""},
        {"type 1023 \"a \\\" # b\" #", "type 1023 \"a \\\" # b\""},
        {"type 1023 \"open # end", "type 1023 \"open # end"},
        {"sim card \"x\" # c", "sim card \"x\""},
    };
    for (const auto& c : cases) EXPECT_EQ(runner::WithoutComment(c[0]), c[1]) << c[0];
}

TEST_F(RunnerTest, CommentsDoNothing) {
    Result r = RunLines("# a script\n  # indented\nget 1062 # the usb radio\nget 1000 #\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "ctl 1062 kind=radio visible=1 enabled=1 checked=1 limit=0 text=\"usb\"",
                           "ctl 1000 kind=edit visible=1 enabled=1 checked=0 limit=1 text=\"%\""}));
}

// Error lines quote at most 64 bytes of a word, however long it is.
TEST_F(RunnerTest, ErrorLinesCutHugeWords) {
    const std::string huge(10'000'000, 'w');
    const std::string cut = "\"" + std::string(64, 'w') + "\"...";
    const std::string scripts[][2] = {
        {huge + "\n", "error line 1: unknown command " + cut},
        {"click " + huge + "\n", "error line 1: bad control id " + cut},
        {"key " + huge + "\n", "error line 1: unknown key " + cut +
                                   " (enter, escape, tab, shift+tab, left, right, up or down)"},
        {"tick " + huge + "\n", "error line 1: bad count " + cut},
    };
    for (const auto& s : scripts) {
        Result r = RunLines(s[0]);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.lines, std::vector<std::string>{s[1]}) << s[1].substr(0, 40);
    }
    EXPECT_EQ(runner::QuoteCut(std::string(64, 'a')), "\"" + std::string(64, 'a') + "\"");
}

// A stream of bytes without end, as /dev/zero gives.
class EndlessBuf : public std::streambuf {
public:
    explicit EndlessBuf(char fill) { std::fill(std::begin(m_chunk), std::end(m_chunk), fill); }
    size_t taken = 0;

protected:
    int_type underflow() override {
        taken += sizeof m_chunk;
        setg(m_chunk, m_chunk, m_chunk + sizeof m_chunk);
        return traits_type::to_int_type(m_chunk[0]);
    }

private:
    char m_chunk[4096];
};

// A stream whose next read fails, as a disk error or a folder does.
class FailingBuf : public std::streambuf {
protected:
    int_type underflow() override { throw std::ios_base::failure("read error"); }
};

TEST_F(RunnerTest, ScriptsThatNeverEndOrCannotBeReadStopWithAnError) {
    for (char fill : {'\0', 'x', '\n'}) {
        EndlessBuf buf(fill);
        std::istream in(&buf);
        std::ostringstream out;
        EXPECT_EQ(runner::RunScript(in, out, {}), 2);
        EXPECT_LE(buf.taken, (size_t{16} << 20) + 8192);
        EXPECT_NE(out.str().find(": the script is longer than 16 MiB\n"), std::string::npos)
            << out.str().substr(0, 80);
    }
    FailingBuf failing;
    std::istream in(&failing);
    std::ostringstream out;
    EXPECT_EQ(runner::RunScript(in, out, {}), 2);
    EXPECT_EQ(out.str(), "error line 1: the script cannot be read\n");
}

// An output that cannot be written stops the run: nothing acts unseen.
TEST_F(RunnerTest, AFailedOutputStopsTheRunWithStatus1) {
    std::vector<std::string> seen;
    runner::SimCommand sim = [&](const std::string& args, std::ostream& out, std::string*) {
        seen.push_back(args);
        out << "sim " << args << "\n";
        return true;
    };
    std::istringstream in("sim one\nsim two\nsim three\n");
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(runner::RunScript(in, out, sim), 1);
    EXPECT_EQ(seen, std::vector<std::string>{"one"});
}

}  // namespace
