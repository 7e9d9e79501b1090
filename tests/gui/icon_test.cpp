// The program's icon decoded without Qt's image readers: the same pixels as theirs, and
// every scanline filter a PNG may use undone right.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/qt/rgba_png.h"
#include "gui/qt/template_widgets.h"
#include "res/resources.h"

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// PNG's CRC-32 over a chunk's type and data.
uint32_t Crc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    const size_t from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, Crc(&out[from], out.size() - from));
}

int PaethOf(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// An RGBA PNG of `pixels` (rows of width * 4 bytes), each row filtered with `filters[y]`.
std::vector<uint8_t> EncodeRgba(int width, const std::vector<std::vector<uint8_t>>& pixels,
                                const std::vector<uint8_t>& filters) {
    QByteArray raw;
    std::vector<uint8_t> prior(static_cast<size_t>(width) * 4, 0);
    for (size_t y = 0; y < pixels.size(); ++y) {
        const std::vector<uint8_t>& row = pixels[y];
        raw.append(static_cast<char>(filters[y]));
        for (size_t i = 0; i < row.size(); ++i) {
            const int a = i >= 4 ? row[i - 4] : 0, b = prior[i], c = i >= 4 ? prior[i - 4] : 0;
            const int predict[] = {0, a, b, (a + b) / 2, PaethOf(a, b, c)};
            raw.append(static_cast<char>(row[i] - predict[filters[y]]));
        }
        prior = row;
    }
    const QByteArray packed = qCompress(raw).mid(4);  // the zlib stream without Qt's length
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32(header, static_cast<uint32_t>(width));
    Put32(header, static_cast<uint32_t>(pixels.size()));
    header.insert(header.end(), {8, 6, 0, 0, 0});
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", std::vector<uint8_t>(packed.begin(), packed.end()));
    Chunk(png, "IEND", {});
    return png;
}

QImage ReadWithQt(const std::vector<uint8_t>& png) {
    QByteArray bytes(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "png");
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

TEST(RgbaPng, TheProgramIconAsQtReadsIt) {
    QImage mine;
    ASSERT_TRUE(gui::DecodeRgbaPng(res::IconPng(), &mine));
    const QImage theirs = ReadWithQt(res::IconPng());
    ASSERT_FALSE(theirs.isNull());
    EXPECT_EQ(mine.convertToFormat(QImage::Format_ARGB32), theirs);
    EXPECT_EQ(gui::DecodePng(res::IconPng()).convertToFormat(QImage::Format_ARGB32), theirs);
}

TEST(RgbaPng, EveryFilterIsUndone) {
    // Three pixels a row, values that overflow a byte when predicted, one row per filter
    // and then the filters again over rows that differ from the ones above.
    const int width = 3;
    std::vector<std::vector<uint8_t>> pixels;
    std::vector<uint8_t> filters;
    for (int y = 0; y < 10; ++y) {
        std::vector<uint8_t> row;
        for (int i = 0; i < width * 4; ++i)
            row.push_back(static_cast<uint8_t>(y * 97 + i * 61 + 200));
        pixels.push_back(row);
        filters.push_back(static_cast<uint8_t>(y % 5));
    }
    const std::vector<uint8_t> png = EncodeRgba(width, pixels, filters);
    QImage mine;
    ASSERT_TRUE(gui::DecodeRgbaPng(png, &mine));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < width; ++x) {
            SCOPED_TRACE("filter " + std::to_string(y % 5) + " pixel " + std::to_string(x));
            const uint8_t* p = &pixels[static_cast<size_t>(y)][static_cast<size_t>(x) * 4];
            EXPECT_EQ(mine.pixel(x, y), qRgba(p[0], p[1], p[2], p[3]));
        }
    }
    EXPECT_EQ(mine, ReadWithQt(png));
}

TEST(RgbaPng, OtherFormsAndDamageAreLeftToQt) {
    const std::vector<uint8_t> icon = res::IconPng();
    auto changed = [&icon](size_t at, uint8_t value) {
        std::vector<uint8_t> png = icon;
        png.at(at) = value;
        return png;
    };
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"not a PNG", changed(1, 'X')},
        {"16 bits a sample", changed(24, 16)},
        {"RGB without alpha", changed(25, 2)},
        {"interlaced", changed(28, 1)},
        {"cut short", std::vector<uint8_t>(icon.begin(), icon.end() - 20)},
        {"pixels damaged", changed(icon.size() - 20, icon[icon.size() - 20] ^ 0x55)},
    };
    for (const auto& [name, png] : cases) {
        SCOPED_TRACE(name);
        QImage image(1, 1, QImage::Format_ARGB32);
        EXPECT_FALSE(gui::DecodeRgbaPng(png, &image));
        EXPECT_EQ(image.size(), QSize(1, 1));  // untouched
    }
}

}  // namespace
