#include "ui/dialog_keys.h"

namespace ui {

namespace {

bool IsFrameOrText(res::Kind kind) {
    return kind == res::Kind::Label || kind == res::Kind::Group || kind == res::Kind::Icon;
}

// Template position of a control id; the template's size when there is none.
size_t PositionOf(const Dialog& dialog, int id) {
    const std::vector<Control>& controls = dialog.AllControls();
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i].id == id && id != res::IDC_STATIC) return i;
    return controls.size();
}

bool GroupHasCheckedRadio(const Dialog& dialog, size_t index) {
    const auto [first, end] = GroupBounds(dialog.Template(), index);
    for (size_t i = first; i < end; ++i) {
        const Control& c = dialog.AllControls()[i];
        if (c.kind == res::Kind::Radio && c.checked) return true;
    }
    return false;
}

bool IsTabStopNow(const Dialog& dialog, size_t index) {
    const Control& c = dialog.AllControls()[index];
    if (!TakesFocus(c)) return false;
    if (c.kind != res::Kind::Radio) return HasTabStopStyle(dialog.Template().controls[index]);
    if (c.checked) return true;
    return HasTabStopStyle(dialog.Template().controls[index]) &&
           !GroupHasCheckedRadio(dialog, index);
}

}  // namespace

bool HasTabStopStyle(const res::ControlTemplate& c) {
    switch (c.kind) {
        case res::Kind::Edit:
        case res::Kind::Check:
        case res::Kind::Button:
        case res::Kind::Combo:
        case res::Kind::Slider:
            return true;
        case res::Kind::Radio:
            return (c.style & res::STYLE_GROUP) != 0;
        case res::Kind::Label:
        case res::Kind::Group:
        case res::Kind::Icon:
            return false;
    }
    return false;
}

std::pair<size_t, size_t> GroupBounds(const res::DialogTemplate& tpl, size_t index) {
    const std::vector<res::ControlTemplate>& controls = tpl.controls;
    if (index >= controls.size()) return {controls.size(), controls.size()};
    size_t first = index;
    while (first > 0 && !(controls[first].style & res::STYLE_GROUP)) --first;
    size_t end = index + 1;
    while (end < controls.size() && !(controls[end].style & res::STYLE_GROUP)) ++end;
    return {first, end};
}

bool TakesFocus(const Control& c) {
    return c.id != res::IDC_STATIC && c.visible && c.enabled && !IsFrameOrText(c.kind);
}

bool DialogTakesArrows(res::Kind kind) {
    return kind == res::Kind::Button || kind == res::Kind::Check || kind == res::Kind::Radio;
}

std::vector<int> TabStops(const Dialog& dialog) {
    std::vector<int> stops;
    for (size_t i = 0; i < dialog.AllControls().size(); ++i)
        if (IsTabStopNow(dialog, i)) stops.push_back(dialog.AllControls()[i].id);
    return stops;
}

KeyMove WhereKeyGoes(const Dialog& dialog, int from, DialogKey key) {
    const std::vector<Control>& controls = dialog.AllControls();
    const size_t count = controls.size();
    const size_t at = PositionOf(dialog, from);
    if (count == 0) return {};
    if (key == DialogKey::Tab || key == DialogKey::BackTab) {
        const bool forward = key == DialogKey::Tab;
        // From nowhere, Tab starts before the first control and Shift+Tab after the last.
        size_t i = at < count ? at : (forward ? count - 1 : 0);
        for (size_t step = 0; step < count; ++step) {
            i = forward ? (i + 1) % count : (i + count - 1) % count;
            if (IsTabStopNow(dialog, i)) return {controls[i].id, false};
        }
        return {};
    }
    if (at >= count || !DialogTakesArrows(controls[at].kind)) return {};
    const bool forward = key == DialogKey::Right || key == DialogKey::Down;
    const auto [first, end] = GroupBounds(dialog.Template(), at);
    const size_t size = end - first;
    size_t i = at;
    for (size_t step = 0; step < size; ++step) {
        i = first + (forward ? (i - first + 1) % size : (i - first + size - 1) % size);
        if (i == at) break;  // nothing else in the group takes the focus
        if (TakesFocus(controls[i])) {
            const Control& c = controls[i];
            return {c.id, c.kind == res::Kind::Radio && !c.checked};
        }
    }
    return {from, false};
}

bool UserKey(Dialog& dialog, DialogKey key) {
    if (dialog.IsEnded() || dialog.InHandler()) return false;
    const KeyMove move = WhereKeyGoes(dialog, dialog.Focus(), key);
    if (move.focus == res::IDC_STATIC) return false;
    dialog.SetFocus(move.focus);
    if (move.choose) dialog.UserClick(move.focus);
    return true;
}

}  // namespace ui
