#include "cli/half_written.h"

#include "cli/fields.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cli {
namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGTERM};
constexpr const char* kNames[] = {"SIGHUP", "SIGINT", "SIGTERM"};
constexpr int kCount = 3;

// Made before the write, so that the handler only writes bytes out.
struct Said {
    char text[512];
    size_t length = 0;
    bool installed = false;
    struct sigaction previous {};
};
Said g_said[kCount];

int IndexOf(int sig) {
    for (int i = 0; i < kCount; ++i)
        if (kSignals[i] == sig) return i;
    return -1;
}

void SayAndEnd(int sig) {
    const int saved = errno;
    const int i = IndexOf(sig);
    if (i >= 0) {
        const ssize_t written = ::write(STDERR_FILENO, g_said[i].text, g_said[i].length);
        (void)written;
        // The handler found before (the link's, or the default) takes the signal as soon
        // as this one returns: it is blocked until then.
        ::sigaction(sig, &g_said[i].previous, nullptr);
        g_said[i].installed = false;
        ::raise(sig);
    }
    errno = saved;
}

}  // namespace

HalfWrittenOnSignal::HalfWrittenOnSignal(const std::string& where) {
    for (int i = 0; i < kCount; ++i) {
        Said& said = g_said[i];
        const std::string text = "zarn60: " + PrintableText(where) + ": ended by " + kNames[i] +
                                 " after the write began; the reader may be half written\n";
        said.length = std::min(text.size(), sizeof said.text);
        std::memcpy(said.text, text.data(), said.length);
        said.text[sizeof said.text - 1] = '\n';
        if (::sigaction(kSignals[i], nullptr, &said.previous) != 0) continue;
        if (!(said.previous.sa_flags & SA_SIGINFO) && said.previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {};
        sa.sa_handler = SayAndEnd;
        sigemptyset(&sa.sa_mask);
        for (int other : kSignals) sigaddset(&sa.sa_mask, other);
        said.installed = ::sigaction(kSignals[i], &sa, nullptr) == 0;
    }
}

HalfWrittenOnSignal::~HalfWrittenOnSignal() {
    for (int i = 0; i < kCount; ++i) {
        if (g_said[i].installed) ::sigaction(kSignals[i], &g_said[i].previous, nullptr);
        g_said[i].installed = false;
    }
}

}  // namespace cli

#else

namespace cli {
HalfWrittenOnSignal::HalfWrittenOnSignal(const std::string&) {}
HalfWrittenOnSignal::~HalfWrittenOnSignal() {}
}  // namespace cli

#endif
