// The program's resources as data: dialog templates 102 (main dialog) and 100 (About
// box), the string table and the icon. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace res {

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_ZARN60TOOL_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;  // the icon
constexpr int IDS_ABOUTBOX = 101;
constexpr int AFX_IDP_PARSE_STRING_SIZE = 61716;
constexpr int IDC_STATIC = -1;  // labels and group boxes without an id

enum class Kind { Edit, Check, Radio, Button, Combo, Slider, Label, Group, Icon };

// Initial style bits of a control.
enum Style : uint32_t {
    STYLE_HIDDEN = 1u << 0,     // not WS_VISIBLE in the template
    STYLE_DISABLED = 1u << 1,   // WS_DISABLED
    STYLE_GROUP = 1u << 2,      // WS_GROUP: starts a radio group
    STYLE_MULTILINE = 1u << 3,  // edit: multi-line, vertical scroll bar, auto scroll
    STYLE_SORTED = 1u << 4,     // combo: sorted list
    STYLE_DROPDOWN = 1u << 5,   // combo: drop-down with editable text
    STYLE_NOTICKS = 1u << 6,    // trackbar: no tick marks
    STYLE_DEFAULT = 1u << 7,    // push button: default button
};

struct Rect {
    int x, y, w, h;  // dialog units
};

struct ControlTemplate {
    int id;  // IDC_STATIC for labels and group boxes without an id
    Kind kind;
    std::string_view caption;
    Rect rect;
    uint32_t style;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    int width, height;  // dialog units
    std::string_view fontName;
    int fontPoints;
    std::vector<ControlTemplate> controls;  // in template (tab) order
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

// The string table; empty for an unknown id.
std::string_view LoadString(int id);

// Icon 128 as a PNG image (our own drawing).
std::vector<uint8_t> IconPng();
// The same drawing as pixels: rows top down, 4 bytes a pixel (R, G, B, A, not
// premultiplied). Made from the PNG by res/make_icon.py, so nothing decodes it at run time.
struct IconImage {
    int width = 0;
    int height = 0;
    const uint8_t* rgba = nullptr;  // width * height * 4 bytes, for the whole run
};
IconImage IconPixels();

}  // namespace res
