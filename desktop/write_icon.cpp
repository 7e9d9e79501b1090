// Writes icon 128 (res/, one drawing) as the desktop's icon theme files: PNGs at the usual
// sizes and a scalable SVG traced from the same pixels, under OUTDIR/hicolor/.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <cstdio>
#include <iostream>
#include <vector>

#include "res/resources.h"

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool WritePng(const QImage& icon, int size, const QString& root) {
    // Whole multiples keep the drawing's pixels crisp; other sizes are filtered.
    const bool whole = size % icon.width() == 0;
    const QImage scaled = icon.scaled(size, size, Qt::IgnoreAspectRatio,
                                      whole ? Qt::FastTransformation : Qt::SmoothTransformation);
    const QString dir = QString("%1/hicolor/%2x%2/apps").arg(root).arg(size);
    return QDir().mkpath(dir) && scaled.save(dir + "/zarn60-tool.png", "PNG");
}

// One rectangle per run of equal pixels in a row: the same picture at any size.
bool WriteSvg(const QImage& icon, const QString& root) {
    const QString dir = root + "/hicolor/scalable/apps";
    if (!QDir().mkpath(dir)) return false;
    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
        std::to_string(icon.width()) + "\" height=\"" + std::to_string(icon.height()) +
        "\" viewBox=\"0 0 " + std::to_string(icon.width()) + " " + std::to_string(icon.height()) +
        "\" shape-rendering=\"crispEdges\">\n";
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width();) {
            const QRgb p = icon.pixel(x, y);
            int run = 1;
            while (x + run < icon.width() && icon.pixel(x + run, y) == p) ++run;
            if (qAlpha(p) != 0) {
                char rect[160];
                std::snprintf(rect, sizeof rect,
                              "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"1\" "
                              "fill=\"#%02x%02x%02x\" fill-opacity=\"%.3f\"/>\n",
                              x, y, run, qRed(p), qGreen(p), qBlue(p), qAlpha(p) / 255.0);
                svg += rect;
            }
            x += run;
        }
    }
    svg += "</svg>\n";
    QFile file(dir + "/zarn60-tool.svg");
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(svg.data(), static_cast<qint64>(svg.size())) ==
               static_cast<qint64>(svg.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zarn60-write-icon OUTDIR\n";
        return 2;
    }
    const std::vector<uint8_t> png = res::IconPng();
    QImage icon;
    if (!icon.loadFromData(png.data(), static_cast<int>(png.size()), "PNG") ||
        icon.width() != icon.height()) {
        std::cerr << "zarn60-write-icon: icon 128 is not a square PNG image\n";
        return 1;
    }
    icon = icon.convertToFormat(QImage::Format_ARGB32);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int size : kSizes) {
        if (!WritePng(icon, size, root)) {
            std::cerr << "zarn60-write-icon: cannot write the " << size << "x" << size
                      << " icon under " << argv[1] << "\n";
            return 1;
        }
    }
    if (!WriteSvg(icon, root)) {
        std::cerr << "zarn60-write-icon: cannot write the scalable icon under " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
