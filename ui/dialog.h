// Our small dialog framework: a dialog is a table of controls by numeric id, built from a
// template in res/. It keeps the semantics the program's handlers rely on: program-set
// checks do not touch a radio's partners, a length limit stops typing but never cuts a
// text the program sets, setting an edit's text raises its change notification, the data
// exchange checks lengths, and the message map routes notifications to handlers.
// Everything that needs a user goes through a Host.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "res/resources.h"
#include "ui/host.h"

namespace ui {

// Notification codes, as the message map knows them.
enum Notify : int {
    BN_CLICKED = 0,
    BN_DOUBLECLICKED = 5,
    EN_SETFOCUS = 0x0100,
    EN_KILLFOCUS = 0x0200,
    EN_CHANGE = 0x0300,
};

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr uint32_t SC_MASK = 0xFFF0;
constexpr uint32_t SC_CLOSE = 0xF060;

struct Control {
    int id = res::IDC_STATIC;
    res::Kind kind = res::Kind::Label;
    std::string text;  // caption, edit text or combo text (bytes)
    bool visible = true;
    bool enabled = true;
    bool checked = false;
    int limit = 0;                   // edits: input length limit in bytes, 0 = none
    std::vector<std::string> items;  // combo list
    int curSel = -1;
    int pos = 0, rangeMin = 0, rangeMax = 100, ticFreq = 1;  // trackbar
    int groupLeader = res::IDC_STATIC;                       // radio: first radio of its group
    uint32_t style = 0;
    res::Rect rect{};
    // Counts the changes of `text`; `keptBytes` is how many leading bytes the last change
    // left as they were (all of the old text for AppendText, 0 for any other change), so
    // that a view can add the new end instead of showing the whole text again.
    uint64_t textRevision = 0;
    size_t keptBytes = 0;
};

class Dialog {
public:
    explicit Dialog(const res::DialogTemplate& tpl);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    void SetHost(Host* host);  // null = a NullHost
    // The host as handlers use it: its message boxes, file dialogs and About box count as
    // the running handler waiting in a modal loop of its own (timer ticks come through).
    Host& GetHost() { return m_gate; }

    // Builds the controls from the template and runs OnInitDialog.
    void Create();
    bool IsEnded() const { return m_ended; }
    int Result() const { return m_result; }
    void EndDialog(int result);

    const res::DialogTemplate& Template() const { return m_template; }
    // Controls with an id, in id order; and every control in template order.
    std::vector<int> ControlIds() const;
    const std::vector<Control>& AllControls() const { return m_controls; }
    bool HasControl(int id) const;
    const Control& GetControl(int id) const;  // throws std::out_of_range for an unknown id

    // --- Operations on controls, as the handlers use them ---------------------------
    bool IsChecked(int id) const;
    void SetCheck(int id, bool checked);  // never touches the radio's partners
    bool IsEnabled(int id) const;
    void EnableControl(int id, bool enable);
    bool IsVisible(int id) const;
    void ShowControl(int id, bool show);
    std::string GetText(int id) const;
    // Sets the text as is (never cut to the limit); an edit raises EN_CHANGE.
    void SetText(int id, const std::string& text);
    // Adds to the end of the text (an edit's change notification as SetText); the cost
    // follows the added bytes, not the whole text.
    void AppendText(int id, const std::string& bytes);
    void LimitText(int id, int limit);
    void ComboAddString(int id, const std::string& item);  // sorted when the combo is
    void ComboSetCurSel(int id, int index);
    void SliderSetRange(int id, int min, int max, bool redraw);
    void SliderSetTicFreq(int id, int freq);
    void SliderSetPos(int id, int pos);
    int SliderGetPos(int id) const;
    void SetFocus(int id);
    int Focus() const { return m_focus; }
    // Where a view shows the keyboard focus: on the focused control while it takes the
    // focus; while a handler has it disabled or hidden, on the dialog itself (IDC_STATIC),
    // so that no neighbour gets it and acts on the next key, and back on the control when
    // it is enabled again. A modal box that closes gives the focus back to it too.
    int ShownFocus() const;

    // Timer 1 (the only timer): SetTimer starts it or changes its period.
    void SetTimer(uint32_t periodMs);
    void KillTimer();
    uint32_t TimerPeriod() const { return m_timerPeriod; }  // 0 = stopped

    // A message box over this dialog, titled with the program's name.
    void MessageBox(const std::string& text, MsgIcon icon = MsgIcon::None);

