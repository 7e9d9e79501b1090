// Dialog templates 102 and 100 and the string table. Rectangles are dialog units
// (a 9-point character cell is about 4 by 8 units); the controls of one group box lie
// inside it and nothing else overlaps. Template order is tab order, and a control with
// STYLE_GROUP starts a new group, which is what ties each radio pair together.
#include "res/control_ids.h"
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
ControlTemplate Edit(ControlId id, Rect r, uint32_t style = 0) {
    return {id, Kind::Edit, "", r, style};
}
ControlTemplate Check(ControlId id, std::string_view caption, Rect r, uint32_t style = 0) {
    return {id, Kind::Check, caption, r, style};
}
ControlTemplate Radio(ControlId id, std::string_view caption, Rect r, uint32_t style = 0) {
    return {id, Kind::Radio, caption, r, style};
}
ControlTemplate Button(ControlId id, std::string_view caption, Rect r, uint32_t style = 0) {
    return {id, Kind::Button, caption, r, style};
}

DialogTemplate MakeMainTemplate() {
    DialogTemplate t;
    t.id = IDD_ZARN60TOOL_DIALOG;
    t.caption = "ZARN TOOLS V" ZARN60_VERSION "                 ";
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
        Edit(IDC_TRACK1_SS, {42, 28, 24, 13}),
        Edit(IDC_TRACK2_SS, {77, 28, 24, 13}),
        Edit(IDC_TRACK3_SS, {112, 28, 24, 13}),
        Text("ES:", {15, 47, 20, 8}),
        Edit(IDC_TRACK1_ES, {42, 45, 24, 13}),
        Edit(IDC_TRACK2_ES, {77, 45, 24, 13}),
        Edit(IDC_TRACK3_ES, {112, 45, 24, 13}),
        Check(IDC_DISABLE_SS, "Disable SS", {160, 29, 70, 10}),
        Check(IDC_DISABLE_ES, "Disable ES", {160, 46, 70, 10}),

        Box("OutPut Track Options", {7, 70, 240, 50}),
        Check(IDC_OUTPUT_TRACK1, "Output Track 1 Data", {15, 82, 100, 10}),
        Check(IDC_OUTPUT_TRACK2, "OutPut Track 2 Data", {15, 95, 100, 10}),
        Check(IDC_OUTPUT_TRACK3, "OutPut Track 3 Data", {15, 108, 100, 10}),

        Box("Output CR/LF Options", {7, 123, 240, 70}),
        Check(IDC_END_TRACK1, "End Track 1 with", {15, 135, 85, 10}),
        Radio(IDC_TRACK1_CRLF, "CR+LF", {110, 135, 45, 10}, G),
        Radio(IDC_TRACK1_CR, "CR", {165, 135, 35, 10}),
        Check(IDC_END_TRACK2, "End Track 2 with", {15, 149, 85, 10}, G),
        Radio(IDC_TRACK2_CRLF, "CR+LF", {110, 149, 45, 10}, G),
        Radio(IDC_TRACK2_CR, "CR", {165, 149, 35, 10}),
        Check(IDC_END_TRACK3, "End Track 3 with", {15, 163, 85, 10}, G),
        Radio(IDC_TRACK3_CRLF, "CR+LF", {110, 163, 45, 10}, G),
        Radio(IDC_TRACK3_CR, "CR", {165, 163, 35, 10}),
        Check(IDC_END_PACKET, "End of packet", {15, 177, 85, 10}, G | DIS),
        Radio(IDC_PACKET_CRLF, "CR+LF", {110, 177, 45, 10}, G | DIS),
        Radio(IDC_PACKET_CR, "CR", {165, 177, 35, 10}, DIS),

        Box("Set Data Stream", {7, 196, 240, 52}, G),
        Check(IDC_PREFIX_CHECK, "PREFIX(Max 15 Chars):", {15, 210, 100, 10}),
        Edit(IDC_PREFIX, {120, 208, 115, 13}),
        Check(IDC_SUFFIX_CHECK, "SUFFIX(Max 15 Chars):", {15, 229, 100, 10}),
        Edit(IDC_SUFFIX, {120, 227, 115, 13}),

        Box("STX/ETX", {7, 251, 115, 30}),
        Radio(IDC_STX_NO, "NO", {15, 264, 40, 10}, G),
        Radio(IDC_STX_YES, "YES", {62, 264, 40, 10}),
        Box("Set Beep", {130, 251, 117, 30}, G),
        Radio(IDC_BEEP_ON, "ON", {138, 264, 40, 10}, G),
        Radio(IDC_BEEP_OFF, "OFF", {185, 264, 40, 10}),

        Box("Track #3 Output Setting", {7, 284, 240, 48}, G),
        Radio(IDC_TRIM_NO_CHANGE, "No change", {15, 297, 60, 10}, G),
        Radio(IDC_TRIM_SPACES, "Trim space between data, remains", {15, 315, 142, 10}),
        Edit(IDC_TRIM_COUNT, {162, 313, 30, 13}, G | DIS),
        Text("space", {197, 315, 25, 8}),

        // Right column --------------------------------------------------------------
        Box("Operations", {255, 5, 243, 170}),
        Button(IDC_DOWNLOAD, "Download Setting to Device", {263, 18, 140, 14}),
        Button(IDC_UPLOAD, "Upload Setting from Device", {263, 36, 140, 14}),
        Button(IDC_FACTORY, "Back to Default Factory Setting", {263, 54, 140, 14}),
        Button(IDC_SAVE_FILE, "Save setting to File", {263, 72, 140, 14}),
        Button(IDC_LOAD_FILE, "Load Setting from File", {263, 90, 140, 14}),
        Button(IDC_EXIT, "Exit", {410, 18, 80, 14}),
        Button(IDC_BUTTON12, "Button12", {410, 36, 80, 14}, HID),
        Radio(IDC_SERIAL_PORT, " serial port", {315, 114, 70, 10}, G),
        Radio(IDC_USB, "usb", {263, 114, 40, 10}),
        Text("COM:", {263, 133, 20, 8}, G),
        ControlTemplate{
            IDC_COM, Kind::Combo, "", {287, 131, 40, 13}, STYLE_DROPDOWN | STYLE_SORTED | DIS},
        Button(IDC_OPEN, "Open", {335, 130, 45, 14}, DIS),
        Text("USB Speed:", {263, 154, 44, 8}),
        ControlTemplate{IDC_USB_SPEED, Kind::Slider, "", {310, 151, 120, 15}, STYLE_NOTICKS},

        Box("Special operation", {255, 180, 243, 40}),
        Button(IDC_READ_CARD, "Read Card", {263, 196, 60, 14}),
        Button(IDC_GET_VERSION, "Get Version", {330, 196, 60, 14}),
        Check(IDC_DISABLE_AUTO_OUTPUT, "Disable auto output", {398, 198, 94, 10}),

        Box("Test Magnetic Reader", {255, 225, 243, 166}),
        Edit(IDC_TEST_BOX, {263, 238, 227, 120}, STYLE_MULTILINE),
        Button(IDC_CLEAR, "Clear", {263, 366, 50, 14}),
        ControlTemplate{IDC_STATUS_LABEL, Kind::Label, "Status:", {320, 369, 30, 8}, HID},
        Check(IDC_USB_HID_MODE, "USB HID MODE", {355, 368, 65, 10}, HID),
        Edit(IDC_HIDDEN_VALUE, {428, 366, 30, 13}, HID),

        // Bottom row ----------------------------------------------------------------
        Box("OutPut Length", {7, 395, 491, 50}),
        Text("Track 1 Start:", {15, 410, 58, 8}),
        Edit(IDC_TRACK1_START, {75, 408, 22, 13}),
        Text("Track 2 Start:", {160, 410, 58, 8}),
        Edit(IDC_TRACK2_START, {220, 408, 22, 13}),
        Text("Track3 Start:", {307, 410, 56, 8}),
        Edit(IDC_TRACK3_START, {365, 408, 24, 13}),
        Text("Track 1 End:", {15, 428, 58, 8}),
        Edit(IDC_TRACK1_END, {75, 426, 22, 13}),
        Text("[Max:2 digits]  Track 2 End:", {101, 428, 117, 8}),
        Edit(IDC_TRACK2_END, {220, 426, 22, 13}),
        Text("[Max:2 digits]  Track 3 End:", {246, 428, 117, 8}),
        Edit(IDC_TRACK3_END, {365, 426, 24, 13}),
        Text("[Max:3 digits]", {393, 428, 60, 8}),
    };
    return t;
}

DialogTemplate MakeAboutTemplate() {
    DialogTemplate t;
    t.id = IDD_ABOUTBOX;
    t.caption = " ZARN TOOLS " ZARN60_VERSION;
    t.width = 170;
    t.height = 62;
    t.fontName = "宋体";
    t.fontPoints = 9;
    t.controls = {
        ControlTemplate{IDC_STATIC, Kind::Icon, "", {14, 14, 21, 20}, 0},
        Text("ZARN TOOLS " ZARN60_VERSION, {42, 18, 70, 8}),
        ControlTemplate{1, Kind::Button, "确定", {113, 41, 50, 14}, G | STYLE_DEFAULT},  // IDOK
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
