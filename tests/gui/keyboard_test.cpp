// The window's keyboard as the platform's dialogs have it, pressed as real key events and
// compared with the headless runner, which takes the same keys through the dialog logic.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "gui_test_support.h"
#include "runner/control_names.h"
#include "runner/runner.h"

namespace {

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }

    // The control whose widget has Qt's focus, by its name in scripts.
    std::string FocusedName() const {
        const QWidget* focus = QApplication::focusWidget();
        for (const auto& [name, id] : runner::ControlNames()) {
            const QWidget* w = view->ControlWidget(id);
            if (w && focus && (focus == w || w->isAncestorOf(focus))) return std::string(name);
        }
        return "none";
    }
    void Press(const std::string& key) {
        static const std::vector<std::pair<std::string, std::pair<Qt::Key, Qt::KeyboardModifiers>>>
            keys = {{"tab", {Qt::Key_Tab, Qt::NoModifier}},
                    {"shift+tab", {Qt::Key_Backtab, Qt::ShiftModifier}},
                    {"left", {Qt::Key_Left, Qt::NoModifier}},
                    {"right", {Qt::Key_Right, Qt::NoModifier}},
                    {"up", {Qt::Key_Up, Qt::NoModifier}},
                    {"down", {Qt::Key_Down, Qt::NoModifier}}};
        for (const auto& [name, k] : keys)
            if (name == key) QTest::keyClick(QApplication::focusWidget(), k.first, k.second);
    }

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(KeyboardTest, KeysGoWhereTheRunnerSaysTheyGo) {
    // Arrows in the connection group, out by Tab, round all the tab stops and back, and
    // into the radio rows of the terminator options.
    std::vector<std::string> keys = {"right", "left", "up", "down", "up", "tab", "shift+tab"};
    for (int i = 0; i < 45; ++i) keys.push_back("tab");
    for (const char* k : {"down", "right", "shift+tab", "shift+tab", "left"}) keys.push_back(k);
    std::string script = "focus IDC_USB\n";
    for (const std::string& k : keys) script += "key " + k + "\nget focus\nget IDC_USB_SPEED\n";
    std::istringstream in(script);
    std::ostringstream out;
    ASSERT_EQ(runner::RunScript(in, out, {}), 0) << out.str();
    std::istringstream lines(out.str());
    std::vector<std::string> heard;
    for (std::string line; std::getline(lines, line);) heard.push_back(line);
    ASSERT_EQ(heard.size(), 2 * keys.size());

    g_connectionMode = CONNECTION_USB;  // the runner's dialog had the mode
    view->ControlWidget(IDC_USB)->setFocus();
    ASSERT_EQ(dlg.Focus(), IDC_USB);
    for (size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE("key " + std::to_string(i) + " " + keys[i]);
        Press(keys[i]);
        EXPECT_EQ("focus " + FocusedName(), heard[2 * i]);
        const std::string speed = heard[2 * i + 1];
        EXPECT_NE(speed.find(" pos=" + std::to_string(dlg.SliderGetPos(IDC_USB_SPEED)) + " "),
                  std::string::npos)
            << speed;
        // Right on "usb" chose the serial port and Left "usb" again: the speed is 6 as it
        // was, and Up never left the group.
        if (i == 1) {
            EXPECT_EQ(dlg.SliderGetPos(IDC_USB_SPEED), 6);
        }
        if (i < 5) {
            EXPECT_TRUE(dlg.Focus() == IDC_USB || dlg.Focus() == IDC_SERIAL_PORT);
        }
    }
    guitest::ExpectMirrors(*view, dlg);
}

TEST_F(KeyboardTest, ShiftF10AndTheMenuKeyOpenTheWindowsMenuWithItsFirstItemActive) {
    // From a button and from an edit alike (whose own menu the mouse still gives): the
    // window's menu with the About item, active at once for a screen reader to say.
    const struct {
        int id;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } cases[] = {{IDC_DOWNLOAD, Qt::Key_F10, Qt::ShiftModifier},
                 {IDC_PREFIX, Qt::Key_F10, Qt::ShiftModifier},
                 {IDC_PREFIX, Qt::Key_Menu, Qt::NoModifier}};
    for (const auto& c : cases) {
        SCOPED_TRACE("focus on " + std::to_string(c.id) + ", key " + std::to_string(c.key));
        view->ControlWidget(c.id)->setFocus();
        QStringList items;
        QString active;
        QTimer::singleShot(20, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : menu->actions()) items << a->text();
                if (menu->activeAction()) active = menu->activeAction()->text();
                menu->close();
            }
        });
        QTest::keyClick(view->ControlWidget(c.id), c.key, c.modifiers);
        QApplication::processEvents();
        const QString about = gui::Utf8(res::LoadString(res::IDS_ABOUTBOX));
        EXPECT_TRUE(items.contains(about)) << items.join(u'|').toStdString();
        EXPECT_EQ(active, about);
        // The focus is back where it was.
        EXPECT_EQ(dlg.Focus(), c.id);
        EXPECT_TRUE(view->ControlWidget(c.id)->hasFocus() ||
                    view->ControlWidget(c.id)->isAncestorOf(QApplication::focusWidget()));
    }
}

TEST_F(KeyboardTest, CheckBoxesTakeClicksAnywhereOnTheirRectangle) {
    const res::DialogTemplate& tpl = res::MainDialogTemplate();
    const gui::BaseUnits units = gui::DialogBaseUnits(tpl);
    int boxes = 0;
    for (const res::ControlTemplate& t : tpl.controls) {
        if (t.kind != res::Kind::Check || !dlg.IsVisible(t.id) || !dlg.IsEnabled(t.id)) continue;
        SCOPED_TRACE("check box " + std::to_string(t.id));
        ++boxes;
        QWidget* w = view->ControlWidget(t.id);
        EXPECT_EQ(w->size(), gui::DialogUnitsToPixels(t.rect, units).size());
        for (const QPoint at :
             {QPoint(w->width() - 2, w->height() / 2), QPoint(w->width() - 1, w->height() - 1)}) {
            const bool before = dlg.IsChecked(t.id);
            QTest::mouseClick(w, Qt::LeftButton, {}, at);
            EXPECT_NE(dlg.IsChecked(t.id), before) << at.x() << "," << at.y();
        }
    }
    EXPECT_EQ(boxes, 11);  // and "End of packet", disabled at start
}

}  // namespace
