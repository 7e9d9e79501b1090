// Dialog templates 102 and 100 and the string table. Rectangles are dialog units
// (a 9-point character cell is about 4 by 8 units); the controls of one group box lie
// inside it and nothing else overlaps. Template order is tab order, and a control with
// STYLE_GROUP starts a new group, which is what ties each radio pair together.
#include "res/resources.h"

namespace res {

namespace {

constexpr uint32_t G = STYLE_GROUP;
constexpr uint32_t HID = STYLE_HIDDEN;
constexpr uint32_t DIS = STYLE_DISABLED;

ControlTemplate Box(std::string_view caption, Rect r, uint32_t style = 0) {
    return {IDC_STATIC, Kind::Group, caption, r, style};
}
ControlTemplate Text(std::string_view caption, Rect r, uint32_t style = 0) {
    return {IDC_STATIC, Kind::Label, caption, r, style};
}
ControlTemplate Edit(int id, Rect r, uint32_t style = 0) {
    return {id, Kind::Edit, "", r, style};
}
ControlTemplate Check(int id, std::string_view caption, Rect r, uint32_t style = 0) {
    return {id, Kind::Check, caption, r, style};
}
ControlTemplate Radio(int id, std::string_view caption, Rect r, uint32_t style = 0) {
    return {id, Kind::Radio, caption, r, style};
}
ControlTemplate Button(int id, std::string_view caption, Rect r, uint32_t style = 0) {
    return {id, Kind::Button, caption, r, style};
}

DialogTemplate MakeMainTemplate() {
    DialogTemplate t;
    t.id = IDD_ZARN60TOOL_DIALOG;
    t.caption = "ZARN TOOLS V2.7                 ";
    t.width = 505;
    t.height = 450;
    t.fontName = "宋体";
    t.fontPoints = 9;
    t.controls = {
        // Left column ---------------------------------------------------------------
        Box("SS and ES flag options", {7, 5, 240, 62}),
        Text("TRK1", {42, 17, 24, 8}),
        Text("TRK2", {77, 17, 24, 8}),
        Text("TRK3", {112, 17, 24, 8}),
        Text("SS:", {15, 30, 20, 8}),
        Edit(1000, {42, 28, 24, 13}),
        Edit(1001, {77, 28, 24, 13}),
        Edit(1002, {112, 28, 24, 13}),
        Text("ES:", {15, 47, 20, 8}),
        Edit(1003, {42, 45, 24, 13}),
        Edit(1004, {77, 45, 24, 13}),
        Edit(1005, {112, 45, 24, 13}),
        Check(1018, "Disable SS", {160, 29, 70, 10}),
        Check(1019, "Disable ES", {160, 46, 70, 10}),

        Box("OutPut Track Options", {7, 70, 240, 50}),
        Check(1006, "Output Track 1 Data", {15, 82, 100, 10}),
        Check(1007, "OutPut Track 2 Data", {15, 95, 100, 10}),
        Check(1008, "OutPut Track 3 Data", {15, 108, 100, 10}),

        Box("Output CR/LF Options", {7, 123, 240, 70}),
        Check(1009, "End Track 1 with", {15, 135, 85, 10}),
        Radio(1042, "CR+LF", {110, 135, 45, 10}, G),
        Radio(1043, "CR", {165, 135, 35, 10}),
        Check(1010, "End Track 2 with", {15, 149, 85, 10}, G),
        Radio(1044, "CR+LF", {110, 149, 45, 10}, G),
        Radio(1045, "CR", {165, 149, 35, 10}),
        Check(1011, "End Track 3 with", {15, 163, 85, 10}, G),
        Radio(1046, "CR+LF", {110, 163, 45, 10}, G),
        Radio(1047, "CR", {165, 163, 35, 10}),
        Check(1012, "End of packet", {15, 177, 85, 10}, G | DIS),
        Radio(1048, "CR+LF", {110, 177, 45, 10}, G | DIS),
        Radio(1049, "CR", {165, 177, 35, 10}, DIS),

        Box("Set Data Stream", {7, 196, 240, 52}, G),
        Check(1021, "PREFIX(Max 15 Chars):", {15, 210, 100, 10}),
        Edit(1023, {120, 208, 115, 13}),
        Check(1022, "SUFFIX(Max 15 Chars):", {15, 229, 100, 10}),
        Edit(1024, {120, 227, 115, 13}),

        Box("STX/ETX", {7, 251, 115, 30}),
        Radio(1056, "NO", {15, 264, 40, 10}, G),
        Radio(1057, "YES", {62, 264, 40, 10}),
        Box("Set Beep", {130, 251, 117, 30}, G),
        Radio(1036, "ON", {138, 264, 40, 10}, G),
        Radio(1037, "OFF", {185, 264, 40, 10}),

        Box("Track #3 Output Setting", {7, 284, 240, 48}, G),
        Radio(1033, "No change", {15, 297, 60, 10}, G),
        Radio(1034, "Trim space between data, remains", {15, 315, 142, 10}),
        Edit(1035, {162, 313, 30, 13}, G | DIS),
        Text("space", {197, 315, 25, 8}),

        // Right column --------------------------------------------------------------
        Box("Operations", {255, 5, 243, 170}),
        Button(1013, "Download Setting to Device", {263, 18, 140, 14}),
        Button(1040, "Upload Setting from Device", {263, 36, 140, 14}),
        Button(1014, "Back to Default Factory Setting", {263, 54, 140, 14}),
        Button(1051, "Save setting to File", {263, 72, 140, 14}),
        Button(1041, "Load Setting from File", {263, 90, 140, 14}),
        Button(1015, "Exit", {410, 18, 80, 14}),
        Button(1067, "Button12", {410, 36, 80, 14}, HID),
        Radio(1061, " serial port", {315, 114, 70, 10}, G),
        Radio(1062, "usb", {263, 114, 40, 10}),
        Text("COM:", {263, 133, 20, 8}, G),
        ControlTemplate{
            1050, Kind::Combo, "", {287, 131, 40, 13}, STYLE_DROPDOWN | STYLE_SORTED | DIS},
        Button(1055, "Open", {335, 130, 45, 14}, DIS),
        Text("USB Speed:", {263, 154, 44, 8}),
        ControlTemplate{1017, Kind::Slider, "", {310, 151, 120, 15}, STYLE_NOTICKS},

        Box("Special operation", {255, 180, 243, 40}),
        Button(1059, "Read Card", {263, 196, 60, 14}),
        Button(1060, "Get Version", {330, 196, 60, 14}),
        Check(1025, "Disable auto output", {398, 198, 94, 10}),

        Box("Test Magnetic Reader", {255, 225, 243, 166}),
        Edit(1052, {263, 238, 227, 120}, STYLE_MULTILINE),
        Button(1053, "Clear", {263, 366, 50, 14}),
        ControlTemplate{1016, Kind::Label, "Status:", {320, 369, 30, 8}, HID},
        Check(1020, "USB HID MODE", {355, 368, 65, 10}, HID),
        Edit(1038, {428, 366, 30, 13}, HID),

        // Bottom row ----------------------------------------------------------------
        Box("OutPut Length", {7, 395, 491, 50}),
        Text("Track 1 Start:", {15, 410, 58, 8}),
        Edit(1069, {75, 408, 22, 13}),
        Text("Track 2 Start:", {160, 410, 58, 8}),
        Edit(1071, {220, 408, 22, 13}),
        Text("Track3 Start:", {307, 410, 56, 8}),
        Edit(1072, {365, 408, 24, 13}),
        Text("Track 1 End:", {15, 428, 58, 8}),
        Edit(1063, {75, 426, 22, 13}),
        Text("[Max:2 digits]  Track 2 End:", {101, 428, 117, 8}),
        Edit(1064, {220, 426, 22, 13}),
        Text("[Max:2 digits]  Track 3 End:", {246, 428, 117, 8}),
        Edit(1065, {365, 426, 24, 13}),
        Text("[Max:3 digits]", {393, 428, 60, 8}),
    };
    return t;
}

DialogTemplate MakeAboutTemplate() {
    DialogTemplate t;
    t.id = IDD_ABOUTBOX;
    t.caption = " ZARN TOOLS 2.7";
    t.width = 170;
    t.height = 62;
    t.fontName = "宋体";
    t.fontPoints = 9;
    t.controls = {
        ControlTemplate{IDC_STATIC, Kind::Icon, "", {14, 14, 21, 20}, 0},
        Text("ZARN TOOLS 2.7", {42, 18, 70, 8}),
        Button(1, "确定", {113, 41, 50, 14}, G | STYLE_DEFAULT),
    };
    return t;
}

}  // namespace

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate t = MakeMainTemplate();
    return t;
}

const DialogTemplate& AboutDialogTemplate() {
    static const DialogTemplate t = MakeAboutTemplate();
    return t;
}

std::string_view LoadString(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return "关于 ZARN TOOLS(&A)...";
        case AFX_IDP_PARSE_STRING_SIZE:
            return "输入的字符请不要多于 %1 个。";
        default:
            return {};
    }
}

}  // namespace res
