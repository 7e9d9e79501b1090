// zarn60-bench-start: zarn60-tool's start to its first painted window, offscreen, against
// a bare Qt Widgets dialog built with the same flags; and the peak resident memory of
// both. Each process ends at its first paint; the time runs from fork() to its end, so
// it holds loading, Qt's start, building the window and painting it. The two programs
// take turns, so that the machine's noise falls on both alike. A third program, the bare
// dialog with one line of text, shows how much of the difference is the font system that
// any window with text brings up.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "bench/child.h"

int main(int argc, char** argv) {
    int runs = 15;
    std::string tool = ZARN60_TOOL_PATH, bare = ZARN60_BARE_DIALOG_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--tool" && i + 1 < argc) {
            tool = argv[++i];
        } else if (a == "--bare" && i + 1 < argc) {
            bare = argv[++i];
        } else {
            std::cout << "usage: zarn60-bench-start [--runs N] [--tool PATH] [--bare PATH]\n";
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    constexpr double TIME_TARGET = 1.5, MEMORY_TARGET = 1.3;
    const std::map<std::string, std::string> env = {{"QT_QPA_PLATFORM", "offscreen"},
                                                    {"ZARN60_EXIT_AFTER_FIRST_PAINT", "1"}};
    struct Program {
        const char* name;
        std::vector<std::string> argv;
        std::vector<double> ms, kb;
    };
    Program programs[] = {{"zarn60-tool", {tool}, {}, {}},
                          {"bare dialog", {bare}, {}, {}},
                          {"one label", {bare, "--label"}, {}, {}}};
    constexpr int COUNT = 3;
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
    const Program &t = programs[0], &b = programs[1], &l = programs[2];
    // Each round's ratio is taken between runs a moment apart, so that a slow stretch of
    // the machine falls on both sides of it; the figure is their median.
    auto roundRatio = [runs](const std::vector<double>& over, const std::vector<double>& under) {
        std::vector<double> ratios;
        for (int r = 0; r < runs; ++r) ratios.push_back(over[r] / under[r]);
        return bench::Median(ratios);
    };
    const double timeRatio = roundRatio(t.ms, b.ms);
    const double memoryRatio = roundRatio(t.kb, b.kb);
    std::printf("start to first painted window, offscreen, median of %d rounds\n", runs);
    std::printf("%-28s %12s %12s %8s %8s %9s %13s\n", "", "zarn60-tool", "bare dialog", "ratio",
                "target", "verdict", "one label: ratio");
    std::printf("%-28s %12.1f %12.1f %8.3f %8.2f %9s %9.1f: %.3f\n",
                "wall time to first paint (ms)", bench::Median(t.ms), bench::Median(b.ms),
                timeRatio, TIME_TARGET, timeRatio <= TIME_TARGET ? "ok" : "ABOVE",
                bench::Median(l.ms), roundRatio(t.ms, l.ms));
    std::printf("%-28s %12.0f %12.0f %8.3f %8.2f %9s %9.0f: %.3f\n", "peak resident memory (KiB)",
                bench::Median(t.kb), bench::Median(b.kb), memoryRatio, MEMORY_TARGET,
                memoryRatio <= MEMORY_TARGET ? "ok" : "ABOVE", bench::Median(l.kb),
                roundRatio(t.kb, l.kb));
    std::printf("(times and memory: medians of the runs; ratios: medians of each round's ratio)\n");
    return timeRatio <= TIME_TARGET && memoryRatio <= MEMORY_TARGET ? 0 : 3;
}
