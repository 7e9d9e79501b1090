// The main dialog as a window: built from template 102, mirroring the real dialog class,
// driven by real clicks, and photographed for a person to look at.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <iostream>
#include <memory>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/accessibility.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "gui/qt/text_codec.h"
#include "gui_test_support.h"
#include "ui/accessible_names.h"

namespace {

using guitest::ExpectMirrors;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }

    QWidget* W(int id) { return view->ControlWidget(id); }
    template <class T>
    T* As(int id) {
        return qobject_cast<T*>(W(id));
    }
    // A check box or radio button takes clicks on its box; its middle may be past the
    // end of its caption.
    void ClickBox(int id) {
        QWidget* w = W(id);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    }

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(MainWindowTest, WindowHasTheTemplatesCaptionSizeAndFrame) {
    const QString title = view->windowTitle();
    EXPECT_EQ(title, QStringLiteral("ZARN TOOLS V2.7") + QString(17, u' '));
    // 505 x 450 dialog units at 6 x 12 pixels per 4 x 8 units.
    EXPECT_EQ(view->size(), QSize(758, 675));
    EXPECT_EQ(view->minimumSize(), view->maximumSize());
    const Qt::WindowFlags flags = view->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_EQ(view->windowType(), Qt::Window);  // a window of its own, with a task-bar button
    EXPECT_FALSE(view->windowIcon().isNull());
    EXPECT_EQ(view->windowIcon().pixmap(32, 32).toImage().size(), QSize(32, 32));
}

TEST_F(MainWindowTest, EveryControlOfTheTemplateHasItsWidgetAndPlace) {
    const res::DialogTemplate& tpl = res::MainDialogTemplate();
    ASSERT_EQ(view->TemplateWidgets().size(), tpl.controls.size());
    const gui::BaseUnits units = gui::DialogBaseUnits(tpl);
    EXPECT_EQ(units.x, 6);
    EXPECT_EQ(units.y, 12);
    int groups = 0;
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& t = tpl.controls[i];
        QWidget* w = view->TemplateWidgets()[i];
        SCOPED_TRACE("control " + std::to_string(t.id) + " \"" + std::string(t.caption) + "\"");
        // What lies in a group box is its child; places are the dialog's all the same.
        const int box = ui::GroupBoxOf(tpl, i);
        EXPECT_EQ(w->parentWidget(),
                  box >= 0 ? view->TemplateWidgets()[static_cast<size_t>(box)] : view.get());
        const QRect geometry(w->mapTo(view.get(), QPoint(0, 0)), w->size());
        if (t.id != res::IDC_STATIC) {
            EXPECT_EQ(view->ControlWidget(t.id), w);
        }
        const QRect place = gui::DialogUnitsToPixels(t.rect, units);
        const QString caption = gui::Utf8(t.caption);
        switch (t.kind) {
            case res::Kind::Edit:
                if (t.style & res::STYLE_MULTILINE) {
                    EXPECT_TRUE(qobject_cast<QPlainTextEdit*>(w));
                } else {
                    EXPECT_TRUE(qobject_cast<QLineEdit*>(w));
                }
                break;
            case res::Kind::Check:
                ASSERT_TRUE(qobject_cast<QCheckBox*>(w));
                EXPECT_EQ(qobject_cast<QCheckBox*>(w)->text(), caption);
                break;
            case res::Kind::Radio:
                ASSERT_TRUE(qobject_cast<QRadioButton*>(w));
                EXPECT_EQ(qobject_cast<QRadioButton*>(w)->text(), caption);
                EXPECT_FALSE(qobject_cast<QRadioButton*>(w)->autoExclusive());
                break;
            case res::Kind::Button:
                ASSERT_TRUE(qobject_cast<QPushButton*>(w));
                EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), caption);
                break;
            case res::Kind::Combo:
                ASSERT_TRUE(qobject_cast<QComboBox*>(w));
                EXPECT_TRUE(qobject_cast<QComboBox*>(w)->isEditable());
                break;
            case res::Kind::Slider:
                EXPECT_TRUE(qobject_cast<QSlider*>(w));
                break;
            case res::Kind::Label:
                ASSERT_TRUE(qobject_cast<QLabel*>(w));
                EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), caption);
                break;
            case res::Kind::Group:
                ASSERT_TRUE(qobject_cast<QGroupBox*>(w));
                EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title(), caption);
                ++groups;
                break;
            case res::Kind::Icon:
                ADD_FAILURE() << "no icon control in the main dialog";
                break;
        }
        if (t.kind == res::Kind::Combo) {
            // The drop-down list is not part of the box's own height.
            EXPECT_EQ(geometry.topLeft(), place.topLeft());
            EXPECT_EQ(w->width(), place.width());
            EXPECT_LE(w->height(), place.height() + 9);
        } else if (t.kind == res::Kind::Label) {
            // One line of the face in use, however tall its line is.
            EXPECT_EQ(geometry.topLeft(), place.topLeft());
            EXPECT_EQ(w->width(), place.width());
            EXPECT_EQ(w->height(), std::max(place.height(), w->heightForWidth(QWIDGETSIZE_MAX)));
        } else {
            EXPECT_EQ(geometry, place);
        }
    }
    EXPECT_EQ(groups, 11);
}

