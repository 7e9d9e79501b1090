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
// template's face when it is not empty, `points` the template's size when not 0. A main
// window gets a taskbar button.
std::vector<WORD> BuildDialogTemplate(const res::DialogTemplate& tpl, const std::wstring& face,
                                      bool mainWindow, int points = 0);

// The dialog's size in pixels with its frame, laid out in `face` at `points`, as the
// dialog manager sizes it (its units are a quarter of the face's average character width
// and an eighth of its height).
SIZE DialogPixels(const res::DialogTemplate& tpl, const std::wstring& face, int points);

// The template's point size when the dialog fits `area` (a work area in pixels), else the
// largest smaller one at which it does (at least 6; the dialog's units follow the face, so
// every caption keeps its room).
int FittingPoints(const res::DialogTemplate& tpl, const std::wstring& face, SIZE area);

// The template's face when the machine has it, else the first installed face of a list
// that has the Chinese captions' characters (on Wine: the host's CJK fonts).
std::wstring DialogFace(const res::DialogTemplate& tpl);

// Whether `font` has a glyph of its own for every character of `text` (line breaks aside).
bool FontHasGlyphs(HFONT font, const std::wstring& text);

// The test box's font: `dialogFont`'s size and weight in the first face that has a glyph
// for every character the box shows for the bytes 0 to 255 (the control symbols, the line
// ends' symbols, the bracketed values, the code page's characters), the dialog's own face
// first. Null when the dialog's face has them all or no face does: the box keeps the
// dialog's font. The caller deletes a font it gets.
HFONT TestBoxFont(HFONT dialogFont);

// A message box laid out in `face`, for texts the system's message font cannot show
// (Chinese on a system without linked fonts): the icon, the text, an OK button. Returns
// when it is closed.
void FacedMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                     bool exclamation, const std::wstring& face);

}  // namespace gui::win32
