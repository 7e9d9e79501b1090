// What both windows do between their widgets and the dialog, on a small template and a
// view that records what it is asked.
#include "ui/view_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using res::Kind;
using ui::kLineBreakCrLf;
using ui::kLineBreakLf;
using Change = ui::ViewDriver::TestBoxChange;

constexpr int kEdit = 10, kBox = 11, kButton = 12;
constexpr size_t kEditAt = 0, kBoxAt = 1, kButtonAt = 2;  // template positions

const res::DialogTemplate& TestTemplate() {
    static const res::DialogTemplate t{
        901,
        "Test",
        200,
        100,
        "Font",
        9,
        {
            {kEdit, Kind::Edit, "", {5, 5, 40, 12}, 0},
            {kBox, Kind::Edit, "", {5, 20, 100, 40}, res::STYLE_MULTILINE},
            {kButton, Kind::Button, "Go", {5, 70, 40, 12}, 0},
        }};
    return t;
}

class TestDialog : public ui::Dialog {
public:
    TestDialog() : ui::Dialog(TestTemplate()) {
        OnCommand(ui::EN_CHANGE, kEdit, [this] { changes.push_back(GetText(kEdit)); });
        OnCommand(ui::EN_CHANGE, kBox, [this] { changes.push_back(GetText(kBox)); });
        OnCommand(ui::BN_CLICKED, kButton, [this] {
            ++clicks;
            if (onClick) onClick();
        });
        OnCommand(ui::BN_DOUBLECLICKED, kButton, [this] { ++doubleClicks; });
    }
    std::vector<std::string> changes;
    int clicks = 0, doubleClicks = 0;
    std::function<void()> onClick;
};

class RecordingView : public ui::ViewAdapter {
public:
    std::vector<std::string> calls;
    std::vector<bool> editingWhenMirrored;
    ui::ViewDriver* driver = nullptr;
    void BeginUserAction(bool busy) override { calls.push_back(busy ? "begin busy" : "begin"); }
    void EndUserAction(bool busy) override { calls.push_back(busy ? "end busy" : "end"); }
    void Mirror(size_t index) override {
        calls.push_back("mirror " + std::to_string(index));
        editingWhenMirrored.push_back(driver->UserEditing());
    }
};

class ViewDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.driver = &driver;
        dlg.Create();
        driver.Attach(&dlg);
    }
    uint64_t realMs = 1000;
    RecordingView view;
    ui::ViewDriver driver{view, kLineBreakCrLf, [this] { return realMs; }};
    TestDialog dlg;
};

TEST_F(ViewDriverTest, UserActionsRunOneAtATimeAndOnlyOnALiveModel) {
    // Inside a handler (its modal box is up) another action is refused, without a cursor.
    bool nestedRan = true;
    dlg.onClick = [&] { nestedRan = driver.Run([] {}); };
    driver.UserClicked(kButtonAt, false);
    EXPECT_FALSE(nestedRan);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"begin busy", "end busy"}));
    EXPECT_EQ(dlg.clicks, 1);

    driver.UserClicked(kButtonAt, true);  // the second click of a double click
    EXPECT_EQ(dlg.doubleClicks, 1);

    // The view's busy state ends also when the action throws.
    view.calls.clear();
    EXPECT_THROW(driver.Run([] { throw std::runtime_error("x"); }, false), std::runtime_error);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"begin", "end"}));

    dlg.EndDialog(ui::IDOK);
    view.calls.clear();
    EXPECT_FALSE(driver.Run([] {}));
    driver.UserClicked(kButtonAt, false);
    EXPECT_TRUE(view.calls.empty());
    driver.Attach(nullptr);
    EXPECT_FALSE(driver.Run([] {}));
}

TEST_F(ViewDriverTest, TheVirtualClockFollowsRealTimeBeforeEveryModelCall) {
    zarn::VirtualClock clock(50);
    driver.PaceVirtualClock(&clock);
    realMs += 120;
    EXPECT_EQ(clock.NowMs(), 50u);  // only when the model is called
    driver.Run([] {});
    EXPECT_EQ(clock.NowMs(), 170u);
    // Time the model slept itself is not taken back.
    clock.SleepMs(1000);
    realMs += 10;
    driver.TimerTick();
    EXPECT_EQ(clock.NowMs(), 1170u);
    realMs += 2000;
    driver.PaceClock();
    EXPECT_EQ(clock.NowMs(), 2180u);
}

TEST_F(ViewDriverTest, AnEditTellsTheModelOnlyWhatChangedAndIsShownAsTheModelHasIt) {
    dlg.LimitText(kEdit, 3);
    driver.UserEdited(kEditAt, "ab");
    driver.UserEdited(kEditAt, "ab");    // a keystroke refused at the limit: no change
    driver.UserEdited(kEditAt, "abcd");  // past the limit: what fits is kept
    driver.UserEdited(kEditAt, "abcde");  // at the limit: the model has it already
    EXPECT_EQ(dlg.changes, (std::vector<std::string>{"ab", "abc"}));
    EXPECT_EQ(dlg.GetText(kEdit), "abc");
    // Every edit is mirrored, so that the widget drops what the model refused.
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "mirror 0"), 4);
}

