// The resources: every control of the main dialog with its kind, caption and initial
// style; a layout a view can show as it is; the string table and the icon.
#include "res/resources.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

using res::Kind;

struct Expected {
    Kind kind;
    const char* caption;
    uint32_t style;  // the bits checked: hidden, disabled, group (radio pairs only)
};

const std::map<int, Expected>& ControlTable() {
    constexpr uint32_t H = res::STYLE_HIDDEN, D = res::STYLE_DISABLED;
    static const std::map<int, Expected> t = {
        {1000, {Kind::Edit, "", 0}},
        {1001, {Kind::Edit, "", 0}},
        {1002, {Kind::Edit, "", 0}},
        {1003, {Kind::Edit, "", 0}},
        {1004, {Kind::Edit, "", 0}},
        {1005, {Kind::Edit, "", 0}},
        {1006, {Kind::Check, "Output Track 1 Data", 0}},
        {1007, {Kind::Check, "OutPut Track 2 Data", 0}},
        {1008, {Kind::Check, "OutPut Track 3 Data", 0}},
        {1009, {Kind::Check, "End Track 1 with", 0}},
        {1010, {Kind::Check, "End Track 2 with", 0}},
        {1011, {Kind::Check, "End Track 3 with", 0}},
        {1012, {Kind::Check, "End of packet", D}},
        {1013, {Kind::Button, "Download Setting to Device", 0}},
        {1014, {Kind::Button, "Back to Default Factory Setting", 0}},
        {1015, {Kind::Button, "Exit", 0}},
        {1016, {Kind::Label, "Status:", H}},
        {1017, {Kind::Slider, "", 0}},
        {1018, {Kind::Check, "Disable SS", 0}},
        {1019, {Kind::Check, "Disable ES", 0}},
        {1020, {Kind::Check, "USB HID MODE", H}},
        {1021, {Kind::Check, "PREFIX(Max 15 Chars):", 0}},
        {1022, {Kind::Check, "SUFFIX(Max 15 Chars):", 0}},
        {1023, {Kind::Edit, "", 0}},
        {1024, {Kind::Edit, "", 0}},
        {1025, {Kind::Check, "Disable auto output", 0}},
        {1033, {Kind::Radio, "No change", 0}},
        {1034, {Kind::Radio, "Trim space between data, remains", 0}},
        {1035, {Kind::Edit, "", D}},
        {1036, {Kind::Radio, "ON", 0}},
        {1037, {Kind::Radio, "OFF", 0}},
        {1038, {Kind::Edit, "", H}},
        {1040, {Kind::Button, "Upload Setting from Device", 0}},
        {1041, {Kind::Button, "Load Setting from File", 0}},
        {1042, {Kind::Radio, "CR+LF", 0}},
        {1043, {Kind::Radio, "CR", 0}},
        {1044, {Kind::Radio, "CR+LF", 0}},
        {1045, {Kind::Radio, "CR", 0}},
        {1046, {Kind::Radio, "CR+LF", 0}},
        {1047, {Kind::Radio, "CR", 0}},
        {1048, {Kind::Radio, "CR+LF", D}},
        {1049, {Kind::Radio, "CR", D}},
        {1050, {Kind::Combo, "", D}},
        {1051, {Kind::Button, "Save setting to File", 0}},
        {1052, {Kind::Edit, "", 0}},
        {1053, {Kind::Button, "Clear", 0}},
        {1055, {Kind::Button, "Open", D}},
        {1056, {Kind::Radio, "NO", 0}},
        {1057, {Kind::Radio, "YES", 0}},
        {1059, {Kind::Button, "Read Card", 0}},
        {1060, {Kind::Button, "Get Version", 0}},
        {1061, {Kind::Radio, " serial port", 0}},
        {1062, {Kind::Radio, "usb", 0}},
        {1063, {Kind::Edit, "", 0}},
        {1064, {Kind::Edit, "", 0}},
        {1065, {Kind::Edit, "", 0}},
        {1067, {Kind::Button, "Button12", H}},
        {1069, {Kind::Edit, "", 0}},
        {1071, {Kind::Edit, "", 0}},
        {1072, {Kind::Edit, "", 0}},
    };
    return t;
}

bool Inside(const res::Rect& in, const res::Rect& out) {
    return in.x >= out.x && in.y >= out.y && in.x + in.w <= out.x + out.w &&
           in.y + in.h <= out.y + out.h;
}

