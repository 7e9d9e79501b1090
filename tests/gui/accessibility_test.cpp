// What a screen reader hears of each control: its role, its name, and the group box it
// hears as the control's context, for every control of both dialogs.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <memory>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "gui_test_support.h"
#include "ui/accessible_names.h"

namespace {

using R = QAccessible::Role;

struct Heard {
    int id;  // IDC_STATIC for labels and frames
    R role;
    const char* name;
    const char* context;  // the accessible parent's name; "" for the window itself
};

// Template order: one row per control.
const std::vector<Heard> kMainDialog = {
    {-1, R::Grouping, "SS and ES flag options", ""},
    {-1, R::StaticText, "TRK1", "SS and ES flag options"},
    {-1, R::StaticText, "TRK2", "SS and ES flag options"},
    {-1, R::StaticText, "TRK3", "SS and ES flag options"},
    {-1, R::StaticText, "SS:", "SS and ES flag options"},
    {1000, R::EditableText, "SS TRK1", "SS and ES flag options"},
    {1001, R::EditableText, "SS TRK2", "SS and ES flag options"},
    {1002, R::EditableText, "SS TRK3", "SS and ES flag options"},
    {-1, R::StaticText, "ES:", "SS and ES flag options"},
    {1003, R::EditableText, "ES TRK1", "SS and ES flag options"},
    {1004, R::EditableText, "ES TRK2", "SS and ES flag options"},
    {1005, R::EditableText, "ES TRK3", "SS and ES flag options"},
    {1018, R::CheckBox, "Disable SS", "SS and ES flag options"},
    {1019, R::CheckBox, "Disable ES", "SS and ES flag options"},
    {-1, R::Grouping, "OutPut Track Options", ""},
    {1006, R::CheckBox, "Output Track 1 Data", "OutPut Track Options"},
    {1007, R::CheckBox, "OutPut Track 2 Data", "OutPut Track Options"},
    {1008, R::CheckBox, "OutPut Track 3 Data", "OutPut Track Options"},
    {-1, R::Grouping, "Output CR/LF Options", ""},
    {1009, R::CheckBox, "End Track 1 with", "Output CR/LF Options"},
    {1042, R::RadioButton, "End Track 1 with: CR+LF", "Output CR/LF Options"},
    {1043, R::RadioButton, "End Track 1 with: CR", "Output CR/LF Options"},
    {1010, R::CheckBox, "End Track 2 with", "Output CR/LF Options"},
    {1044, R::RadioButton, "End Track 2 with: CR+LF", "Output CR/LF Options"},
    {1045, R::RadioButton, "End Track 2 with: CR", "Output CR/LF Options"},
    {1011, R::CheckBox, "End Track 3 with", "Output CR/LF Options"},
    {1046, R::RadioButton, "End Track 3 with: CR+LF", "Output CR/LF Options"},
    {1047, R::RadioButton, "End Track 3 with: CR", "Output CR/LF Options"},
    {1012, R::CheckBox, "End of packet", "Output CR/LF Options"},
    {1048, R::RadioButton, "End of packet: CR+LF", "Output CR/LF Options"},
    {1049, R::RadioButton, "End of packet: CR", "Output CR/LF Options"},
    {-1, R::Grouping, "Set Data Stream", ""},
    {1021, R::CheckBox, "PREFIX(Max 15 Chars):", "Set Data Stream"},
    {1023, R::EditableText, "PREFIX(Max 15 Chars):", "Set Data Stream"},
    {1022, R::CheckBox, "SUFFIX(Max 15 Chars):", "Set Data Stream"},
    {1024, R::EditableText, "SUFFIX(Max 15 Chars):", "Set Data Stream"},
    {-1, R::Grouping, "STX/ETX", ""},
    {1056, R::RadioButton, "NO", "STX/ETX"},
    {1057, R::RadioButton, "YES", "STX/ETX"},
    {-1, R::Grouping, "Set Beep", ""},
    {1036, R::RadioButton, "ON", "Set Beep"},
    {1037, R::RadioButton, "OFF", "Set Beep"},
    {-1, R::Grouping, "Track #3 Output Setting", ""},
    {1033, R::RadioButton, "No change", "Track #3 Output Setting"},
    {1034, R::RadioButton, "Trim space between data, remains", "Track #3 Output Setting"},
    {1035, R::EditableText, "Trim space between data, remains space", "Track #3 Output Setting"},
    {-1, R::StaticText, "space", "Track #3 Output Setting"},
    {-1, R::Grouping, "Operations", ""},
    {1013, R::Button, "Download Setting to Device", "Operations"},
    {1040, R::Button, "Upload Setting from Device", "Operations"},
    {1014, R::Button, "Back to Default Factory Setting", "Operations"},
    {1051, R::Button, "Save setting to File", "Operations"},
    {1041, R::Button, "Load Setting from File", "Operations"},
    {1015, R::Button, "Exit", "Operations"},
    {1067, R::Button, "Button12", "Operations"},
    {1061, R::RadioButton, "serial port", "Operations"},
    {1062, R::RadioButton, "usb", "Operations"},
    {-1, R::StaticText, "COM:", "Operations"},
    {1050, R::ComboBox, "COM:", "Operations"},
    {1055, R::Button, "Open", "Operations"},
    {-1, R::StaticText, "USB Speed:", "Operations"},
    {1017, R::Slider, "USB Speed:", "Operations"},
    {-1, R::Grouping, "Special operation", ""},
    {1059, R::Button, "Read Card", "Special operation"},
    {1060, R::Button, "Get Version", "Special operation"},
    {1025, R::CheckBox, "Disable auto output", "Special operation"},
    {-1, R::Grouping, "Test Magnetic Reader", ""},
    {1052, R::EditableText, "Test Magnetic Reader", "Test Magnetic Reader"},
    {1053, R::Button, "Clear", "Test Magnetic Reader"},
    {1016, R::StaticText, "Status:", "Test Magnetic Reader"},
    {1020, R::CheckBox, "USB HID MODE", "Test Magnetic Reader"},
    {1038, R::EditableText, "Test Magnetic Reader", "Test Magnetic Reader"},
    {-1, R::Grouping, "OutPut Length", ""},
    {-1, R::StaticText, "Track 1 Start:", "OutPut Length"},
    {1069, R::EditableText, "Track 1 Start:", "OutPut Length"},
    {-1, R::StaticText, "Track 2 Start:", "OutPut Length"},
    {1071, R::EditableText, "Track 2 Start:", "OutPut Length"},
    {-1, R::StaticText, "Track3 Start:", "OutPut Length"},
    {1072, R::EditableText, "Track3 Start:", "OutPut Length"},
    {-1, R::StaticText, "Track 1 End:", "OutPut Length"},
    {1063, R::EditableText, "Track 1 End: [Max:2 digits]", "OutPut Length"},
    {-1, R::StaticText, "[Max:2 digits]  Track 2 End:", "OutPut Length"},
    {1064, R::EditableText, "Track 2 End: [Max:2 digits]", "OutPut Length"},
    {-1, R::StaticText, "[Max:2 digits]  Track 3 End:", "OutPut Length"},
    {1065, R::EditableText, "Track 3 End: [Max:3 digits]", "OutPut Length"},
    {-1, R::StaticText, "[Max:3 digits]", "OutPut Length"},
};

const std::vector<Heard> kAboutBox = {
    {-1, R::Graphic, "ZARN TOOLS 2.7", ""},
    {-1, R::StaticText, "ZARN TOOLS 2.7", ""},
    {1, R::Button, "确定", ""},
};

// Checks one window against its table: role, name and context of every control, and no
// "labelled by" label that says something else than the name (a screen reader reads the
// label first).
void ExpectHeard(const gui::DialogView& view, const std::vector<Heard>& table) {
    const res::DialogTemplate& tpl = view.Model()->Template();
    ASSERT_EQ(table.size(), tpl.controls.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const Heard& want = table[i];
        SCOPED_TRACE("template " + std::to_string(tpl.id) + " row " + std::to_string(i) + " \"" +
                     want.name + "\"");
        ASSERT_EQ(tpl.controls[i].id, want.id);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(view.TemplateWidgets()[i]);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), want.role);
        EXPECT_EQ(a->text(QAccessible::Name).toStdString(), want.name);
        QAccessibleInterface* parent = a->parent();
        ASSERT_NE(parent, nullptr);
        const bool top = parent->object() == &view;
        EXPECT_EQ(top ? std::string() : parent->text(QAccessible::Name).toStdString(),
                  want.context);
        // The parent lists the control among its children.
        EXPECT_GE(parent->indexOfChild(a), 0);
        for (const auto& [other, relation] : a->relations(QAccessible::Label)) {
            if (other->object() == parent->object()) continue;  // the group box
            EXPECT_EQ(other->text(QAccessible::Name).toStdString(), want.name)
                << "labelled by another text";
        }
    }
}

