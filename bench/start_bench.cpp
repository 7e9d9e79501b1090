// zarn60-bench-start: zarn60-tool's start to its first painted window, offscreen, and the
// peak resident memory, against its fair peer: a window of the same size with one line of
// text in the tool's font, the least any such window must do. Each process ends at its
// first paint; the time runs from fork() to its end, so it holds loading, Qt's start,
// building the window and painting it. The programs take turns, so that the machine's
// noise falls on all alike. A bare dialog without text (no font system, a smaller
// window) and the tool's own widgets alone (no dialog model behind them: what Qt's
// widgets for the template cost by themselves) are second figures. Start-up is held, not
// chased: the ratios are shown, none is a target, and the program exits 0 when all ran.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "bench/child.h"

int main(int argc, char** argv) {
    int runs = 15;
    std::string tool = ZARN60_TOOL_PATH, peer = ZARN60_FAIR_PEER_PATH,
                bare = ZARN60_BARE_DIALOG_PATH, widgets = ZARN60_WIDGETS_ALONE_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--tool" && i + 1 < argc) {
            tool = argv[++i];
        } else if (a == "--peer" && i + 1 < argc) {
            peer = argv[++i];
        } else if (a == "--bare" && i + 1 < argc) {
            bare = argv[++i];
        } else if (a == "--widgets" && i + 1 < argc) {
            widgets = argv[++i];
        } else {
            std::cout << "usage: zarn60-bench-start [--runs N] [--tool PATH] [--peer PATH] "
                         "[--bare PATH] [--widgets PATH]\n";
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    // Every program ends at its first frame through the same preloaded library.
    const std::map<std::string, std::string> env = {{"QT_QPA_PLATFORM", "offscreen"},
                                                    {"LD_PRELOAD", ZARN60_FIRST_PAINT_HOOK}};
    struct Program {
        std::vector<std::string> argv;
        std::vector<double> ms, kb;
    };
    Program programs[] = {
        {{tool}, {}, {}}, {{peer}, {}, {}}, {{bare}, {}, {}}, {{widgets}, {}, {}}};
    constexpr int COUNT = 4;
    // Two rounds unmeasured: the libraries come into the page cache. The order turns
    // round by round.
    for (int r = -2; r < runs; ++r) {
        for (int k = 0; k < COUNT; ++k) {
            Program& p = programs[(k + r + 2) % COUNT];
            const bench::RunResult result = bench::RunToExit(p.argv, env, 20000);
            if (!result.ok) {
                std::cerr << "zarn60-bench-start: " << p.argv[0] << ": " << result.error << "\n";
                return 1;
            }
            if (r < 0) continue;
            p.ms.push_back(result.wallMs);
            p.kb.push_back(static_cast<double>(result.maxRssKb));
        }
    }
    const Program &t = programs[0], &f = programs[1], &b = programs[2], &w = programs[3];
    // Each round's ratio is taken between runs a moment apart, so that a slow stretch of
    // the machine falls on both sides of it; the figure is their median.
    auto roundRatio = [runs](const std::vector<double>& over, const std::vector<double>& under) {
        std::vector<double> ratios;
        for (int r = 0; r < runs; ++r) ratios.push_back(over[r] / under[r]);
        return bench::Median(ratios);
    };
    const double timeRatio = roundRatio(t.ms, f.ms);
    const double memoryRatio = roundRatio(t.kb, f.kb);
    std::printf("start to first painted window, offscreen, median of %d rounds\n", runs);
    std::printf("%-28s %11s %10s %7s  %11s %7s\n", "", "zarn60-tool", "fair peer", "ratio",
                "bare dialog", "ratio");
    auto row = [&](const char* name, const char* format, const std::vector<double>& tv,
                   const std::vector<double>& fv, const std::vector<double>& bv, double ratio) {
        char over[32], fair[32], plain[32];
        std::snprintf(over, sizeof over, format, bench::Median(tv));
        std::snprintf(fair, sizeof fair, format, bench::Median(fv));
        std::snprintf(plain, sizeof plain, format, bench::Median(bv));
        std::printf("%-28s %11s %10s %7.3f  %11s %7.3f\n", name, over, fair, ratio, plain,
                    roundRatio(tv, bv));
    };
    row("wall time to first paint (ms)", "%.1f", t.ms, f.ms, b.ms, timeRatio);
    row("peak resident memory (KiB)", "%.0f", t.kb, f.kb, b.kb, memoryRatio);
    std::printf("%-28s %11s %10s %7.3f  %11s\n", "widgets alone / fair peer", "", "",
                roundRatio(w.ms, f.ms), "time");
    std::printf("%-28s %11s %10s %7.3f  %11s\n", "", "", "", roundRatio(w.kb, f.kb), "memory");
    std::printf("%-28s %11s %10s %7.3f  %11s\n", "zarn60-tool / widgets alone", "", "",
                roundRatio(t.ms, w.ms), "time");
    std::printf("%-28s %11s %10s %7.3f  %11s\n", "", "", "", roundRatio(t.kb, w.kb), "memory");
    std::printf(
        "fair peer: a 758 x 675 window, one label in the tool's font; bare dialog: no text,\n"
        "Qt's default size; widgets alone: the template's 86 widgets as the tool makes them,\n"
        "no dialog model. Times and memory: medians of the runs; ratios: medians of each\n"
        "round's ratio. Start-up is held, not chased: no ratio is a target.\n");
    return 0;
}
