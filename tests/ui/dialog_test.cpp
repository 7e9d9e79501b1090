// The dialog framework's platform semantics, on a small template of its own.
#include "ui/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using res::Kind;

const res::DialogTemplate& TestTemplate() {
    static const res::DialogTemplate t{
        900,
        "Test",
        200,
        100,
        "Font",
        9,
        {
            {10, Kind::Edit, "", {5, 5, 40, 12}, 0},
            {11, Kind::Edit, "", {5, 20, 40, 12}, 0},
            {12, Kind::Edit, "", {5, 35, 40, 12}, 0},
            {20, Kind::Radio, "A", {60, 5, 30, 10}, res::STYLE_GROUP},
            {21, Kind::Check, "between", {60, 20, 30, 10}, 0},
            {22, Kind::Radio, "B", {60, 35, 30, 10}, 0},
            {23, Kind::Radio, "C", {100, 5, 30, 10}, res::STYLE_GROUP},
            {24, Kind::Radio, "D", {100, 20, 30, 10}, 0},
            {30, Kind::Check, "check", {100, 35, 30, 10}, res::STYLE_GROUP},
            {31, Kind::Button, "hidden", {100, 50, 30, 10}, res::STYLE_HIDDEN},
            {32, Kind::Button, "off", {100, 65, 30, 10}, res::STYLE_DISABLED},
            {40, Kind::Combo, "", {5, 50, 40, 12}, res::STYLE_SORTED | res::STYLE_DROPDOWN},
            {50, Kind::Slider, "", {5, 65, 80, 12}, 0},
            {res::IDC_STATIC, Kind::Label, "label", {5, 80, 40, 8}, 0},
        }};
    return t;
}

struct Event {
    std::string what;
    int value;
};

class RecordingHost : public ui::Host {
public:
    std::vector<std::string> messages;
    std::vector<ui::MsgIcon> icons;
    std::vector<std::string> titles;
    std::vector<int> ended;
    std::vector<uint32_t> timer;
    std::vector<int> focus;
    std::function<void()> whileModal;  // what happens while a modal box is up
    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override {
        messages.push_back(text);
        titles.push_back(title);
        icons.push_back(icon);
        if (whileModal) whileModal();
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest&) override {
        if (whileModal) whileModal();
        return std::nullopt;
    }
    void ShowAbout() override {
        if (whileModal) whileModal();
    }
    void DialogEnded(int result) override { ended.push_back(result); }
    void ControlChanged(int) override {}
    void TimerChanged(uint32_t periodMs) override { timer.push_back(periodMs); }
    void FocusChanged(int id) override { focus.push_back(id); }
};

// A dialog with three bound members and a log of the notifications it sees.
class TestDialog : public ui::Dialog {
public:
    std::string a = "a", b = "bb", c = "ccc";
    std::vector<std::string> log;
    std::function<void()> onChange11;
    std::function<void()> onTick;

    TestDialog() : ui::Dialog(TestTemplate()) {
        BindText(10, &a, 1);
        BindText(11, &b, 2);
        BindText(12, &c, 3);
        for (int id : {10, 11, 12}) {
            OnCommand(ui::EN_CHANGE, id, [this, id] {
                log.push_back("change " + std::to_string(id) + " " + GetText(id));
                if (id == 11 && onChange11) onChange11();
            });
        }
        for (int id : {20, 21, 22, 23, 24, 30, 31, 32}) {
            OnCommand(ui::BN_CLICKED, id, [this, id] {
                log.push_back("click " + std::to_string(id) + " " + (IsChecked(id) ? "1" : "0"));
            });
        }
        OnCommand(ui::BN_DOUBLECLICKED, 22, [this] { log.push_back("dblclick 22"); });
        OnTimer([this] {
            log.push_back("tick");
            if (onTick) onTick();
        });
    }
    using ui::Dialog::UpdateData;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dlg.SetHost(&host);
        dlg.Create();
        dlg.log.clear();
    }
    RecordingHost host;
    TestDialog dlg;
};

