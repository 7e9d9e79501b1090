// What a user of the window meets beyond the operations: control bytes that can be told
// apart, controls a screen reader can name, and the first keystroke that is not refused.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <algorithm>
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
    const QString shown =
        QString::fromStdU16String(ui::RenderTestBox(bytes, ui::kLineBreakLf).display);
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

// Dark pixels of one character drawn in `font`, on a canvas of its own.
QImage Glyph(const QFont& font, QChar ch) {
    QImage image(80, 80, QImage::Format_Grayscale8);
    image.fill(255);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(10, 60, QString(ch));
    return image;
}
int InkHeight(const QImage& image) {
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                top = std::min(top, y);
                bottom = y;
            }
    return bottom < top ? 0 : bottom - top + 1;
}

// STX and ETX can be told apart at the box's own size: each control symbol is drawn larger
// than the text, and the two differ in more than a few pixels.
TEST_F(WindowUsabilityTest, StxAndEtxCanBeToldApartInTheTestBox) {
    dlg.SetText(IDC_TEST_BOX, std::string("\x02") + "SS" + "\x03");
    auto* box = qobject_cast<QPlainTextEdit*>(view->ControlWidget(IDC_TEST_BOX));
    auto fontAt = [&](int position) {
        QTextCursor cursor(box->document());
        cursor.setPosition(position + 1);  // the format of the character before
        return cursor.charFormat().font();
    };
    ASSERT_EQ(box->toPlainText(), QString::fromUtf16(u"\u2402SS\u2403"));
    const QImage stx = Glyph(fontAt(0), QChar(0x2402));
    const QImage etx = Glyph(fontAt(3), QChar(0x2403));
    const int letter = InkHeight(Glyph(fontAt(1), u'S'));
    EXPECT_GE(InkHeight(stx), letter * 3 / 2);
    EXPECT_GE(InkHeight(etx), letter * 3 / 2);
    int differ = 0;
    for (int y = 0; y < stx.height(); ++y)
        for (int x = 0; x < stx.width(); ++x)
            differ += (qGray(stx.pixel(x, y)) < 128) != (qGray(etx.pixel(x, y)) < 128);
    EXPECT_GE(differ, 8);
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
