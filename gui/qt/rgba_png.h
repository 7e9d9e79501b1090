// The program's icon decoded without Qt's image readers: they look through every image
// plugin installed (and map each) before the built-in PNG reader runs, which cost the
// window's start about 200 KiB of resident memory for a 32 x 32 icon.
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

namespace gui {

// Decodes a PNG of 8-bit RGBA, not interlaced (the form of the program's icon) into an
// ARGB32 image. False for any other form or a damaged file; *image is then untouched.
bool DecodeRgbaPng(const std::vector<uint8_t>& png, QImage* image);

}  // namespace gui