TEST_F(DialogTest, CreateLoadsMembersSetsLimitsAndAppliesTemplateStyles) {
    EXPECT_EQ(dlg.GetText(10), "a");
    EXPECT_EQ(dlg.GetText(12), "ccc");
    EXPECT_EQ(dlg.GetControl(11).limit, 2);
    EXPECT_FALSE(dlg.IsVisible(31));
    EXPECT_FALSE(dlg.IsEnabled(32));
    EXPECT_EQ(dlg.GetText(30), "check");
    EXPECT_EQ(dlg.Focus(), 10);  // the first control that takes the focus
    EXPECT_EQ(dlg.ControlIds(),
              (std::vector<int>{10, 11, 12, 20, 21, 22, 23, 24, 30, 31, 32, 40, 50}));
    EXPECT_EQ(dlg.AllControls().size(), 14u);
    EXPECT_THROW(dlg.GetControl(99), std::out_of_range);
}

TEST_F(DialogTest, RadioGroupsFollowGroupStyleAcrossOtherControls) {
    EXPECT_EQ(dlg.GetControl(20).groupLeader, 20);
    EXPECT_EQ(dlg.GetControl(22).groupLeader, 20);  // the check box between does not split
    EXPECT_EQ(dlg.GetControl(23).groupLeader, 23);
    EXPECT_EQ(dlg.GetControl(24).groupLeader, 23);

    dlg.SetCheck(20, true);
    dlg.SetCheck(22, true);  // a program check leaves the partner alone
    EXPECT_TRUE(dlg.IsChecked(20));
    dlg.SetCheck(23, true);
    EXPECT_TRUE(dlg.UserClick(22));  // a user's click clears the partner, not other groups
    EXPECT_FALSE(dlg.IsChecked(20));
    EXPECT_TRUE(dlg.IsChecked(22));
    EXPECT_TRUE(dlg.IsChecked(23));
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"click 22 1"}));
    dlg.UserClick(22);  // clicking a checked radio keeps it checked and still notifies
    EXPECT_TRUE(dlg.IsChecked(22));
    EXPECT_EQ(dlg.log.back(), "click 22 1");
}

TEST_F(DialogTest, UserClicksToggleCheckBoxesAndSkipDisabledOrHiddenControls) {
    EXPECT_TRUE(dlg.UserClick(30));
    EXPECT_TRUE(dlg.UserClick(30));
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"click 30 1", "click 30 0"}));
    EXPECT_FALSE(dlg.UserClick(31));
    EXPECT_FALSE(dlg.UserClick(32));
    dlg.EnableControl(30, false);
    EXPECT_FALSE(dlg.UserClick(30));
    EXPECT_FALSE(dlg.UserClick(10));  // edits are not clicked
    EXPECT_EQ(dlg.log.size(), 2u);
    EXPECT_FALSE(dlg.IsChecked(30));
}

TEST_F(DialogTest, DoubleClickIsAClickThenTheDoubleClickNotification) {
    EXPECT_TRUE(dlg.UserDoubleClick(22));
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"click 22 1", "dblclick 22"}));
}

TEST_F(DialogTest, LimitStopsTypingAndPastingButNeverCutsProgramTexts) {
    dlg.SetText(12, "toolong");  // program texts are set as they are
    EXPECT_EQ(dlg.GetText(12), "toolong");
    EXPECT_EQ(dlg.log.back(), "change 12 toolong");

    dlg.log.clear();
    EXPECT_TRUE(dlg.UserType(12, "wxyz"));  // replaces the selection, then stops at 3
    EXPECT_EQ(dlg.GetText(12), "wxy");
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 12 w", "change 12 wx", "change 12 wxy"}));

    dlg.log.clear();
    EXPECT_TRUE(dlg.UserPaste(12, "123456"));
    EXPECT_EQ(dlg.GetText(12), "123");
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 12 123"}));

    dlg.log.clear();
    EXPECT_TRUE(dlg.UserType(12, ""));  // delete on the selection
    EXPECT_EQ(dlg.GetText(12), "");
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 12 "}));

    dlg.LimitText(12, 0);  // no limit
    dlg.UserPaste(12, std::string(100, 'x'));
    EXPECT_EQ(dlg.GetText(12).size(), 100u);

    dlg.EnableControl(11, false);
    EXPECT_FALSE(dlg.UserType(11, "q"));
    EXPECT_FALSE(dlg.UserPaste(11, "q"));
    EXPECT_EQ(dlg.GetText(11), "bb");
}