TEST(Accessibility, EveryControlIsHeardWithItsRoleNameAndGroup) {
    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
    guitest::ShowMainWindow(dlg, view);
    {
        SCOPED_TRACE("main dialog");
        ExpectHeard(*view, kMainDialog);
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(view.get());
        EXPECT_EQ(window->role(), R::Window);  // a frame, not a filler
        EXPECT_EQ(window->text(QAccessible::Name).toStdString(), "ZARN TOOLS V2.7");
    }
    {
        SCOPED_TRACE("About box");
        CAboutDlg about;
        gui::DialogView aboutView(about.Template(), view.get());
        about.SetHost(&aboutView);
        about.Create();
        aboutView.Attach(&about);
        ExpectHeard(aboutView, kAboutBox);
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(&aboutView);
        EXPECT_EQ(box->role(), R::Dialog);
        EXPECT_EQ(box->text(QAccessible::Name).toStdString(), "ZARN TOOLS 2.7");
    }
    // The COM box's value is its text, its name stays "COM:".
    dlg.SetText(IDC_COM, "3");
    QAccessibleInterface* com = QAccessible::queryAccessibleInterface(view->ControlWidget(1050));
    EXPECT_EQ(com->text(QAccessible::Name).toStdString(), "COM:");
    EXPECT_EQ(com->text(QAccessible::Value).toStdString(), "3");
    guitest::CloseMainWindow(dlg, view);
}

}  // namespace

// The page and this window name controls by the same rule: a caption is trimmed of what
// Qt calls blanks, no more and no less, also in the middle of multi-byte characters.
TEST(Accessibility, CaptionsAreTrimmedAsQtTrimsThem) {
    for (const char* caption :
         {"", "   ", "Baud rate", "  Track 2 End:  ", "\t\r\nTRK1\v\f", "\xC2\xA0" "SS:\xC2\xA0",
          "\xE3\x80\x80\xE5\x8D\xA1\xE3\x80\x80", "\xE2\x80\x82x\xE2\x80\xAF\xE2\x81\x9F",
          "\xE1\x9A\x80y\xC2\x85", "\xE2\x80\x8B" "zero width\xE2\x80\x8B",
          "\xE3\x80\x81", "a  b", "[Max:2 digits]\xC2"}) {
        SCOPED_TRACE(caption);
        EXPECT_EQ(gui::Utf8(ui::PlainCaption(caption)), gui::Utf8(caption).trimmed());
    }
}
