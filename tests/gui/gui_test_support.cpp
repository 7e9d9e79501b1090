#include "gui_test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QStyle>
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

void ExpectCaptionsFit(const gui::DialogView& view, const res::DialogTemplate& tpl) {
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& t = tpl.controls[i];
        if ((t.style & res::STYLE_HIDDEN) || t.caption.empty()) continue;
        SCOPED_TRACE("\"" + std::string(t.caption) + "\"");
        QWidget* w = view.TemplateWidgets()[i];
        const QFontMetrics fm(w->font());
        const int text = fm.horizontalAdvance(gui::Utf8(t.caption));
        const QStyle* style = w->style();
        switch (t.kind) {
            case res::Kind::Label:
                EXPECT_LE(text, w->width()) << "wraps";
                EXPECT_LE(qobject_cast<QLabel*>(w)->heightForWidth(w->width()), w->height());
                break;
            case res::Kind::Check:
            case res::Kind::Radio: {
                const bool check = t.kind == res::Kind::Check;
                const int across = style->pixelMetric(
                    check ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth, nullptr,
                    w);
                const int high = style->pixelMetric(
                    check ? QStyle::PM_IndicatorHeight : QStyle::PM_ExclusiveIndicatorHeight,
                    nullptr, w);
                EXPECT_LE(high, w->height()) << "indicator cut";
                EXPECT_LE(w->sizeHint().width(), w->width());
                EXPECT_LE(across + text, w->width());
                EXPECT_LE(fm.height(), w->height());
                break;
            }
            case res::Kind::Button:
                EXPECT_LE(text + style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w),
                          w->width());
                EXPECT_LE(fm.height(), w->height());
                break;
            case res::Kind::Group:
                EXPECT_LE(text + 16, w->width());
                break;
            default:
                break;
        }
    }
}

}  // namespace guitest