bool Overlap(const res::Rect& a, const res::Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

// Width in dialog units of a caption in the 9-point font: 4 units per single-byte
// character, 8 per double-width one (each multi-byte UTF-8 sequence here).
int CaptionWidth(std::string_view s) {
    int w = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            w += 4;
        } else if ((c & 0xC0) != 0x80) {
            w += 8;
        }
    }
    return w;
}

TEST(Resources, MainTemplateHoldsTheControlTable) {
    const res::DialogTemplate& t = res::MainDialogTemplate();
    EXPECT_EQ(t.id, res::IDD_ZARN60TOOL_DIALOG);
    EXPECT_EQ(t.caption, "ZARN TOOLS V2.7" + std::string(17, ' '));
    EXPECT_EQ(t.width, 505);
    EXPECT_EQ(t.height, 450);
    EXPECT_EQ(t.fontName, "宋体");
    EXPECT_EQ(t.fontPoints, 9);

    std::map<int, const res::ControlTemplate*> byId;
    for (const auto& c : t.controls) {
        if (c.id == res::IDC_STATIC) continue;
        EXPECT_TRUE(byId.emplace(c.id, &c).second) << "duplicate id " << c.id;
    }
    ASSERT_EQ(byId.size(), ControlTable().size());
    for (const auto& [id, e] : ControlTable()) {
        ASSERT_TRUE(byId.count(id)) << id;
        const res::ControlTemplate& c = *byId[id];
        EXPECT_EQ(c.kind, e.kind) << id;
        EXPECT_EQ(c.caption, e.caption) << id;
        constexpr uint32_t checked = res::STYLE_HIDDEN | res::STYLE_DISABLED;
        EXPECT_EQ(c.style & checked, e.style) << id;
    }
    EXPECT_TRUE(byId[1050]->style & res::STYLE_SORTED);
    EXPECT_TRUE(byId[1050]->style & res::STYLE_DROPDOWN);
    EXPECT_TRUE(byId[1052]->style & res::STYLE_MULTILINE);
    EXPECT_TRUE(byId[1017]->style & res::STYLE_NOTICKS);
}

TEST(Resources, LabelsAndGroupBoxesCarryTheirCaptions) {
    std::multiset<std::string> labels, groups;
    for (const auto& c : res::MainDialogTemplate().controls) {
        if (c.id != res::IDC_STATIC) continue;
        (c.kind == Kind::Group ? groups : labels).insert(std::string(c.caption));
    }
    EXPECT_EQ(groups,
              (std::multiset<std::string>{
                  "SS and ES flag options", "OutPut Track Options", "Output CR/LF Options",
                  "Set Data Stream", "Track #3 Output Setting", "Set Beep", "STX/ETX",
                  "Special operation", "OutPut Length", "Test Magnetic Reader", "Operations"}));
    EXPECT_EQ(labels, (std::multiset<std::string>{
                          "TRK1", "TRK2", "TRK3", "SS:", "ES:", "space",
                          "COM:", "USB Speed:", "Track 1 End:", "[Max:2 digits]  Track 2 End:",
                          "[Max:2 digits]  Track 3 End:", "[Max:3 digits]",
                          "Track 1 Start:", "Track 2 Start:", "Track3 Start:"}));
}

// Each pair's first radio starts a group and the group holds no other radio.
TEST(Resources, RadioPairsAreTheGroups) {
    std::map<int, int> leaderOf;
    int leader = res::IDC_STATIC;
    for (const auto& c : res::MainDialogTemplate().controls) {
        if (c.style & res::STYLE_GROUP) leader = res::IDC_STATIC;
        if (c.kind != Kind::Radio) continue;
        if (leader == res::IDC_STATIC) leader = c.id;
        leaderOf[c.id] = leader;
    }
    std::map<int, int> expected;
    for (int first : {1033, 1036, 1042, 1044, 1046, 1048, 1056, 1061}) {
        expected[first] = first;
        expected[first + 1] = first;
    }
    EXPECT_EQ(leaderOf, expected);
}

