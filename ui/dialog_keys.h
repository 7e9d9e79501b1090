// The keyboard of a dialog as the platform's dialog manager handles it: Tab and Shift+Tab
// go from tab stop to tab stop in template order; the arrow keys move inside the group of
// the focused control and choose a radio button they land on. Groups come from the
// template's group style (a group runs from one control with STYLE_GROUP to the next) and
// tab stops from the tab-stop style each kind of control has in the template; of a radio
// group only the checked radio is a tab stop.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "res/resources.h"
#include "ui/dialog.h"

namespace ui {

enum class DialogKey { Tab, BackTab, Left, Right, Up, Down };

// The tab-stop style (WS_TABSTOP) the template gives a control: edits, check boxes, push
// buttons, combo boxes and trackbars have it, of the radio buttons only the first of each
// group, labels, frames and icons never.
bool HasTabStopStyle(const res::ControlTemplate& c);

// The group of the control at template position `index`: its first position and one past
// its last.
std::pair<size_t, size_t> GroupBounds(const res::DialogTemplate& tpl, size_t index);

// A control the focus can move to now: visible, enabled, and no label, frame or icon.
bool TakesFocus(const Control& c);

// Whether the dialog keeps the arrow keys when this kind of control has the focus (push
// buttons, check boxes and radio buttons); edits, combo boxes and trackbars use them.
bool DialogTakesArrows(res::Kind kind);

// The tab stops as they are now, in tab order. A radio is one when it is checked, or when
// none of its group is checked and it has the tab-stop style, so that a group with nothing
// chosen can still be reached.
std::vector<int> TabStops(const Dialog& dialog);

// Where a key moves the focus from the control `from`: the control (IDC_STATIC when the key
// is not the dialog's there) and whether that control is chosen (a radio the arrows land on).
struct KeyMove {
    int focus = res::IDC_STATIC;
    bool choose = false;
};
KeyMove WhereKeyGoes(const Dialog& dialog, int from, DialogKey key);

// The user presses the key with the focus where the dialog has it: the focus moves and a
// radio the arrows land on is clicked. False when the key is not the dialog's there.
bool UserKey(Dialog& dialog, DialogKey key);

}  // namespace ui
