// A dialog larger than the screen's free area is laid out smaller, so that no control is
// out of reach; on a screen where it fits it keeps its size to the pixel.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QRect>
#include <QSize>
#include <QStyle>
#include <string>

#include "gui/qt/dialog_view.h"
#include "gui_test_support.h"
#include "gui/qt/template_widgets.h"
#include "res/resources.h"

namespace {

struct Screen {
    const char* what;
    QSize physical;
    double scale;  // QT_SCALE_FACTOR or the desktop's scaling
    int panels;    // pixels taken by panels and docks, at the top or bottom
};

QSize Available(const Screen& s) {
    return QSize(static_cast<int>(s.physical.width() / s.scale),
                 static_cast<int>((s.physical.height() - s.panels) / s.scale));
}

}  // namespace

const Screen kScreens[] = {
    {"1920x1080", {1920, 1080}, 1.0, 40},        {"1280x1024", {1280, 1024}, 1.0, 30},
    {"1280x1024 at 1.5", {1280, 1024}, 1.5, 30}, {"1280x1024 at 2", {1280, 1024}, 2.0, 30},
    {"1366x768 at 1.25", {1366, 768}, 1.25, 30}, {"1366x768 at 1.5", {1366, 768}, 1.5, 30},
    {"1024x768", {1024, 768}, 1.0, 48},          {"800x600", {800, 600}, 1.0, 0},
    {"2560x1440 at 2", {2560, 1440}, 2.0, 60},
};

TEST(FitScreen, EveryControlOfBothDialogsStaysOnTheScreen) {
    for (const res::DialogTemplate* tpl :
         {&res::MainDialogTemplate(), &res::AboutDialogTemplate()}) {
        const int own = gui::DialogFontPixels(*tpl);
        for (const Screen& s : kScreens) {
            SCOPED_TRACE(std::string(s.what) + ", template " + std::to_string(tpl->id));
            const QSize available = Available(s);
            const gui::DialogMetrics m = gui::ChooseDialogMetrics(*tpl, available);
            const QSize client = gui::DialogClientSize(*tpl, m.units);
            const QRect screen(QPoint(0, 0), available);
            EXPECT_TRUE(screen.contains(QRect(QPoint(0, 0), client + gui::kFrameAllowance)))
                << "window " << client.width() << "x" << client.height();
            EXPECT_LE(m.fontPixels, own);
            EXPECT_GE(m.fontPixels, gui::kSmallestFontPixels);
            // Where the dialog fits at its own size, it keeps it.
            if (screen.contains(
                    QRect(QPoint(0, 0), gui::DialogClientSize(*tpl, own) + gui::kFrameAllowance))) {
                EXPECT_EQ(m.fontPixels, own);
                EXPECT_EQ(client, gui::DialogClientSize(*tpl, own));
            }
            const QRect inside(QPoint(0, 0), client);
            for (const res::ControlTemplate& t : tpl->controls) {
                const QRect place = gui::DialogUnitsToPixels(t.rect, m.units);
                EXPECT_TRUE(inside.contains(place)) << "control " << t.id;
                EXPECT_FALSE(place.isEmpty()) << "control " << t.id;
            }
        }
    }
    // Where it fits, the dialog is exactly the size it always had.
    EXPECT_EQ(gui::DialogClientSize(
                  res::MainDialogTemplate(),
                  gui::ChooseDialogMetrics(res::MainDialogTemplate(), {1280, 994}).units),
              QSize(758, 675));
}

// Nothing is cut at any size the window takes: every caption seen fits its control's
// rectangle in the widget's own font and style, and so do check and radio indicators and a
// line of text.
TEST(FitScreen, EveryCaptionAndIndicatorFitsItsControlOnEveryScreen) {
    for (const res::DialogTemplate* tpl :
         {&res::MainDialogTemplate(), &res::AboutDialogTemplate()}) {
        for (const Screen& s : kScreens) {
            SCOPED_TRACE(std::string(s.what) + ", template " + std::to_string(tpl->id));
            gui::DialogView view(*tpl, nullptr, Available(s));
            guitest::ExpectCaptionsFit(view, *tpl);
        }
    }
}

// The window's own scale: the font asked for on every screen, however small, the layout
// grown with it from the dialog units, and nothing cut.
TEST(FitScreen, TheWindowsOwnScaleKeepsTheFontAskedForAndEveryCaptionWhole) {
    for (const double scale : {1.5, 2.0}) {
        for (const res::DialogTemplate* tpl :
             {&res::MainDialogTemplate(), &res::AboutDialogTemplate()}) {
            const int wanted = gui::ScaledFontPixels(*tpl, scale);
            const QSize own = gui::DialogClientSize(*tpl, gui::DialogFontPixels(*tpl));
            for (const Screen& s : {kScreens[0], kScreens[6], kScreens[7]}) {
                SCOPED_TRACE(std::string(s.what) + " at own scale " + std::to_string(scale) +
                             ", template " + std::to_string(tpl->id));
                const gui::DialogMetrics m = gui::ChooseDialogMetrics(*tpl, Available(s), wanted);
                EXPECT_EQ(m.fontPixels, wanted);
                const QSize client = gui::DialogClientSize(*tpl, m.units);
                EXPECT_GE(client.width(), static_cast<int>(own.width() * scale) - 4);
                EXPECT_GE(client.height(), static_cast<int>(own.height() * scale) - 4);
                gui::DialogView view(*tpl, nullptr, Available(s), scale);
                EXPECT_EQ(view.font().pixelSize(), wanted);
                guitest::ExpectCaptionsFit(view, *tpl);
            }
        }
    }
}