TEST_F(ViewDriverTest, TestBoxEditsKeepUntouchedBytesAndRespectTheLimit) {
    const std::string received = "x\ry\nz";
    dlg.SetText(kBox, received);
    size_t kept = 0;
    ASSERT_EQ(driver.FollowTestBox(kBoxAt, false, &kept), Change::Replaced);
    dlg.changes.clear();
    view.editingWhenMirrored.clear();

    driver.UserEditedTestBox(kBoxAt, driver.ShownText(kBoxAt).display + u"Q");
    EXPECT_EQ(dlg.GetText(kBox), received + "Q");
    ASSERT_FALSE(view.editingWhenMirrored.empty());
    for (bool editing : view.editingWhenMirrored) EXPECT_TRUE(editing);
    EXPECT_FALSE(driver.UserEditing());
    // What the user typed is rendered again, whatever the revision says.
    EXPECT_EQ(driver.FollowTestBox(kBoxAt, false, &kept), Change::Replaced);

    // A text the program set past the limit may shrink, but never grow.
    dlg.LimitText(kBox, 3);
    const std::u16string shown = driver.ShownText(kBoxAt).display;
    driver.UserEditedTestBox(kBoxAt, shown + u"W");
    EXPECT_EQ(dlg.GetText(kBox), received + "Q");
    driver.UserEditedTestBox(kBoxAt, shown.substr(1));
    EXPECT_EQ(dlg.GetText(kBox), "\ry\nzQ");
    EXPECT_EQ(dlg.changes, (std::vector<std::string>{received + "Q", "\ry\nzQ"}));
}

TEST_F(ViewDriverTest, ReceivedBytesAreRenderedAloneAndAnythingElseInFull) {
    struct Step {
        const char* what;
        std::function<void()> change;
        Change expected;
        size_t keptChars;
    };
    const std::vector<Step> steps = {
        {"first text", [&] { dlg.SetText(kBox, "ab\r"); }, Change::Replaced, 0},
        {"nothing new", [] {}, Change::None, 0},
        {"bytes added", [&] { dlg.AppendText(kBox, "\ncd"); }, Change::Appended, 3},
        {"more added", [&] { dlg.AppendText(kBox, "\x01"); }, Change::Appended, 8},
        {"two changes unseen",
         [&] {
             dlg.AppendText(kBox, "e");
             dlg.AppendText(kBox, "f");
         },
         Change::Replaced, 0},
        {"text replaced", [&] { dlg.SetText(kBox, "new"); }, Change::Replaced, 0},
        {"another model", [&] { driver.Attach(&dlg); }, Change::Replaced, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        size_t kept = 99;
        EXPECT_EQ(driver.FollowTestBox(kBoxAt, false, &kept), step.expected);
        if (step.expected != Change::None) {
            EXPECT_EQ(kept, step.keptChars);
        }
        EXPECT_EQ(driver.ShownText(kBoxAt).display,
                  ui::RenderTestBox(dlg.GetText(kBox), kLineBreakCrLf).display);
    }
    size_t kept = 0;
    EXPECT_EQ(driver.FollowTestBox(kBoxAt, true, &kept), Change::Replaced);  // a new width
}

TEST(ViewDriverLineBreak, EachViewRendersWithItsOwnBreak) {
    for (std::u16string_view lineBreak : {kLineBreakLf, kLineBreakCrLf}) {
        RecordingView view;
        ui::ViewDriver driver(view, lineBreak);
        view.driver = &driver;
        TestDialog dlg;
        dlg.Create();
        driver.Attach(&dlg);
        dlg.SetText(kBox, "a\rb");
        size_t kept = 0;
        driver.FollowTestBox(kBoxAt, false, &kept);
        EXPECT_EQ(driver.ShownText(kBoxAt).display, u"a\u240D" + std::u16string(lineBreak) + u"b");
    }
}

}  // namespace

// The poll's appends in frames: an answer of a few bytes goes in as it comes; a longer
// burst goes in once a frame, and what waits as soon as a tick brings nothing; a frame
// with nothing new ends the frames.
TEST(AppendFrames, AnswersGoInAsTheyComeStreamsOnceAFrameAndTheirEndWithoutDelay) {
    using When = ui::AppendFrames::Append;
    enum Event { TickWith, TickWithout, Frame, UserActs };
    struct Step {
        Event event;
        int times;
        bool shows;    // the view puts the waiting bytes in now
        bool running;  // frames run afterwards
    };
    constexpr int kAtOnce = ui::AppendFrames::kAtOnce;
    const Step steps[] = {
        {TickWith, kAtOnce, true, false},  // an answer: each byte in its own tick
        {TickWithout, 1, false, false},
        {TickWith, kAtOnce, true, false},  // a stream: its first bytes as they come,
        {TickWith, 1, true, true},         // then frames start with the next
        {TickWith, 2, false, true},        // which wait for the frame's end
        {Frame, 1, true, true},            // in together, and another frame runs
        {TickWith, 1, false, true},
        {TickWithout, 1, true, true},      // the stream paused: in at once
        {Frame, 1, false, false},          // nothing came during that frame: no frames
        {TickWith, kAtOnce + 1, true, true},
        {TickWith, 1, false, true},
        {UserActs, 1, true, true},         // the user acted: in before their input
        {TickWithout, 1, false, true},     // nothing waits any more
        {Frame, 1, false, false},
    };
    ui::AppendFrames frames;
    int at = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(at++);
        for (int n = 0; n < step.times; ++n) {
            bool shows = false;
            switch (step.event) {
                case TickWith:
                    frames.TickStarts();
                    shows = frames.Appended() != When::Waits;
                    shows = frames.TickEnded() || shows;
                    break;
                case TickWithout:
                    frames.TickStarts();
                    shows = frames.TickEnded();
                    break;
                case Frame:
                    shows = frames.FrameEnded();
                    break;
                case UserActs:
                    frames.Shown();
                    shows = true;
                    break;
            }
            EXPECT_EQ(shows, step.shows) << "at " << n;
        }
        EXPECT_EQ(frames.Running(), step.running);
    }
}
