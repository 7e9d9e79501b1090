// The document parser's cost against the input's size: documents of 12.5k to 100k names
// (most of them "$" comments, as a document near the 1 MiB limit may hold) parsed by
// cli::ParseDocument and, as the yardstick, by the JSON library alone. Prints each time and
// its ratio to the yardstick, and the growth from the smallest to the largest document
// over the growth of its size (1.0 = linear). Exit 3 when the largest document's ratio is
// above 3 or the growth above 2, as a parser that searches its names one by one shows.
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/commands.h"

namespace {

std::string Document(int names) {
    std::string text = "{\"beep\": true";
    char key[32];
    for (int i = 0; i < names; ++i) {
        std::snprintf(key, sizeof key, ",\"$%07d\":0", i);
        text += key;
    }
    return text + "}";
}

// The shortest of a few runs, in seconds.
template <typename F>
double Best(F&& f) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (s < best) best = s;
    }
    return best;
}

}  // namespace

int main() {
    const int sizes[] = {12500, 25000, 50000, 100000};
    double first = 0, last = 0, lastRatio = 0;
    std::printf("%8s %9s %10s %10s %7s\n", "names", "bytes", "ours s", "library s", "ratio");
    for (const int names : sizes) {
        const std::string text = Document(names);
        const double ours = Best([&] { (void)cli::ParseDocument(text, "bench"); });
        const double library = Best([&] { (void)nlohmann::json::parse(text); });
        const double ratio = ours / library;
        std::printf("%8d %9zu %10.4f %10.4f %7.2f\n", names, text.size(), ours, library, ratio);
        if (names == sizes[0]) first = ours;
        last = ours;
        lastRatio = ratio;
    }
    const double growth = (last / first) / (double(sizes[3]) / sizes[0]);
    std::printf("growth over size growth, 12.5k to 100k names: %.2f (1.0 = linear)\n", growth);
    return lastRatio > 3.0 || growth > 2.0 ? 3 : 0;
}
