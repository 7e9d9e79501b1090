// Writes icon 128 to a PNG file for the desktop's menu entry, and checks that it has the
// size the install rule files it under.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <vector>

#include "res/resources.h"

namespace {

uint32_t BigEndian32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           uint32_t{b[at + 3]};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: zarn60-write-icon OUTPUT.png SIZE\n";
        return 2;
    }
    const std::vector<uint8_t> png = res::IconPng();
    // The IHDR chunk follows the 8-byte signature: length, "IHDR", width, height.
    if (png.size() < 24 || png[12] != 'I' || png[13] != 'H' || png[14] != 'D' || png[15] != 'R') {
        std::cerr << "zarn60-write-icon: icon 128 is not a PNG image\n";
        return 1;
    }
    const uint32_t size = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    if (BigEndian32(png, 16) != size || BigEndian32(png, 20) != size) {
        std::cerr << "zarn60-write-icon: icon 128 is " << BigEndian32(png, 16) << "x"
                  << BigEndian32(png, 20) << ", the install rule expects " << size << "x" << size
                  << "\n";
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out) {
        std::cerr << "zarn60-write-icon: cannot write " << argv[1] << "\n";
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
