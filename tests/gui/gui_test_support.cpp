#include "gui_test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>

#include "gui/qt/template_widgets.h"
#include "gui/qt/text_codec.h"

namespace guitest {

void ShowMainWindow(CZARN60TOOLDlg& dlg, std::unique_ptr<gui::DialogView>& view,
                    zarn::VirtualClock* pace) {
    g_connectionMode = CONNECTION_USB;
    g_strReceived.clear();
    view = std::make_unique<gui::DialogView>(res::MainDialogTemplate());
    if (pace) view->PaceVirtualClock(pace);
    dlg.SetHost(view.get());
    dlg.Create();
    view->Attach(&dlg);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
}

void CloseMainWindow(CZARN60TOOLDlg& dlg, std::unique_ptr<gui::DialogView>& view) {
    dlg.SetHost(nullptr);
    view.reset();
}

void ExpectMirrors(const gui::DialogView& view, const ui::Dialog& dialog) {
    const auto& controls = dialog.AllControls();
    ASSERT_EQ(view.TemplateWidgets().size(), controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        const ui::Control& c = controls[i];
        const QWidget* w = view.TemplateWidgets()[i];
        SCOPED_TRACE("control " + std::to_string(c.id) + " at " + std::to_string(i));
        EXPECT_EQ(w->isHidden(), !c.visible);
        EXPECT_EQ(w->testAttribute(Qt::WA_Disabled), !c.enabled);
        if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
            EXPECT_EQ(gui::QStringToBytes(edit->text()), c.text);
        } else if (auto* box = qobject_cast<const QPlainTextEdit*>(w)) {
            EXPECT_EQ(
                gui::ShownTestBoxText(box),
                QString::fromStdU16String(ui::RenderTestBox(c.text, ui::kLineBreakLf).display));
        } else if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
            EXPECT_EQ(button->isChecked(), c.checked);
            EXPECT_EQ(button->text(), gui::Utf8(c.text));
        } else if (auto* combo = qobject_cast<const QComboBox*>(w)) {
            ASSERT_EQ(combo->count(), static_cast<int>(c.items.size()));
            for (int k = 0; k < combo->count(); ++k)
                EXPECT_EQ(gui::QStringToBytes(combo->itemText(k)), c.items[static_cast<size_t>(k)]);
            EXPECT_EQ(gui::QStringToBytes(combo->currentText()), c.text);
        } else if (auto* slider = qobject_cast<const QSlider*>(w)) {
            EXPECT_EQ(slider->minimum(), c.rangeMin);
            EXPECT_EQ(slider->maximum(), c.rangeMax);
            EXPECT_EQ(slider->value(), c.pos);
        } else if (auto* group = qobject_cast<const QGroupBox*>(w)) {
            EXPECT_EQ(group->title(), gui::Utf8(c.text));
        } else if (auto* label = qobject_cast<const QLabel*>(w)) {
            if (label->pixmap().isNull()) {
                EXPECT_EQ(label->text(), gui::Utf8(c.text));
            }
        } else {
            ADD_FAILURE() << "unexpected widget " << w->metaObject()->className();
        }
    }
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace guitest