TEST_F(MainWindowTest, DialogFontRendersTheChineseTexts) {
    const QFontInfo info(view->font());
    EXPECT_EQ(info.pixelSize(), 12);
    const QStringList cjk = {
        QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Droid Sans Fallback")};
    EXPECT_TRUE(cjk.contains(info.family())) << info.family().toStdString();
    EXPECT_TRUE(QFontDatabase::families().contains(info.family()));
    // The face itself has the glyphs, not only some fallback.
    EXPECT_TRUE(QFontMetrics(QFont(info.family())).inFontUcs4(U'确'));
}

// Nothing is clipped at the size the window starts with.
TEST_F(MainWindowTest, CaptionsFitTheirControls) {
    guitest::ExpectCaptionsFit(*view, res::MainDialogTemplate());
}

TEST_F(MainWindowTest, WidgetsMirrorTheDialogAfterStartUp) {
    ExpectMirrors(*view, dlg);
    EXPECT_TRUE(As<QRadioButton>(IDC_USB)->isChecked());
    EXPECT_FALSE(As<QRadioButton>(IDC_SERIAL_PORT)->isChecked());
    EXPECT_TRUE(As<QPlainTextEdit>(IDC_TEST_BOX)->toPlainText().isEmpty());
    EXPECT_EQ(As<QSlider>(IDC_USB_SPEED)->value(), 6);
    EXPECT_EQ(As<QSlider>(IDC_USB_SPEED)->maximum(), 7);
    EXPECT_TRUE(W(IDC_USB_SPEED)->isEnabled());
    EXPECT_EQ(As<QComboBox>(IDC_COM)->currentText(), QStringLiteral("1"));
    EXPECT_EQ(As<QComboBox>(IDC_COM)->count(), 9);
    EXPECT_FALSE(W(IDC_COM)->isEnabled());
    EXPECT_FALSE(W(IDC_OPEN)->isEnabled());
    for (int id : {IDC_END_PACKET, IDC_PACKET_CRLF, IDC_PACKET_CR}) {
        EXPECT_FALSE(W(id)->isEnabled()) << id;
        EXPECT_FALSE(As<QAbstractButton>(id)->isChecked()) << id;
    }
    EXPECT_FALSE(W(IDC_TRIM_COUNT)->isEnabled());
    for (int id : {IDC_STATUS_LABEL, IDC_USB_HID_MODE, IDC_HIDDEN_VALUE, IDC_BUTTON12})
        EXPECT_TRUE(W(id)->isHidden()) << id;
    EXPECT_EQ(As<QLineEdit>(IDC_TRACK1_SS)->text(), QStringLiteral("%"));
    EXPECT_EQ(As<QLineEdit>(IDC_TRACK2_SS)->text(), QStringLiteral(";"));
    EXPECT_EQ(As<QLineEdit>(IDC_TRACK3_SS)->text(), QStringLiteral("+"));
}

TEST_F(MainWindowTest, ConnectionRadiosClickedByMouseRunTheirHandlers) {
    ClickBox(IDC_SERIAL_PORT);
    EXPECT_EQ(g_connectionMode, CONNECTION_SERIAL);
    EXPECT_TRUE(dlg.IsChecked(IDC_SERIAL_PORT));
    EXPECT_FALSE(W(IDC_USB_SPEED)->isEnabled());
    EXPECT_EQ(As<QSlider>(IDC_USB_SPEED)->value(), 7);
    EXPECT_TRUE(W(IDC_COM)->isEnabled());
    EXPECT_TRUE(W(IDC_OPEN)->isEnabled());
    EXPECT_EQ(As<QPlainTextEdit>(IDC_TEST_BOX)->toPlainText(),
              QStringLiteral("You select the  serial port communication mode!"));
    // A program check leaves the partner alone; this one was cleared by the user's click.
    EXPECT_TRUE(As<QRadioButton>(IDC_SERIAL_PORT)->isChecked());
    ExpectMirrors(*view, dlg);

    ClickBox(IDC_USB);
    EXPECT_EQ(g_connectionMode, CONNECTION_USB);
    EXPECT_TRUE(W(IDC_USB_SPEED)->isEnabled());
    EXPECT_EQ(As<QSlider>(IDC_USB_SPEED)->value(), 6);
    EXPECT_FALSE(W(IDC_COM)->isEnabled());
    ExpectMirrors(*view, dlg);
}

TEST_F(MainWindowTest, CheckBoxesFollowTheModelNotQt) {
    ClickBox(IDC_END_TRACK1);
    EXPECT_FALSE(dlg.IsChecked(IDC_END_TRACK1));
    ExpectMirrors(*view, dlg);
    ClickBox(IDC_END_TRACK1);
    EXPECT_TRUE(dlg.IsChecked(IDC_END_TRACK1));
    ExpectMirrors(*view, dlg);
    ClickBox(IDC_DISABLE_SS);
    EXPECT_TRUE(dlg.IsChecked(IDC_DISABLE_SS));
    ExpectMirrors(*view, dlg);
}

TEST_F(MainWindowTest, ClearAndExitButtons) {
    dlg.SetText(IDC_TEST_BOX, "some text");
    EXPECT_EQ(As<QPlainTextEdit>(IDC_TEST_BOX)->toPlainText(), QStringLiteral("some text"));
    QTest::mouseClick(W(IDC_CLEAR), Qt::LeftButton);
    EXPECT_TRUE(As<QPlainTextEdit>(IDC_TEST_BOX)->toPlainText().isEmpty());

    QTest::mouseClick(W(IDC_EXIT), Qt::LeftButton);
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.Result(), ui::IDOK);
    EXPECT_FALSE(view->isVisible());
}

