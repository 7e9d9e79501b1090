#include "gui/web/bridge.h"

#include <cctype>
#include <cstdio>

#include "ui/accessible_names.h"
#include "ui/test_box_text.h"
#include "ui/view_driver.h"

namespace gui::web {

namespace {

void AppendEscaped(std::string& out, char32_t c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    // Control characters, and the two line separators a script source would break at.
    if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        out += buf;
        return;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next code point of UTF-8 text at *i, U+FFFD for a byte that starts none.
char32_t NextCodePoint(std::string_view s, size_t* i) {
    const auto b = static_cast<unsigned char>(s[*i]);
    size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || *i + len > s.size()) {
        ++*i;
        return 0xFFFD;
    }
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        const auto t = static_cast<unsigned char>(s[*i + k]);
        if ((t & 0xC0) != 0x80) {
            ++*i;
            return 0xFFFD;
        }
        c = (c << 6) | (t & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++*i;
        return 0xFFFD;
    }
    *i += len;
    return c;
}

std::string Bool(bool b) { return b ? "true" : "false"; }

}  // namespace

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size();) AppendEscaped(out, NextCodePoint(utf8, &i));
    return out + "\"";
}

std::string JsonBytes(std::string_view bytes) {
    std::string out = "\"";
    for (char b : bytes) AppendEscaped(out, static_cast<unsigned char>(b));
    return out + "\"";
}

std::string JsonU16(std::u16string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendEscaped(out, c);
    }
    return out + "\"";
}

std::u16string Utf8ToU16(std::string_view utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const char32_t c = NextCodePoint(utf8, &i);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string TypedToBytes(std::string_view utf8) {
    return ui::U16ToBytes(Utf8ToU16(utf8));
}

std::string TemplateJson(const res::DialogTemplate& tpl, const ui::Dialog& model) {
    const std::vector<ui::Control>& all = model.AllControls();
    std::string out = "{\"caption\":" + JsonString(ui::PlainCaption(tpl.caption)) +
                      ",\"width\":" + std::to_string(tpl.width) +
                      ",\"height\":" + std::to_string(tpl.height) +
                      ",\"font\":" + JsonString(tpl.fontName) +
                      ",\"points\":" + std::to_string(tpl.fontPoints) + ",\"controls\":[";
    static constexpr const char* kKinds[] = {"edit",   "check", "radio", "button", "combo",
                                             "slider", "label", "group", "icon"};
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& c = tpl.controls[i];
        int label = -1;
        std::string name = ui::AccessibleNameOf(tpl, i, &label);
        if (name.empty()) name = ui::RowNameOf(tpl, i);
        int group = -1;
        if (c.kind == res::Kind::Radio && i < all.size())
            for (size_t k = 0; k < all.size(); ++k)
                if (all[k].id == all[i].groupLeader && all[k].kind == res::Kind::Radio) {
                    group = static_cast<int>(k);
                    break;
                }
        const std::string groupName =
            group == static_cast<int>(i) ? ui::RadioGroupNameOf(tpl, i) : std::string();
        if (i) out += ',';
        out += "{\"id\":" + std::to_string(c.id) + ",\"kind\":\"" +
               kKinds[static_cast<int>(c.kind)] + "\",\"caption\":" + JsonString(c.caption) +
               ",\"x\":" + std::to_string(c.rect.x) + ",\"y\":" + std::to_string(c.rect.y) +
               ",\"w\":" + std::to_string(c.rect.w) + ",\"h\":" + std::to_string(c.rect.h) +
               ",\"style\":" + std::to_string(c.style) +
               ",\"box\":" + std::to_string(ui::GroupBoxOf(tpl, i)) +
               ",\"name\":" + JsonString(name) + ",\"label\":" + std::to_string(label) +
               ",\"group\":" + std::to_string(group) +
               ",\"groupName\":" + JsonString(groupName) + "}";
    }
    return out + "]}";
}

