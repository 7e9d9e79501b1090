#include "gui/qt/rgba_png.h"

#include <QByteArray>
#include <cstdlib>
#include <cstring>

namespace gui {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kBytesPerPixel = 4;

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint8_t Paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) return static_cast<uint8_t>(left);
    return static_cast<uint8_t>(toUp <= toUpLeft ? up : upLeft);
}

// Undoes a scanline's filter in place; `prior` is the line above, unfiltered (zeros for
// the first line).
bool Unfilter(uint8_t filter, uint8_t* line, const uint8_t* prior, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const int left = i >= kBytesPerPixel ? line[i - kBytesPerPixel] : 0;
        const int up = prior[i];
        const int upLeft = i >= kBytesPerPixel ? prior[i - kBytesPerPixel] : 0;
        int add = 0;
        switch (filter) {
            case 0:
                add = 0;
                break;
            case 1:
                add = left;
                break;
            case 2:
                add = up;
                break;
            case 3:
                add = (left + up) / 2;
                break;
            case 4:
                add = Paeth(left, up, upLeft);
                break;
            default:
                return false;
        }
        line[i] = static_cast<uint8_t>(line[i] + add);
    }
    return true;
}

}  // namespace

bool DecodeRgbaPng(const std::vector<uint8_t>& png, QImage* image) {
    if (png.size() < sizeof kSignature || std::memcmp(png.data(), kSignature, 8) != 0) return false;
    uint32_t width = 0, height = 0;
    bool header = false, end = false;
    // qUncompress takes the expected length in front of the zlib stream.
    QByteArray packed(4, '\0');
    for (size_t at = sizeof kSignature; at + 12 <= png.size() && !end;) {
        const uint32_t length = BigEndian32(&png[at]);
        if (length > png.size() - at - 12) return false;
        const uint8_t* type = &png[at + 4];
        const uint8_t* data = &png[at + 8];
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (header || length != 13) return false;
            width = BigEndian32(data);
            height = BigEndian32(data + 4);
            // 8 bits, RGBA, deflate, adaptive filters, not interlaced.
            if (data[8] != 8 || data[9] != 6 || data[10] != 0 || data[11] != 0 || data[12] != 0)
                return false;
            if (width == 0 || height == 0 || width > 1024 || height > 1024) return false;
            header = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (!header) return false;
            packed.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            end = true;
        } else if (!(type[0] & 0x20)) {
            return false;  // a critical chunk this decoder does not know (a palette, ...)
        }
        at += 12 + length;
    }
    if (!header || !end) return false;

    const size_t stride = size_t{width} * kBytesPerPixel;
    const size_t expected = size_t{height} * (1 + stride);
    packed[0] = static_cast<char>((expected >> 24) & 0xFF);
    packed[1] = static_cast<char>((expected >> 16) & 0xFF);
    packed[2] = static_cast<char>((expected >> 8) & 0xFF);
    packed[3] = static_cast<char>(expected & 0xFF);
    QByteArray raw = qUncompress(packed);
    if (static_cast<size_t>(raw.size()) != expected) return false;

    QImage decoded(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (decoded.isNull()) return false;
    std::vector<uint8_t> prior(stride, 0);
    auto* bytes = reinterpret_cast<uint8_t*>(raw.data());
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* line = bytes + size_t{y} * (1 + stride);
        if (!Unfilter(line[0], line + 1, prior.data(), stride)) return false;
        auto* out = reinterpret_cast<QRgb*>(decoded.scanLine(static_cast<int>(y)));
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = line + 1 + size_t{x} * kBytesPerPixel;
            out[x] = qRgba(p[0], p[1], p[2], p[3]);
        }
        std::memcpy(prior.data(), line + 1, stride);
    }
    *image = decoded;
    return true;
}

}  // namespace gui