TEST_F(MainWindowTest, EnterInTheTestBoxEndsTheDialogLikeExit) {
    W(IDC_TEST_BOX)->setFocus();
    QTest::keyClick(W(IDC_TEST_BOX), Qt::Key_Return);
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.Result(), ui::IDOK);
}

TEST_F(MainWindowTest, EnterWithATextOverItsLimitWarnsAndKeepsTheDialogOpen) {
    dlg.SetText(IDC_TRACK2_SS, ";;");  // the program may set it; the exchange refuses it
    EXPECT_EQ(As<QLineEdit>(IDC_TRACK2_SS)->text(), QStringLiteral(";;"));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    guitest::AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    W(IDC_PREFIX)->setFocus();
    QTest::keyClick(W(IDC_PREFIX), Qt::Key_Enter);
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(title, gui::Utf8(ui::Dialog::ProgramName()));
    EXPECT_EQ(text, QStringLiteral("输入的字符请不要多于 1 个。"));
    EXPECT_EQ(view->focusWidget(), W(IDC_TRACK2_SS));
    EXPECT_EQ(As<QLineEdit>(IDC_TRACK2_SS)->text(), QStringLiteral(";;"));

    // The user clicks elsewhere and presses Enter again: the focus comes back again.
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTest::mouseClick(W(IDC_SUFFIX), Qt::LeftButton);
    EXPECT_EQ(dlg.Focus(), IDC_SUFFIX);
    guitest::AnswerNextModal<QMessageBox>([](QMessageBox* box) { box->accept(); });
    QTest::keyClick(W(IDC_SUFFIX), Qt::Key_Return);
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_EQ(dlg.Focus(), IDC_TRACK2_SS);
    EXPECT_EQ(view->focusWidget(), W(IDC_TRACK2_SS));
}

TEST_F(MainWindowTest, TheCloseBoxCancels) {
    view->close();
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.Result(), ui::IDCANCEL);
    EXPECT_FALSE(view->isVisible());
}

TEST_F(MainWindowTest, ScreenshotOfTheStartedWindow) {
    // Written next to the test programs' folder, in the build folder, for a person to
    // look at.
    const QString path = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/.."))
                             .absoluteFilePath(QStringLiteral("zarn60-tool-window.png"));
    QFile::remove(path);
    const QImage shot = view->grab().toImage();
    ASSERT_TRUE(shot.save(path)) << path.toStdString();
    EXPECT_EQ(QImage(path).size(), QSize(758, 675) * view->devicePixelRatio());
    std::cout << "screenshot: " << path.toStdString() << "\n";
}

}  // namespace
