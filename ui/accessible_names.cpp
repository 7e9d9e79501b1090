#include "ui/accessible_names.h"

#include <string_view>

namespace ui {

namespace {

bool Inside(const res::Rect& inner, const res::Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

bool Overlaps(int a, int aLen, int b, int bLen) {
    return a < b + bLen && b < a + aLen;
}

// The length of the blank that `s` starts with (0 for none), in the sense of Qt's
// QChar::isSpace, so that the page trims as the Qt window does: ASCII 9 to 13 and the
// space, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
size_t BlankAt(std::string_view s) {
    if (s.empty()) return 0;
    const auto b = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    if (b(0) == ' ' || (b(0) >= '\t' && b(0) <= '\r')) return 1;
    if (b(0) == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;
    if (b(0) == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3;
    if (b(0) == 0xE2 && b(1) == 0x80 &&
        (b(2) <= 0x8A || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF) && b(2) >= 0x80)
        return 3;
    if (b(0) == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3;
    if (b(0) == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3;
    return 0;
}

// The length of the blank that `s` ends with (0 for none).
size_t BlankBefore(std::string_view s) {
    for (size_t n = 1; n <= 3 && n <= s.size(); ++n)
        if (BlankAt(s.substr(s.size() - n)) == n) return n;
    return 0;
}

std::string Trimmed(std::string_view s) {
    while (const size_t n = BlankAt(s)) s.remove_prefix(n);
    while (const size_t n = BlankBefore(s)) s.remove_suffix(n);
    return std::string(s);
}

}  // namespace

std::string PlainCaption(std::string_view caption) {
    return Trimmed(caption);
}

int GroupBoxOf(const res::DialogTemplate& tpl, size_t index) {
    const res::ControlTemplate& c = tpl.controls.at(index);
    int group = -1;
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& o = tpl.controls[i];
        if (i == index || o.kind != res::Kind::Group || !Inside(c.rect, o.rect)) continue;
        if (group < 0 || Inside(o.rect, tpl.controls[static_cast<size_t>(group)].rect))
            group = static_cast<int>(i);
    }
    return group;
}

std::string AccessibleNameOf(const res::DialogTemplate& tpl, size_t index, int* labelIndex) {
    if (labelIndex) *labelIndex = -1;
    const res::ControlTemplate& c = tpl.controls.at(index);
    if (c.kind != res::Kind::Edit && c.kind != res::Kind::Combo && c.kind != res::Kind::Slider)
        return {};
    const int groupIndex = GroupBoxOf(tpl, index);
    const res::ControlTemplate* group =
        groupIndex >= 0 ? &tpl.controls[static_cast<size_t>(groupIndex)] : nullptr;
    // Only captions in the same group box name the control.
    const res::ControlTemplate* beside = nullptr;
    const res::ControlTemplate* above = nullptr;
    for (const res::ControlTemplate& o : tpl.controls) {
        if (o.caption.empty() || (o.style & res::STYLE_HIDDEN)) continue;
        if (group && !Inside(o.rect, group->rect)) continue;
        const bool captioned =
            o.kind == res::Kind::Label || o.kind == res::Kind::Check || o.kind == res::Kind::Radio;
        if (captioned && Overlaps(o.rect.y, o.rect.h, c.rect.y, c.rect.h) &&
            o.rect.x + o.rect.w <= c.rect.x + 2 && (!beside || o.rect.x > beside->rect.x))
            beside = &o;
        // A column label: above, over the middle of the control, at most two rows up.
        const int middle = c.rect.x + c.rect.w / 2;
        if (o.kind == res::Kind::Label && o.rect.x <= middle && middle < o.rect.x + o.rect.w &&
            o.rect.y + o.rect.h <= c.rect.y && c.rect.y - o.rect.y <= 2 * 17 &&
            (!above || o.rect.y > above->rect.y))
            above = &o;
    }
    if (labelIndex && beside && beside->kind == res::Kind::Label)
        *labelIndex = static_cast<int>(beside - tpl.controls.data());
    if (beside && above) {
        std::string row = PlainCaption(beside->caption);
        if (!row.empty() && row.back() == ':') row.pop_back();
        return row + ' ' + PlainCaption(above->caption);
    }
    if (beside) {
        // A label can also carry the hint of the control before it, after two blanks
        // ("[Max:2 digits]  Track 2 End:"): the control's own caption is the last part, and
        // its hint ("[...]") the first part of the label right of it.
        std::string name = PlainCaption(beside->caption);
        if (const size_t split = name.rfind("  "); split != std::string::npos)
            name = Trimmed(std::string_view(name).substr(split));
        const res::ControlTemplate* after = nullptr;
        for (const res::ControlTemplate& o : tpl.controls) {
            if (o.kind == res::Kind::Label && Overlaps(o.rect.y, o.rect.h, c.rect.y, c.rect.h) &&
                o.rect.x >= c.rect.x + c.rect.w - 2 && (!after || o.rect.x < after->rect.x))
                after = &o;
        }
        if (after) {
            std::string hint = PlainCaption(after->caption);
            if (const size_t split = hint.find("  "); split != std::string::npos)
                hint = hint.substr(0, split);
            // A field inside an option's sentence ("remains [n] space") is named by the
            // whole sentence, so that it is not taken for the option itself.
            const bool inSentence =
                beside->kind == res::Kind::Radio || beside->kind == res::Kind::Check;
            if (!hint.empty() && (hint[0] == '[' || inSentence)) name += ' ' + hint;
        }
        return name;
    }
    if (above) return PlainCaption(above->caption);
    return group ? PlainCaption(group->caption) : std::string();
}

namespace {

// The check box that heads radio `index`'s row: left of it, in the same group box.
const res::ControlTemplate* RowHeadOf(const res::DialogTemplate& tpl, size_t index) {
    const res::ControlTemplate& c = tpl.controls.at(index);
    if (c.kind != res::Kind::Radio) return nullptr;
    const int group = GroupBoxOf(tpl, index);
    // The check box that heads the radio's row: left of it, in the same group box.
    const res::ControlTemplate* head = nullptr;
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& o = tpl.controls[i];
        if (o.kind != res::Kind::Check || !Overlaps(o.rect.y, o.rect.h, c.rect.y, c.rect.h) ||
            o.rect.x >= c.rect.x || GroupBoxOf(tpl, i) != group)
            continue;
        if (!head || o.rect.x > head->rect.x) head = &o;
    }
    return head;
}

}  // namespace

std::string RowNameOf(const res::DialogTemplate& tpl, size_t index) {
    const res::ControlTemplate* head = RowHeadOf(tpl, index);
    if (!head) return {};
    return PlainCaption(head->caption) + ": " + PlainCaption(tpl.controls[index].caption);
}

std::string RadioGroupNameOf(const res::DialogTemplate& tpl, size_t index) {
    if (const res::ControlTemplate* head = RowHeadOf(tpl, index)) return PlainCaption(head->caption);
    const int box = GroupBoxOf(tpl, index);
    return box >= 0 ? PlainCaption(tpl.controls[static_cast<size_t>(box)].caption) : std::string();
}

}  // namespace ui