    // The window's icon (PNG bytes) and the items appended to its system menu; a view
    // shows them. A separator is an item with command 0 and no text.
    struct MenuItem {
        uint32_t command = 0;
        std::string text;
    };
    void SetIcon(std::vector<uint8_t> png) { m_icon = std::move(png); }
    const std::vector<uint8_t>& Icon() const { return m_icon; }
    void AppendSystemMenu(uint32_t command, const std::string& text);
    const std::vector<MenuItem>& SystemMenu() const { return m_systemMenu; }
    // The system command F1 runs in every view: the system menu's first item (About); 0 when
    // the menu has none.
    uint32_t HelpCommand() const;

    // Data exchange: save = controls to members (with length checks), else members to
    // controls. False when a text was longer than its limit.
    bool UpdateData(bool save = true);

    // --- What a user does (the view and the headless runner call these) ---------------
    // Disabled or hidden controls ignore them; each returns false when ignored.
    bool UserClick(int id);
    // A double click: a click, then BN_DOUBLECLICKED for the second press.
    bool UserDoubleClick(int id);
    bool UserType(int id, const std::string& bytes);   // select all, type byte by byte
    bool UserPaste(int id, const std::string& bytes);  // select all, paste (cut to limit)
    // The user edited the text into `bytes` in one step (a keystroke, cut or paste in a
    // view): one EN_CHANGE. Refused when it would grow past the limit; a text the program
    // set longer than the limit may still be shortened.
    bool UserEdit(int id, const std::string& bytes);
    bool UserSetSlider(int id, int pos);
    void UserPressEnter();   // OK processing
    void UserPressEscape();  // Cancel processing
    void UserClose();        // the close box: Cancel processing
    // Through the message map's WM_SYSCOMMAND handler, else DefaultSysCommand.
    void UserSysCommand(uint32_t command);
    // One WM_TIMER: runs between handlers, or while every running handler waits in a
    // modal box of its own; ignored while the timer is stopped or a handler is at work.
    void TimerTick();

    bool InHandler() const { return m_handlerDepth > 0; }
    // Whether a timer tick would reach the handler now.
    bool TickCanRun() const;

    // The program's name: message box titles. Set once at start-up.
    static void SetProgramName(const std::string& name);
    static const std::string& ProgramName();

protected:
    virtual bool OnInitDialog();  // base: UpdateData(false)
    virtual void OnOK();          // UpdateData(true), then EndDialog(IDOK)
    virtual void OnCancel();      // EndDialog(IDCANCEL)

    // What the platform does with a system command nobody handles: the close item
    // (SC_CLOSE) is Cancel processing, anything else is ignored.
    void DefaultSysCommand(uint32_t command);

    // Binds a string member to an edit, in exchange order, with its length limit.
    void BindText(int id, std::string* member, int limit);

    // The message map.
    using Handler = std::function<void()>;
    void OnCommand(int code, int id, Handler handler);
    void OnTimer(Handler handler);
    void OnSysCommand(std::function<void(uint32_t)> handler);

private:
    // Forwards to the host; counts the modal boxes a handler waits in.
    class ModalGate : public Host {
    public:
        explicit ModalGate(Dialog& dialog) : m_dialog(dialog) {}
        void MessageBox(const std::string& text, const std::string& title, MsgIcon icon) override;
        std::optional<std::string> FileDialog(const FileDialogRequest& request) override;
        void ShowAbout() override;
        void DialogEnded(int result) override { m_dialog.m_host->DialogEnded(result); }
        void ControlChanged(int id) override { m_dialog.m_host->ControlChanged(id); }
        void TimerChanged(uint32_t periodMs) override { m_dialog.m_host->TimerChanged(periodMs); }
        void FocusChanged(int id) override { m_dialog.m_host->FocusChanged(id); }

    private:
        Dialog& m_dialog;
    };

    struct Binding {
        int id;
        std::string* member;
        int limit;
    };
    Control& Ctl(int id);
    const Control& Ctl(int id) const;
    void Changed(int id);
    void Notify(int code, int id);
    void RunHandler(const Handler& h);

    const res::DialogTemplate& m_template;
    std::vector<Control> m_controls;
    std::map<int, size_t> m_index;  // id -> position in m_controls
    std::vector<Binding> m_bindings;
    std::map<std::pair<int, int>, Handler> m_commands;  // (code, id)
    Handler m_onTimer;
    std::function<void(uint32_t)> m_onSysCommand;
    std::vector<uint8_t> m_icon;
    std::vector<MenuItem> m_systemMenu;
    NullHost m_nullHost;
    Host* m_host = &m_nullHost;
    ModalGate m_gate{*this};
    int m_modalWaits = 0;  // handlers waiting in a modal box
    uint32_t m_timerPeriod = 0;
    int m_focus = res::IDC_STATIC;
    int m_handlerDepth = 0;
    bool m_ended = false;
    int m_result = 0;
};

}  // namespace ui
