// The document parser's cost against the input's size: documents of 12.5k to 100k names
// (most of them "$" comments, as a document within the 1 MiB limit may hold) parsed by
// cli::ParseDocument and, as the yardsticks, by the JSON library alone, without and with an
// event callback. Prints each time, the ratio to the library with events, and how much
// faster our time grows from the smallest to the largest document than the library's.
// Exit 3 when that ratio or that growth is above 2, as a parser that searches its names
// one by one shows.
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/commands.h"

namespace {

std::string Document(int names) {
    std::string text = "{\"beep\": true";
    // Names of up to four base-36 digits after the '$': 100k of them in just under 1 MB.
    for (int i = 0; i < names; ++i) {
        std::string name;
        for (int n = i; name.empty() || n > 0; n /= 36) name += "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36];
        text += ",\"$" + name + "\":0";
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
    double oursFirst = 0, plainFirst = 0, oursLast = 0, plainLast = 0, withCallbackLast = 0;
    std::printf("%8s %9s %10s %10s %10s %7s\n", "names", "bytes", "ours s", "library s",
                "+events s", "ratio");
    for (const int names : sizes) {
        const std::string text = Document(names);
        size_t kept = 0;  // used, so that no parse is left out
        const double ours = Best([&] { kept += cli::ParseDocument(text, "bench").size(); });
        const double plain = Best([&] { kept += nlohmann::json::parse(text).size(); });
        // The library with an event callback that keeps everything: the parser that
        // ParseDocument needs to see each name, without our checks.
        const nlohmann::json::parser_callback_t keepAll = [](int, nlohmann::json::parse_event_t,
                                                             nlohmann::json&) { return true; };
        const double withCallback =
            Best([&] { kept += nlohmann::json::parse(text, keepAll).size(); });
        if (kept == 0) return 1;
        std::printf("%8d %9zu %10.4f %10.4f %10.4f %7.2f\n", names, text.size(), ours, plain,
                    withCallback, ours / withCallback);
        if (names == sizes[0]) {
            oursFirst = ours;
            plainFirst = plain;
        }
        oursLast = ours;
        plainLast = plain;
        withCallbackLast = withCallback;
    }
    // The library's own growth is the yardstick: a parser that searches its names one by
    // one grows with the square of their number, 8 times more than the library here.
    const double growth = (oursLast / oursFirst) / (plainLast / plainFirst);
    const double ratio = oursLast / withCallbackLast;
    std::printf("at 100k names: %.2f x the library with events (target <= 2), %.2f x without; "
                "growth from 12.5k names over the library's: %.2f (target <= 2)\n",
                ratio, oursLast / plainLast, growth);
    return ratio > 2.0 || growth > 2.0 ? 3 : 0;
}