namespace {

std::string StateFields(const ui::Control& c) {
    std::string out = "\"visible\":" + Bool(c.visible) + ",\"enabled\":" + Bool(c.enabled) +
                      ",\"checked\":" + Bool(c.checked) + ",\"limit\":" + std::to_string(c.limit) +
                      ",\"sel\":" + std::to_string(c.curSel) + ",\"pos\":" +
                      std::to_string(c.pos) + ",\"min\":" + std::to_string(c.rangeMin) +
                      ",\"max\":" + std::to_string(c.rangeMax) + ",\"items\":[";
    for (size_t i = 0; i < c.items.size(); ++i) out += (i ? "," : "") + JsonBytes(c.items[i]);
    return out + "]";
}

}  // namespace

std::string ControlJson(const ui::Control& c) {
    // Captions of buttons, checks and labels are the resources' UTF-8; edits hold bytes.
    const bool bytes = c.kind == res::Kind::Edit || c.kind == res::Kind::Combo;
    return "{\"text\":" + (bytes ? JsonBytes(c.text) : JsonString(c.text)) + "," +
           StateFields(c) + "}";
}

std::string TestBoxJson(const ui::Control& c, std::u16string_view shown,
                        std::u16string_view announce) {
    return "{\"text\":" + JsonU16(shown) + ",\"announce\":" + JsonU16(announce) + "," +
           StateFields(c) + "}";
}

std::string TestBoxAppendJson(const ui::Control& c, std::u16string_view added, size_t from) {
    return "{\"append\":" + JsonU16(added) + ",\"from\":" + std::to_string(from) +
           ",\"frame\":" + std::to_string(ui::ViewDriver::kFrameMs) +
           ",\"atOnce\":" + std::to_string(ui::AppendFrames::kAtOnce) + "," + StateFields(c) + "}";
}

std::string FileRequestJson(const ui::FileDialogRequest& request) {
    std::string types;
    // "name|pattern|name|pattern||": each pattern a list separated by ';'.
    std::string_view rest = request.filter;
    while (!rest.empty()) {
        const size_t bar = rest.find('|');
        if (bar == std::string_view::npos || bar == 0) break;
        const std::string_view name = rest.substr(0, bar);
        rest.remove_prefix(bar + 1);
        const size_t end = rest.find('|');
        const std::string_view patterns = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        std::string list;
        std::string_view p = patterns;
        while (!p.empty()) {
            const size_t semi = p.find(';');
            std::string_view one = p.substr(0, semi);
            p.remove_prefix(semi == std::string_view::npos ? p.size() : semi + 1);
            if (one.size() > 2 && one.substr(0, 2) == "*." && one != "*.*")
                list += (list.empty() ? "" : ",") + JsonString(one.substr(1));
        }
        if (!types.empty()) types += ',';
        std::string shown(name);
        // "Configuration file   (*.cfg)": the padding is the old dialogs' alignment.
        std::string squeezed;
        for (char ch : shown)
            if (!(ch == ' ' && !squeezed.empty() && squeezed.back() == ' ')) squeezed += ch;
        types += "{\"name\":" + JsonString(squeezed) + ",\"patterns\":[" + list + "]}";
    }
    std::string ext = request.defaultExt;
    if (!ext.empty() && ext[0] != '.') ext = "." + ext;
    return "{\"save\":" + Bool(request.save) + ",\"title\":" + JsonString(request.title) +
           ",\"file\":" + JsonString(request.initialFile) + ",\"ext\":" + JsonString(ext) +
           ",\"types\":[" + types + "]}";
}

std::string MenuJson(const ui::Dialog& dialog) {
    std::string out = "[";
    bool first = true;
    for (const ui::Dialog::MenuItem& item : dialog.SystemMenu()) {
        if (item.command == 0) continue;
        std::string text, key;
        for (size_t i = 0; i < item.text.size(); ++i) {
            if (item.text[i] == '&' && i + 1 < item.text.size()) {
                ++i;
                if (item.text[i] != '&' && key.empty())
                    key = std::string(1, static_cast<char>(
                                             std::tolower(static_cast<unsigned char>(item.text[i]))));
            }
            text += item.text[i];
        }
        out += (first ? "" : ",") + std::string("{\"command\":") + std::to_string(item.command) +
               ",\"text\":" + JsonString(text) + ",\"key\":" + JsonString(key) + "}";
        first = false;
    }
    return out + "]";
}

}  // namespace gui::web
