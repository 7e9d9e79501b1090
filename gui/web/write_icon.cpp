// Writes icon 128 (res/) as the page's PNG: zarn60-web-icon FILE.
#include <cstdio>
#include <vector>

#include "res/resources.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zarn60-web-icon FILE\n");
        return 2;
    }
    const std::vector<uint8_t> png = res::IconPng();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    if (std::fclose(f) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