TEST_F(DialogTest, UserEditMayShortenAnOverlongProgramTextButNeverGrowPastTheLimit) {
    dlg.SetText(12, "toolong");
    dlg.log.clear();
    EXPECT_TRUE(dlg.UserEdit(12, "toolon"));  // a delete on a program-set text is kept whole
    EXPECT_EQ(dlg.GetText(12), "toolon");
    EXPECT_FALSE(dlg.UserEdit(12, "toolong"));  // growing again past the limit is refused
    EXPECT_FALSE(dlg.UserEdit(12, "toolonX"));
    EXPECT_EQ(dlg.GetText(12), "toolon");
    EXPECT_TRUE(dlg.UserEdit(12, "ab"));
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 12 toolon", "change 12 ab"}));
    dlg.EnableControl(12, false);
    EXPECT_FALSE(dlg.UserEdit(12, "a"));
}

TEST_F(DialogTest, TypingIntoAnEditWhoseHandlerCutsItKeepsGoing) {
    dlg.LimitText(11, 4);
    dlg.onChange11 = [this] {
        if (dlg.GetText(11).size() > 2) dlg.SetText(11, dlg.GetText(11).substr(0, 2));
    };
    dlg.UserType(11, "abcdef");
    EXPECT_EQ(dlg.GetText(11), "ab");
}

TEST_F(DialogTest, SavingStopsAtTheFirstTooLongTextAndKeepsItsOldMember) {
    dlg.SetText(10, "x");
    dlg.SetText(11, "yyy");  // limit 2
    dlg.SetText(12, "zz");
    dlg.LimitText(11, 9);  // changed by hand: the exchange puts it back
    EXPECT_FALSE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.a, "x");    // before the failing one: new text
    EXPECT_EQ(dlg.b, "bb");   // the failing one keeps its old text
    EXPECT_EQ(dlg.c, "ccc");  // later ones are unchanged
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "输入的字符请不要多于 2 个。");
    EXPECT_EQ(host.icons[0], ui::MsgIcon::Exclamation);
    EXPECT_EQ(host.titles[0], ui::Dialog::ProgramName());
    EXPECT_EQ(dlg.Focus(), 11);
    EXPECT_EQ(dlg.GetControl(11).limit, 9);  // the failing edit's limit is not set again

    // Loading afterwards puts the members back: the failing edit shows its old text.
    EXPECT_TRUE(dlg.UpdateData(false));
    EXPECT_EQ(dlg.GetText(11), "bb");
    EXPECT_EQ(dlg.GetText(12), "ccc");
    EXPECT_EQ(dlg.GetControl(11).limit, 2);
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(DialogTest, SavingSetsEachLimitAgainAfterItsMember) {
    dlg.LimitText(10, 7);
    dlg.LimitText(12, 7);
    dlg.SetText(11, "123");
    EXPECT_FALSE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.GetControl(10).limit, 1);  // reached before the failure
    EXPECT_EQ(dlg.GetControl(12).limit, 7);  // not reached
}

TEST_F(DialogTest, LoadingRaisesChangeForEveryEdit) {
    dlg.UpdateData(false);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 10 a", "change 11 bb", "change 12 ccc"}));
}

TEST_F(DialogTest, EnterRunsOkProcessingEscapeAndCloseCancel) {
    dlg.SetText(10, "too long");
    dlg.UserPressEnter();
    EXPECT_FALSE(dlg.IsEnded());  // the failed exchange keeps the dialog open
    EXPECT_EQ(host.messages.size(), 1u);
    dlg.SetText(10, "k");
    dlg.UserPressEnter();
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.Result(), ui::IDOK);
    EXPECT_EQ(dlg.a, "k");
    EXPECT_EQ(host.ended, (std::vector<int>{1}));
    dlg.UserPressEscape();  // nothing after the end
    EXPECT_FALSE(dlg.UserClick(30));
    EXPECT_EQ(host.ended, (std::vector<int>{1}));

    TestDialog other;
    RecordingHost h2;
    other.SetHost(&h2);
    other.Create();
    other.SetText(10, "too long");
    other.UserPressEscape();  // no data exchange
    EXPECT_EQ(other.Result(), ui::IDCANCEL);
    EXPECT_TRUE(h2.messages.empty());

    TestDialog third;
    third.Create();
    third.UserClose();
    EXPECT_EQ(third.Result(), ui::IDCANCEL);
}

