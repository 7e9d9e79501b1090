// What crosses between the page's script and the dialog, as text: the templates the page
// builds its controls from, each control's state when the model changes it, and the
// texts the user types. JSON out; UTF-8 in. Plain C++, so it is tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "res/resources.h"
#include "ui/dialog.h"
#include "ui/host.h"

namespace gui::web {

// A JSON string literal (quotes included) of UTF-8 text; a byte that is not part of valid
// UTF-8 becomes U+FFFD.
std::string JsonString(std::string_view utf8);
// A JSON string literal of an edit's bytes, one character per byte (Latin-1), as every
// view shows them.
std::string JsonBytes(std::string_view bytes);
// A JSON string literal of UTF-16 text (the test box as it is shown).
std::string JsonU16(std::u16string_view text);

// UTF-8 text from the page into UTF-16 (U+FFFD for what is not valid UTF-8).
std::u16string Utf8ToU16(std::string_view utf8);
// What the user typed into an edit, as the edit's bytes: a character above U+00FF is no
// byte and becomes '?', as in an ANSI edit.
std::string TypedToBytes(std::string_view utf8);

// The template as the page builds it: {"caption", "width", "height", "font", "points",
// "controls": [{"id", "kind", "caption", "x", "y", "w", "h", "style", "box" (the group box
// it lies in, -1), "name" (its accessible name, or ""), "label" (the label that names it
// alone, -1), "group" (a radio's first radio of its group, as `model` built it; -1),
// "groupName" (for the first radio of a group: the group's name)}]}, controls in template
// (tab) order.
std::string TemplateJson(const res::DialogTemplate& tpl, const ui::Dialog& model);

// One control's state: {"text", "visible", "enabled", "checked", "limit", "items",
// "sel", "pos", "min", "max"}; the text of a test box is `shown` (what the view shows for
// its bytes) and `announce` the part a screen reader should hear now ("" for nothing).
std::string ControlJson(const ui::Control& c);
std::string TestBoxJson(const ui::Control& c, std::u16string_view shown,
                        std::u16string_view announce);
// Bytes the receive poll appended: {"append", "from", "frame", "atOnce", ...state}, the
// shown text's new end from the position `from` (UTF-16 units of the shown text), which
// the page puts in as ui::AppendFrames says (frames of "frame" ms after the first
// "atOnce" bytes of a burst); the new text is also what a screen reader hears.
std::string TestBoxAppendJson(const ui::Control& c, std::u16string_view added, size_t from);

// The file dialog a handler asks for: {"save", "title", "file", "ext", "types": [{"name",
// "patterns": [".cfg", ...]}]}; "*.*" is every file, so it gives no pattern.
std::string FileRequestJson(const ui::FileDialogRequest& request);

// The system menu's items with a command: [{"command", "text", "key"}], "key" the
// mnemonic letter ("(&A)" gives "a") or "", text without the '&'.
std::string MenuJson(const ui::Dialog& dialog);

}  // namespace gui::web
