// What a user of the window meets beyond the operations: control bytes that can be told
// apart, controls a screen reader can name, and the first keystroke that is not refused.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>
#include <string>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "gui/qt/text_codec.h"
#include "gui_test_support.h"

namespace {

class WindowUsabilityTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(WindowUsabilityTest, EveryControlByteHasAGlyphOfItsOwn) {
    std::string bytes;
    for (int b = 0; b < 0x20; ++b)
        if (b != '\r' && b != '\n') bytes.push_back(static_cast<char>(b));
    bytes.push_back(0x7F);
    // The box takes its font with its first text.
    dlg.SetText(IDC_TEST_BOX, bytes);
    const QFont font = view->ControlWidget(IDC_TEST_BOX)->font();
    const QString shown = gui::RenderTestBox(bytes).display;
    ASSERT_EQ(shown.size(), static_cast<qsizetype>(bytes.size()));
    for (QChar ch : shown) {
        SCOPED_TRACE("U+" + QString::number(ch.unicode(), 16).toStdString());
        // A face the box asks for has the symbol itself, not some fallback's box.
        bool owned = false;
        for (const QString& family : font.families()) {
            QFont only(family);
            only.setStyleStrategy(QFont::NoFontMerging);
            owned = owned || QFontMetrics(only).inFontUcs4(ch.unicode());
        }
        EXPECT_TRUE(owned) << "no face of " << font.families().join(u',').toStdString()
                           << " (is fonts-freefont-ttf installed?)";
    }
    // Every face asked for is installed: none is looked up in vain.
    for (const QString& family : font.families())
        EXPECT_TRUE(QFontDatabase::hasFamily(family)) << family.toStdString();
}

QAccessible::Role RoleOf(res::Kind kind) {
    switch (kind) {
        case res::Kind::Edit:
            return QAccessible::EditableText;
        case res::Kind::Check:
            return QAccessible::CheckBox;
        case res::Kind::Radio:
            return QAccessible::RadioButton;
        case res::Kind::Button:
            return QAccessible::Button;
        case res::Kind::Combo:
            return QAccessible::ComboBox;
        case res::Kind::Slider:
            return QAccessible::Slider;
        case res::Kind::Label:
            return QAccessible::StaticText;
        case res::Kind::Group:
            return QAccessible::Grouping;
        case res::Kind::Icon:
            return QAccessible::Graphic;
    }
    return QAccessible::NoRole;
}

// Names and contexts are accessibility_test.cpp's table.
TEST_F(WindowUsabilityTest, ScreenReadersHearEveryControlsRoleAndName) {
    const res::DialogTemplate& tpl = res::MainDialogTemplate();
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& t = tpl.controls[i];
        QWidget* w = view->TemplateWidgets()[i];
        if (w->isHidden()) continue;
        SCOPED_TRACE("control " + std::to_string(t.id) + " " + std::string(t.caption));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), RoleOf(t.kind));
        const QString name = a->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty());
        if (t.kind == res::Kind::Radio) {
            EXPECT_TRUE(a->state().checkable);
            EXPECT_EQ(a->state().checked, dlg.IsChecked(t.id));
        }
    }
    // A screen reader's press on a radio button is the user's click.
    QAccessibleInterface* serial =
        QAccessible::queryAccessibleInterface(view->ControlWidget(IDC_SERIAL_PORT));
    ASSERT_NE(serial->actionInterface(), nullptr);
    EXPECT_TRUE(serial->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    serial->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(g_connectionMode, CONNECTION_SERIAL);
    EXPECT_TRUE(serial->state().checked);
}

TEST_F(WindowUsabilityTest, AnEditTheDialogFocusesHasItsTextSelected) {
    // At start: the first keystroke replaces "%" (its limit is 1).
    auto* first = qobject_cast<QLineEdit*>(view->ControlWidget(IDC_TRACK1_SS));
    ASSERT_EQ(QApplication::focusWidget(), first);
    EXPECT_EQ(first->selectedText(), QStringLiteral("%"));
    QTest::keyClicks(first, "#");
    EXPECT_EQ(dlg.GetText(IDC_TRACK1_SS), "#");

    // The dialog puts the focus back on an edit (a failed data exchange does).
    dlg.SetText(IDC_TRACK1_END, "12");
    dlg.SetFocus(IDC_TRACK1_END);
    auto* end = qobject_cast<QLineEdit*>(view->ControlWidget(IDC_TRACK1_END));
    EXPECT_EQ(QApplication::focusWidget(), end);
    EXPECT_EQ(end->selectedText(), QStringLiteral("12"));

    // A click puts the caret where it was clicked, selecting nothing.
    auto* prefix = qobject_cast<QLineEdit*>(view->ControlWidget(IDC_PREFIX));
    dlg.SetText(IDC_PREFIX, "abcdef");
    QTest::mouseClick(prefix, Qt::LeftButton, {},
                      QPoint(prefix->width() - 3, prefix->height() / 2));
    EXPECT_EQ(QApplication::focusWidget(), prefix);
    EXPECT_FALSE(prefix->hasSelectedText());
    EXPECT_EQ(prefix->cursorPosition(), 6);
}

TEST(MessageBoxWidth, AShortTextStillShowsTheWholeTitle) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("zarn60-tool with a long program name"),
                    QStringLiteral("1"), QMessageBox::Ok);
    gui::WidenForTitle(box);
    box.show();
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    EXPECT_GE(box.width(), metrics.horizontalAdvance(box.windowTitle()) + 100);
}

}  // namespace
