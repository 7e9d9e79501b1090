// What the dialog framework needs from a window system: message boxes, file dialogs,
// the About box, the end of the dialog, and a word whenever a control changes so that a
// view can mirror it. The Qt view implements it; so does the headless runner.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ui {

enum class MsgIcon { None, Exclamation };

// File dialog flags (the values of the Win32 common dialogs' OFN_* bits).
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x0002;
constexpr uint32_t OFN_HIDEREADONLY = 0x0004;
constexpr uint32_t OFN_FILEMUSTEXIST = 0x1000;

struct FileDialogRequest {
    bool save = false;         // save-as dialog, else open
    std::string title;         // empty = the platform's default
    std::string initialFile;   // "Setup.cfg" or empty
    std::string defaultExt;    // "cfg" or ".cfg"
    std::string filter;        // "name|pattern|name|pattern||"
    uint32_t flags = 0;        // OFN_* bits
};

class Host {
public:
    virtual ~Host() = default;
    // Modal; returns when the user has closed it (OK).
    virtual void MessageBox(const std::string& text, const std::string& title,
                            MsgIcon icon) = 0;
    // Modal; the chosen full path, or nullopt when cancelled.
    virtual std::optional<std::string> FileDialog(const FileDialogRequest& request) = 0;
    // Runs the About box (template 100) modally.
    virtual void ShowAbout() = 0;
    // The dialog has ended with this result (1 = OK, 2 = Cancel).
    virtual void DialogEnded(int result) = 0;
    // A control's state changed (text, check, enabled, visible, limit, items, position).
    // A view repaints it at once, also in the middle of a handler.
    virtual void ControlChanged(int id) = 0;
    // Timer 1 started (period in ms) or stopped (0).
    virtual void TimerChanged(uint32_t periodMs) = 0;
    // The input focus moved to this control.
    virtual void FocusChanged(int id) = 0;
};

// A host that answers nothing: message boxes are closed at once, file dialogs cancelled.
class NullHost : public Host {
public:
    void MessageBox(const std::string&, const std::string&, MsgIcon) override {}
    std::optional<std::string> FileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    void ShowAbout() override {}
    void DialogEnded(int) override {}
    void ControlChanged(int) override {}
    void TimerChanged(uint32_t) override {}
    void FocusChanged(int) override {}
};

}  // namespace ui
