// A dialog larger than the screen's free area is laid out smaller, so that no control is
// out of reach; on a screen where it fits it keeps its size to the pixel.
#include <gtest/gtest.h>

#include <QRect>
#include <QSize>
#include <string>

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

TEST(FitScreen, EveryControlOfBothDialogsStaysOnTheScreen) {
    const Screen screens[] = {
        {"1920x1080", {1920, 1080}, 1.0, 40},      {"1280x1024", {1280, 1024}, 1.0, 30},
        {"1280x1024 at 2", {1280, 1024}, 2.0, 30}, {"1366x768 at 1.25", {1366, 768}, 1.25, 30},
        {"1366x768 at 1.5", {1366, 768}, 1.5, 30}, {"1024x768", {1024, 768}, 1.0, 48},
        {"800x600", {800, 600}, 1.0, 0},           {"2560x1440 at 2", {2560, 1440}, 2.0, 60},
    };
    for (const res::DialogTemplate* tpl :
         {&res::MainDialogTemplate(), &res::AboutDialogTemplate()}) {
        const int own = gui::DialogFontPixels(*tpl);
        for (const Screen& s : screens) {
            SCOPED_TRACE(std::string(s.what) + ", template " + std::to_string(tpl->id));
            const QSize available = Available(s);
            const int pixels = gui::FittingFontPixels(*tpl, available);
            const QSize client = gui::DialogClientSize(*tpl, pixels);
            const QRect screen(QPoint(0, 0), available);
            EXPECT_TRUE(screen.contains(QRect(QPoint(0, 0), client + gui::kFrameAllowance)))
                << "window " << client.width() << "x" << client.height();
            // The largest size that fits: no needless shrinking, the template's own when it fits.
            EXPECT_LE(pixels, own);
            if (pixels < own) {
                EXPECT_FALSE(screen.contains(QRect(
                    QPoint(0, 0), gui::DialogClientSize(*tpl, pixels + 1) + gui::kFrameAllowance)));
            }
            const gui::BaseUnits units = gui::DialogBaseUnits(*tpl, pixels);
            const QRect inside(QPoint(0, 0), client);
            for (const res::ControlTemplate& t : tpl->controls) {
                const QRect place = gui::DialogUnitsToPixels(t.rect, units);
                EXPECT_TRUE(inside.contains(place)) << "control " << t.id;
                EXPECT_FALSE(place.isEmpty()) << "control " << t.id;
            }
        }
    }
    // Where it fits, the dialog is exactly the size it always had.
    EXPECT_EQ(gui::DialogClientSize(res::MainDialogTemplate(),
                                    gui::FittingFontPixels(res::MainDialogTemplate(), {1280, 994})),
              QSize(758, 675));
}
