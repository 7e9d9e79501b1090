// A dialog of the framework shown as a real window: one widget per control of its
// template, kept equal to the model, and every user action handed to the model's User*
// calls. It is also the model's Host (message boxes, file dialogs, the About box, timer 1).
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/clock.h"
#include "gui/qt/text_codec.h"
#include "res/resources.h"
#include "ui/dialog.h"
#include "ui/host.h"
#include "ui/view_driver.h"

class QMessageBox;
class QPlainTextEdit;

namespace gui {

class Announcer;
class CoalescedTextEvents;

// What a test box shows, read from its widget: long runs of text are kept in blocks of
// bounded length (split where the box wraps a line anyway), and those splits are no line
// breaks of the text.
QString ShownTestBoxText(const QPlainTextEdit* box);

// Makes a message box wide enough to show its whole title.
void WidenForTitle(QMessageBox& box);

class DialogView : public QWidget, public ui::Host, private ui::ViewAdapter {
    Q_OBJECT

public:
    // A view with a parent is a modal dialog over it (the About box). `available` is the
    // screen area the dialog is laid out for; empty: its screen's. `scale` is the window's
    // own scale (ScaleFromEnvironment when 0).
    explicit DialogView(const res::DialogTemplate& tpl, QWidget* parent = nullptr,
                        QSize available = {}, double scale = 0);
    ~DialogView() override;

    // Mirrors the dialog's controls from now on. The dialog's host should be this view.
    void Attach(ui::Dialog* dialog);
    ui::Dialog* Model() const { return m_dialog; }

    // With the in-process simulation the clock is virtual: it is moved up to the real
    // time that has passed before each model call, so simulated answers arrive.
    void PaceVirtualClock(zarn::VirtualClock* clock) { m_driver.PaceVirtualClock(clock); }

    // With a simulated reader: the window's right-click menu offers "Swipe a test card"
    // with a few sample cards, which `simulator` (a `sim ...` command of the headless
    // runner, without "sim ") passes through the reader's slot.
    using Simulator = std::function<bool(const std::string& command, std::string* error)>;
    void OfferTestCards(Simulator simulator) { m_simulator = std::move(simulator); }
    struct TestCard {
        const char* name;
        const char* tracks;  // "T1|T2|T3" without sentinels
    };
    static const std::vector<TestCard>& TestCards();
    void SwipeTestCard(const TestCard& card);

    // Shows the window and runs its events until the dialog has ended; the result.
    int Exec();

    // The widget of a control id (null for an unknown id), and every control's widget in
    // template order.
    QWidget* ControlWidget(int id) const;
    const std::vector<QWidget*>& TemplateWidgets() const { return m_widgets; }
    const QTimer& Timer1() const { return m_timer; }
    // Characters the test boxes have rendered, inserted and had laid out again since the
    // start: the work of showing text, which must follow the new text, not all of it.
    uint64_t TestBoxWork() const { return m_testBoxWork; }
    // What tells a screen reader about new text of the test box.
    Announcer& TestBoxAnnouncer() const { return *m_announcer; }
    // Bytes the receive poll appends may wait for the end of a frame; this puts them in
    // now (the frame's work; also done before anything reads or replaces a box's text,
    // and before the user acts on the window).
    void ShowAppendedText();

    // ui::Host
    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override;
    std::optional<std::string> FileDialog(const ui::FileDialogRequest& request) override;
    void ShowAbout() override;
    void DialogEnded(int result) override;
    void ControlChanged(int id) override;
    void TimerChanged(uint32_t periodMs) override;
    void FocusChanged(int id) override;

signals:
    void dialogEnded(int result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // ui::ViewAdapter: a busy cursor while a user action runs.
    void BeginUserAction(bool busy) override;
    void EndUserAction(bool busy) override;
    void Mirror(size_t index) override;

    void GiveFocus(QWidget* w);
    // After a modal box over the window has closed: the window active, the focus back.
    void ReturnFromModal();
    ui::ViewDriver::TestBoxChange MirrorTestBox(size_t index, const ui::Control& c);
    void FillTestBox(QPlainTextEdit* box, QStringView display);
    void AddToTestBox(QPlainTextEdit* box, QStringView display, qsizetype from);
    void ShowAppendedText(size_t index);
    bool AppendedTextWaits() const;
    void StartFrame();
    void Connect(size_t index);
    void UserClicked(size_t index);
    int IndexOfWidget(const QWidget* widget) const;  // the control a widget belongs to
    void RunSystemCommand(uint32_t command);
    // The window's menu (the system menu's items, the test cards) at `at`; from the keyboard
    // with its first item active.
    void ShowWindowMenu(QPoint at, bool fromKeyboard);
    bool HandleKey(QWidget* target, QKeyEvent* key);
    bool HandleDialogKey(QWidget* target, QKeyEvent* key);

    const res::DialogTemplate& m_template;
    ui::Dialog* m_dialog = nullptr;
    ui::ViewDriver m_driver;
    std::vector<QWidget*> m_widgets;  // template order, like the model's controls
    std::map<int, size_t> m_index;    // id -> template position
    struct TestBoxLayout {
        int width = -1;                         // the width its blocks were split for
        bool fontGiven = false;                 // UseTestBoxFont done (with its first text)
        uint64_t revision = UINT64_MAX;         // the model's text last shown (for announcing)
        CoalescedTextEvents* events = nullptr;  // for the poll's appends
        // Text appended since the last frame waits for the next: display[pendingFrom, end)
        // is received and rendered but not yet in the box (-1: nothing waits).
        qsizetype pendingFrom = -1;
    };
    std::map<size_t, TestBoxLayout> m_testBoxes;  // multi-line edits, by template position
    uint64_t m_testBoxWork = 0;
    QTimer m_timer;
    QTimer m_frame;  // single shot: the end of the running frame for appended text
    ui::AppendFrames m_frames;
    int m_mirroring = 0;
    int m_busy = 0;
    QWidget* m_doubleClicked = nullptr;
    Announcer* m_announcer = nullptr;
    Simulator m_simulator;
};

}  // namespace gui
