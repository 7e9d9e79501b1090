// Dialog templates of res/ as the platform's in-memory DLGTEMPLATEEX, so that the dialog
// manager itself lays out the controls in dialog units, keeps the tab order and the
// default button, and moves between the radios of a WS_GROUP group.
#pragma once

#include <string>
#include <vector>

#include "gui/win32/win32_api.h"

namespace gui::win32 {

// The window class and styles a control of a template is created with.
struct ControlClass {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};
ControlClass ClassOf(const res::ControlTemplate& control);

// Dialog units added below a drop-down combo for its list: the template gives the height
// of the closed box only.
constexpr int kComboListHeight = 80;

// The whole template, WORD-aligned as the platform reads it. `face` replaces the
// template's face when it is not empty. A main window gets a taskbar button.
std::vector<WORD> BuildDialogTemplate(const res::DialogTemplate& tpl, const std::wstring& face,
                                      bool mainWindow);

// The template's face when the machine has it, else the first installed face of a list
// that has the Chinese captions' characters (on Wine: the host's CJK fonts).
std::wstring DialogFace(const res::DialogTemplate& tpl);

}  // namespace gui::win32
