// Icon 128 is kept twice, as a PNG and as the pixels res/make_icon.py made from it: the
// window shows the pixels, the desktop files and a dialog's icon are made from the PNG.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "gui/qt/template_widgets.h"
#include "res/resources.h"

namespace {

TEST(ProgramIcon, ThePixelsAreThePngsAsQtReadsIt) {
    const QImage png = gui::DecodePng(res::IconPng()).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(png.isNull());
    const res::IconImage icon = res::IconPixels();
    ASSERT_EQ(QSize(icon.width, icon.height), png.size());
    for (int y = 0; y < icon.height; ++y) {
        for (int x = 0; x < icon.width; ++x) {
            const uint8_t* p = icon.rgba + (static_cast<size_t>(y) * icon.width + x) * 4;
            ASSERT_EQ(qRgba(p[0], p[1], p[2], p[3]), png.pixel(x, y))
                << "pixel " << x << "," << y << ": run res/make_icon.py again";
        }
    }
    const QImage shown = gui::ProgramIcon().pixmap(icon.width, icon.height).toImage();
    EXPECT_EQ(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied),
              png.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

}  // namespace