TEST(Resources, LayoutIsLegible) {
    for (const res::DialogTemplate* t : {&res::MainDialogTemplate(), &res::AboutDialogTemplate()}) {
        std::vector<const res::ControlTemplate*> boxes, others;
        for (const auto& c : t->controls) {
            EXPECT_TRUE(Inside(c.rect, {0, 0, t->width, t->height})) << c.caption;
            (c.kind == Kind::Group ? boxes : others).push_back(&c);
        }
        for (size_t i = 0; i < boxes.size(); ++i)
            for (size_t j = i + 1; j < boxes.size(); ++j)
                EXPECT_FALSE(Overlap(boxes[i]->rect, boxes[j]->rect))
                    << boxes[i]->caption << " / " << boxes[j]->caption;
        for (size_t i = 0; i < others.size(); ++i) {
            const auto& c = *others[i];
            for (size_t j = i + 1; j < others.size(); ++j)
                EXPECT_FALSE(Overlap(c.rect, others[j]->rect)) << c.id << " / " << others[j]->id;
            // A control lies wholly inside a group box or wholly outside it.
            for (const auto* b : boxes)
                EXPECT_TRUE(Inside(c.rect, b->rect) || !Overlap(c.rect, b->rect))
                    << c.id << " " << c.caption << " / " << b->caption;
            int needed = CaptionWidth(c.caption);
            if (c.kind == Kind::Check || c.kind == Kind::Radio) needed += 12;
            if (c.kind == Kind::Button) needed += 8;
            EXPECT_GE(c.rect.w, needed) << c.id << " " << c.caption;
            EXPECT_GE(c.rect.h, 8) << c.id;
        }
    }
}

TEST(Resources, ControlTableGroupsAreKept) {
    std::map<int, std::string> groupOf;
    const auto& controls = res::MainDialogTemplate().controls;
    for (const auto& c : controls) {
        if (c.id == res::IDC_STATIC) continue;
        for (const auto& b : controls)
            if (b.kind == Kind::Group && Inside(c.rect, b.rect)) groupOf[c.id] = b.caption;
    }
    for (int id : {1000, 1005, 1018, 1019}) EXPECT_EQ(groupOf[id], "SS and ES flag options");
    for (int id : {1006, 1007, 1008}) EXPECT_EQ(groupOf[id], "OutPut Track Options");
    for (int id : {1009, 1012, 1042, 1049}) EXPECT_EQ(groupOf[id], "Output CR/LF Options");
    for (int id : {1021, 1022, 1023, 1024}) EXPECT_EQ(groupOf[id], "Set Data Stream");
    for (int id : {1033, 1034, 1035}) EXPECT_EQ(groupOf[id], "Track #3 Output Setting");
    for (int id : {1036, 1037}) EXPECT_EQ(groupOf[id], "Set Beep");
    for (int id : {1056, 1057}) EXPECT_EQ(groupOf[id], "STX/ETX");
    for (int id : {1025, 1059, 1060}) EXPECT_EQ(groupOf[id], "Special operation");
    for (int id : {1063, 1064, 1065}) EXPECT_EQ(groupOf[id], "OutPut Length");
    for (int id : {1016, 1020, 1038, 1052, 1053}) EXPECT_EQ(groupOf[id], "Test Magnetic Reader");
    for (int id : {1013, 1014, 1015, 1017, 1040, 1041, 1050, 1051, 1055, 1061, 1062, 1067})
        EXPECT_EQ(groupOf[id], "Operations");
}

TEST(Resources, AboutTemplateStringsAndIcon) {
    const res::DialogTemplate& a = res::AboutDialogTemplate();
    EXPECT_EQ(a.id, res::IDD_ABOUTBOX);
    EXPECT_EQ(a.caption, " ZARN TOOLS 2.7");
    int buttons = 0, icons = 0;
    bool line = false;
    for (const auto& c : a.controls) {
        if (c.kind == Kind::Button) {
            ++buttons;
            EXPECT_EQ(c.id, 1);
            EXPECT_EQ(c.caption, "确定");
        }
        if (c.kind == Kind::Icon) ++icons;
        if (c.kind == Kind::Label && c.caption == "ZARN TOOLS 2.7") line = true;
    }
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(icons, 1);
    EXPECT_TRUE(line);

    EXPECT_EQ(res::LoadString(res::IDS_ABOUTBOX), "关于 ZARN TOOLS(&A)...");
    EXPECT_EQ(res::LoadString(res::AFX_IDP_PARSE_STRING_SIZE), "输入的字符请不要多于 %1 个。");
    EXPECT_TRUE(res::LoadString(4711).empty());

    std::vector<uint8_t> png = res::IconPng();
    ASSERT_GT(png.size(), 33u);
    const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(png[19], 32);  // 32 x 32
    EXPECT_EQ(png[23], 32);
    EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

}  // namespace
