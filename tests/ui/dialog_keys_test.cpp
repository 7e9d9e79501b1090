// The dialog manager's keyboard on the main dialog: tab stops, and arrow keys that choose
// inside a radio group and never leave it.
#include "ui/dialog_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"

namespace {

using ui::DialogKey;

class DialogKeysTest : public ::testing::Test {
protected:
    DialogKeysTest() {
        g_connectionMode = CONNECTION_USB;
        dlg.Create();
    }
    CZARN60TOOLDlg dlg;
};

TEST_F(DialogKeysTest, TabStopsAreTheTabStyledControlsAndTheCheckedRadioOfEachGroup) {
    // At start: no unchecked radio, nothing disabled or hidden.
    const std::vector<int> atStart = {
        1000, 1001, 1002, 1003, 1004, 1005, 1018, 1019, 1006, 1007, 1008, 1009, 1042, 1010, 1044,
        1011, 1046, 1021, 1023, 1022, 1024, 1056, 1036, 1033, 1013, 1040, 1014, 1051, 1041, 1015,
        1062, 1017, 1059, 1060, 1025, 1052, 1053, 1069, 1071, 1072, 1063, 1064, 1065};
    EXPECT_EQ(ui::TabStops(dlg), atStart);

    // Choosing the serial port moves the group's stop and enables the COM box and "Open".
    dlg.UserClick(IDC_SERIAL_PORT);
    std::vector<int> serial = ui::TabStops(dlg);
    const std::vector<int> expected = [&] {
        std::vector<int> v;
        for (int id : atStart) {
            if (id == IDC_USB) {
                v.insert(v.end(), {IDC_SERIAL_PORT, IDC_COM, IDC_OPEN});
            } else if (id != IDC_USB_SPEED) {  // disabled over the serial port
                v.push_back(id);
            }
        }
        return v;
    }();
    EXPECT_EQ(serial, expected);

    // A group with nothing chosen is reached at its first radio.
    for (int id : {1009, 1010, 1011}) dlg.UserClick(id);
    ASSERT_TRUE(dlg.IsEnabled(IDC_PACKET_CRLF));
    ASSERT_FALSE(dlg.IsChecked(IDC_PACKET_CRLF) || dlg.IsChecked(IDC_PACKET_CR));
    serial = ui::TabStops(dlg);
    EXPECT_EQ(std::count(serial.begin(), serial.end(), IDC_PACKET_CRLF), 1);
    EXPECT_EQ(std::count(serial.begin(), serial.end(), IDC_PACKET_CR), 0);

    // Tab and Shift+Tab walk the stops in order and wrap.
    const std::vector<int> stops = ui::TabStops(dlg);
    dlg.SetFocus(stops.front());
    for (size_t i = 1; i <= stops.size(); ++i) {
        ASSERT_TRUE(ui::UserKey(dlg, DialogKey::Tab));
        EXPECT_EQ(dlg.Focus(), stops[i % stops.size()]) << "Tab " << i;
    }
    ASSERT_TRUE(ui::UserKey(dlg, DialogKey::BackTab));
    EXPECT_EQ(dlg.Focus(), stops.back());
}

// Every radio pair of the template, from either radio, with every arrow key.
TEST_F(DialogKeysTest, ArrowKeysChooseInsideTheRadioGroupWrapAndNeverLeaveIt) {
    const int pairs[][2] = {{1033, 1034}, {1036, 1037}, {1042, 1043}, {1044, 1045},
                            {1046, 1047}, {1048, 1049}, {1056, 1057}, {1061, 1062}};
    for (const auto& pair : pairs) {
        for (int from = 0; from < 2; ++from) {
            for (DialogKey key :
                 {DialogKey::Left, DialogKey::Right, DialogKey::Up, DialogKey::Down}) {
                SCOPED_TRACE("radio " + std::to_string(pair[from]) + " key " +
                             std::to_string(static_cast<int>(key)));
                CZARN60TOOLDlg d;
                d.Create();
                for (int id : pair) d.EnableControl(id, true);
                d.SetFocus(pair[from]);
                ASSERT_TRUE(ui::UserKey(d, key));
                const int other = pair[1 - from];
                EXPECT_EQ(d.Focus(), other);
                EXPECT_TRUE(d.IsChecked(other));  // chosen, as a click chooses it
                EXPECT_FALSE(d.IsChecked(pair[from]));
                for (int i = 0; i < 5; ++i) {
                    ui::UserKey(d, key);
                    EXPECT_TRUE(d.Focus() == pair[0] || d.Focus() == pair[1]) << d.Focus();
                }
            }
        }
    }
    // The choice runs the radio's handler: the serial radio sets the mode and the speed.
    dlg.SetFocus(IDC_USB);
    ui::UserKey(dlg, DialogKey::Right);
    EXPECT_EQ(g_connectionMode, CONNECTION_SERIAL);
    EXPECT_EQ(dlg.SliderGetPos(IDC_USB_SPEED), 7);
    ui::UserKey(dlg, DialogKey::Left);
    EXPECT_EQ(g_connectionMode, CONNECTION_USB);
    EXPECT_EQ(dlg.SliderGetPos(IDC_USB_SPEED), 6);
    EXPECT_EQ(dlg.Focus(), IDC_USB);
}

TEST_F(DialogKeysTest, ArrowKeysOnOtherControls) {
    struct Case {
        int from;
        DialogKey key;
        int focus;  // IDC_STATIC: the key is not the dialog's there
    };
    const Case cases[] = {
        {1006, DialogKey::Down, 1007},  // check boxes move without toggling
        {1009, DialogKey::Down, 1000},  // the group wraps to its first control
        {1013, DialogKey::Down, 1040},  // push buttons of one group
        {1013, DialogKey::Up, 1015},    // past the disabled edit and hidden button
        {1000, DialogKey::Right, -1},   // an edit keeps its arrows
        {1017, DialogKey::Left, -1},    // so does the trackbar
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("from " + std::to_string(c.from));
        const bool checked = dlg.IsChecked(1006);
        EXPECT_EQ(ui::WhereKeyGoes(dlg, c.from, c.key).focus, c.focus);
        EXPECT_FALSE(ui::WhereKeyGoes(dlg, c.from, c.key).choose);
        EXPECT_EQ(dlg.IsChecked(1006), checked);
    }
    // A radio whose partner cannot take the focus stays where it is, and is not clicked.
    dlg.EnableControl(IDC_PACKET_CRLF, true);
    dlg.SetFocus(IDC_PACKET_CRLF);
    EXPECT_TRUE(ui::UserKey(dlg, DialogKey::Right));
    EXPECT_EQ(dlg.Focus(), IDC_PACKET_CRLF);
    EXPECT_FALSE(dlg.IsChecked(IDC_PACKET_CRLF));
    EXPECT_FALSE(dlg.IsChecked(IDC_END_PACKET));
}

// A focused button the operation disables: the focus is shown on the dialog meanwhile (no
// neighbour has it for a second key to press), Tab still goes on from it, and it is shown
// on the button again once enabled.
TEST_F(DialogKeysTest, TheFocusOfADisabledControlIsHeldOnTheDialog) {
    dlg.SetFocus(IDC_FACTORY);
    EXPECT_EQ(dlg.ShownFocus(), IDC_FACTORY);
    dlg.EnableControl(IDC_FACTORY, false);
    EXPECT_EQ(dlg.Focus(), IDC_FACTORY);
    EXPECT_EQ(dlg.ShownFocus(), res::IDC_STATIC);
    dlg.EnableControl(IDC_FACTORY, true);
    EXPECT_EQ(dlg.ShownFocus(), IDC_FACTORY);
    dlg.ShowControl(IDC_FACTORY, false);
    EXPECT_EQ(dlg.ShownFocus(), res::IDC_STATIC);
    EXPECT_TRUE(ui::UserKey(dlg, DialogKey::Tab));
    EXPECT_EQ(dlg.Focus(), ui::WhereKeyGoes(dlg, IDC_FACTORY, DialogKey::Tab).focus);
    EXPECT_EQ(dlg.ShownFocus(), dlg.Focus());
}

}  // namespace
