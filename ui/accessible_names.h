// What a screen reader calls each control of a template, for views that name their
// controls from the template alone: the group box a control lies in, the name of an edit,
// combo or trackbar from the captions beside or above it, a radio button's row.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "res/resources.h"

namespace ui {

// The innermost group box around control `index` (template order), or -1.
int GroupBoxOf(const res::DialogTemplate& tpl, size_t index);

// The name of an edit, combo box or trackbar: the caption left of it in the same group box
// (with a column label above, "Track 1 Start"; with a hint right of it, "End: [Max:2
// digits]"), else the column label, else the group box's caption. Empty for other kinds.
// *labelIndex, when given, is the label that names it alone (-1 when none).
std::string AccessibleNameOf(const res::DialogTemplate& tpl, size_t index,
                             int* labelIndex = nullptr);

// A radio button in a row headed by a check box: "Head: Radio". Empty otherwise.
std::string RowNameOf(const res::DialogTemplate& tpl, size_t index);

// The name of the radio group that radio `index` leads: the check box heading its row,
// else the group box it lies in. Empty when it has neither.
std::string RadioGroupNameOf(const res::DialogTemplate& tpl, size_t index);

// The caption as people read it: without the blanks that pad it in the template
// (those that Qt trims, Unicode ones too).
std::string PlainCaption(std::string_view caption);

}  // namespace ui