TEST_F(DialogTest, TimerTicksOnlyWhileRunningAndNeverInsideAHandler) {
    dlg.TimerTick();
    EXPECT_TRUE(dlg.log.empty());
    dlg.SetTimer(50);
    dlg.SetTimer(10);  // period change while running
    EXPECT_EQ(dlg.TimerPeriod(), 10u);
    EXPECT_EQ(host.timer, (std::vector<uint32_t>{50, 10}));
    int nested = 0;
    dlg.onTick = [&] {
        dlg.TimerTick();  // a tick inside the poll is dropped
        ++nested;
    };
    dlg.TimerTick();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"tick"}));
    dlg.KillTimer();
    dlg.KillTimer();  // stopping a stopped timer says nothing
    EXPECT_EQ(host.timer, (std::vector<uint32_t>{50, 10, 0}));
    dlg.TimerTick();
    EXPECT_EQ(dlg.log.size(), 1u);

    dlg.SetTimer(50);
    dlg.UserPressEscape();  // the timer ends with the dialog
    EXPECT_EQ(dlg.TimerPeriod(), 0u);
}

TEST_F(DialogTest, TimerTicksReachTheDialogWhileAHandlerWaitsInItsOwnModalBox) {
    dlg.SetTimer(10);
    // Each way a handler waits for the user: a message box, a file dialog, the About box.
    const std::vector<std::function<void()>> boxes = {
        [&] { dlg.MessageBox("m"); },
        [&] { dlg.GetHost().MessageBox("m", "t", ui::MsgIcon::None); },
        [&] { dlg.GetHost().FileDialog(ui::FileDialogRequest{}); },
        [&] { dlg.GetHost().ShowAbout(); },
    };
    for (size_t i = 0; i < boxes.size(); ++i) {
        dlg.log.clear();
        int nestedInTick = 0;
        dlg.onTick = [&] {
            dlg.TimerTick();  // the tick's own handler is at work: no tick inside it
            ++nestedInTick;
        };
        host.whileModal = [&] {
            EXPECT_TRUE(dlg.TickCanRun());
            dlg.TimerTick();
            dlg.TimerTick();
        };
        dlg.onChange11 = [&] {
            dlg.TimerTick();  // at work before the box: held back
            boxes[i]();
            dlg.TimerTick();  // the box is closed: held back again
        };
        dlg.UserType(11, "x");
        EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 11 x", "tick", "tick"}))
            << "box " << i;
        EXPECT_EQ(nestedInTick, 2);
    }
    // A box opened by the tick's own handler lets the next tick in, one level deeper.
    dlg.log.clear();
    int depth = 0;
    host.whileModal = [&] {
        if (depth < 2) dlg.TimerTick();
    };
    dlg.onTick = [&] {
        ++depth;
        dlg.MessageBox("from the poll");
    };
    dlg.TimerTick();
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"tick", "tick"}));
    // Once the dialog has ended, nothing.
    host.whileModal = [&] { dlg.TimerTick(); };
    dlg.onTick = nullptr;
    dlg.log.clear();
    dlg.onChange11 = [&] {
        dlg.EndDialog(ui::IDOK);
        dlg.MessageBox("after the end");
    };
    dlg.UserType(11, "y");
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"change 11 y"}));
}

TEST_F(DialogTest, SortedComboAndTrackbar) {
    for (const char* s : {"b", "C", "a"}) dlg.ComboAddString(40, s);
    EXPECT_EQ(dlg.GetControl(40).items, (std::vector<std::string>{"a", "b", "C"}));
    dlg.ComboSetCurSel(40, 2);
    EXPECT_EQ(dlg.GetText(40), "C");
    dlg.ComboAddString(40, "B");  // inserting before the selection keeps it on "C"
    EXPECT_EQ(dlg.GetControl(40).curSel, 3);
    EXPECT_TRUE(dlg.UserType(40, "12"));  // no limit on the combo's text
    EXPECT_EQ(dlg.GetText(40), "12");

    dlg.SliderSetRange(50, 0, 7, false);
    dlg.SliderSetPos(50, 9);
    EXPECT_EQ(dlg.SliderGetPos(50), 7);
    EXPECT_TRUE(dlg.UserSetSlider(50, -3));
    EXPECT_EQ(dlg.SliderGetPos(50), 0);
    dlg.EnableControl(50, false);
    EXPECT_FALSE(dlg.UserSetSlider(50, 3));
    EXPECT_EQ(dlg.SliderGetPos(50), 0);
}

}  // namespace
