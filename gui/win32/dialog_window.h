// A dialog of the framework as a real Win32 dialog built from its template: every control
// kept equal to the model, every user action handed to the model's User* calls. It is
// also the model's Host: message boxes, file dialogs, the About box and timer 1.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "gui/win32/text16.h"
#include "gui/win32/win32_api.h"
#include "ui/view_driver.h"

namespace gui::win32 {

// The timer that runs the dialog's timer 1 (the receive poll).
constexpr UINT_PTR kTimer1Id = 1;
// The frame that gives the test box the bytes appended since the last one.
constexpr UINT_PTR kFrameTimerId = 2;

class DialogWindow : public ui::Host, private ui::ViewAdapter {
public:
    // A window with an owner is a modal dialog over it (the About box), created by
    // RunModal; one without is created now, hidden, and shown by Show.
    DialogWindow(const res::DialogTemplate& tpl, HWND owner);
    ~DialogWindow() override;
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Mirrors the dialog's controls from now on. The dialog's host should be this window.
    void Attach(ui::Dialog* dialog);
    ui::Dialog* Model() const { return m_dialog; }
    // With the in-process simulation the clock is virtual: it is moved up to the real
    // time that has passed before each model call, so simulated answers arrive.
    void PaceVirtualClock(zarn::VirtualClock* clock) { m_driver.PaceVirtualClock(clock); }

    HWND Handle() const { return m_hwnd; }
    // Shows the modeless window with the model's focus.
    void Show();
    // Shows the window and runs messages until the dialog has ended; the result.
    int Exec();
    // The modal form: runs the dialog box over the owner until it has ended.
    int RunModal();
    bool Ended() const { return m_ended; }

    // ui::Host
    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override;
    std::optional<std::string> FileDialog(const ui::FileDialogRequest& request) override;
    void ShowAbout() override;
    void DialogEnded(int result) override;
    void ControlChanged(int id) override;
    void TimerChanged(uint32_t periodMs) override;
    void FocusChanged(int id) override;

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void OnInit(HWND hwnd);
    bool OnCommand(int code, int id, HWND control);
    // ui::ViewAdapter: the wait cursor, the model's focus first and, after the action,
    // every control as the model decided (over the controls' own reactions).
    void BeginUserAction(bool busy) override;
    void EndUserAction(bool busy) override;
    void Mirror(size_t index) override;

    void SyncFocus();
    // After a modal box over the dialog has closed: the dialog active, the focus back.
    void ReturnFromModal();
    void ShowContextMenu(int x, int y);
    // A menu item of the system or the context menu: drawn here in the dialog's face when
    // the system's menu font lacks its characters.
    void AppendMenuText(HMENU menu, uint32_t command, const std::wstring& text);
    bool OwnsMenuItem(ULONG_PTR data) const;
    void MirrorAll();
    // True when the change waits for the next frame (bytes the receive poll appended).
    bool MirrorTestBox(size_t index);
    // Gives the test boxes the bytes appended since the last frame (the frame timer's work;
    // also before a box's text is replaced and before the user's input reaches the window).
    void ShowAppendedText();
    void ShowAppendedText(size_t index);
    static LRESULT CALLBACK TestBoxProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                        DWORD_PTR window);
    int IndexOf(HWND control) const;
    void SetIcons();

    const res::DialogTemplate& m_template;
    HWND m_owner;
    HWND m_hwnd = nullptr;
    std::vector<WORD> m_dlgTemplate;
    ui::Dialog* m_dialog = nullptr;
    ui::ViewDriver m_driver;
    std::vector<HWND> m_controls;      // template order, like the model's controls
    std::map<int, size_t> m_index;     // id -> template position
    std::map<size_t, int> m_comboSel;  // editable combo boxes: the model's selection shown
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HFONT m_menuFont = nullptr;
    HFONT m_boxFont = nullptr;  // the test box's, when the dialog's face lacks its symbols
    std::vector<std::unique_ptr<std::wstring>> m_menuTexts;  // items drawn here
    HCURSOR m_cursorBefore = nullptr;  // under the wait cursor of a user action
    uint32_t m_timerPeriod = 0;
    // Test boxes with bytes waiting for the frame: the display position from which the
    // edit lacks them.
    std::map<size_t, size_t> m_waitingFrom;
    ui::AppendFrames m_frames;
    int m_mirroring = 0;
    int m_busy = 0;
    int m_paused = 0;
    bool m_ended = false;
    int m_result = 0;
    HWND m_doubleClicked = nullptr;
};

}  // namespace gui::win32
