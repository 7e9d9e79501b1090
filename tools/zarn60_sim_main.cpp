// zarn60-sim: a simulated ZARN60 on a pseudo-terminal (--serial) or as a hidraw node
// (--usb), so that the tool can be tried without a reader.
#include <signal.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "base/posix/standard_descriptors.h"
#include "sim/options.h"
#include "sim/pty.h"
#ifdef ZARN60_HAVE_FUSE
#include "sim/fuse/usb_server.h"
#endif

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_swipes = 0;
volatile sig_atomic_t g_logs = 0;

void OnStop(int) {
    g_stop = 1;
}
void OnSwipe(int) {
    g_swipes = g_swipes + 1;
}
void OnLog(int) {
    g_logs = 1;
}

void Handle(int sig, void (*handler)(int)) {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a signal cuts the serving loop's wait short.
    sigaction(sig, &sa, nullptr);
}

int ServeSerial(const sim::SimOptions& options) {
    sim::PtyReader pty;
    std::string error;
    if (!pty.Open(&error)) {
        std::cerr << "zarn60-sim: " << error << "\n";
        return 1;
    }
    sim::ApplySimOptions(options, &pty.GetReader());
    for (int sig : sim::StopSignals()) Handle(sig, OnStop);
    Handle(SIGUSR1, OnSwipe);
    Handle(SIGUSR2, OnLog);
    bool logFailed = false;
    // What it received, into the --log file (on SIGUSR2 and at the end).
    auto writeLog = [&options, &pty, &logFailed] {
        if (options.logPath.empty() || sim::AppendReceived(options.logPath, &pty.GetReader()))
            return;
        if (!logFailed) std::cerr << "zarn60-sim: cannot write " << options.logPath << "\n";
        logFailed = true;
    };

    std::cout << "ZARN60_COM" << options.com << "=" << pty.SlavePath() << std::endl;
    std::cerr << "zarn60-sim: reader on " << pty.SlavePath() << " (COM" << options.com
              << "); SIGUSR1 swipes a card; stop with Ctrl-C\n";
    const int status = pty.Serve(
        [&writeLog] {
            if (g_logs) {
                g_logs = 0;
                writeLog();
            }
            return g_stop != 0;
        },
                                 [] {
                                     if (g_swipes == 0) return false;
                                     g_swipes = g_swipes - 1;
                                     return true;
                                 },
                                 options.swipeEveryMs);
    writeLog();
    if (status == 3) std::cerr << "zarn60-sim: the reader vanished (line hung up)\n";
    if (logFailed) return 1;
    return status == 3 ? 0 : status;
}

}  // namespace

int main(int argc, char** argv) {
    zarn::OpenStandardDescriptorsAndSay("zarn60-sim");
    std::vector<std::string> args(argv + 1, argv + argc);
    sim::SimOptions options;
    std::string error;
    if (!sim::ParseSimOptions(args, &options, &error)) {
        std::cerr << "zarn60-sim: " << error << " (zarn60-sim --help lists the options)\n";
        return 2;
    }
    if (options.help || options.showVersion) {
        if (options.help) {
            std::cout << sim::SimUsageText();
        } else {
            std::cout << "zarn60-sim " ZARN60_VERSION "\n";
        }
        std::cout.flush();
        if (std::cout.good()) return 0;
        std::cerr << "zarn60-sim: cannot write to standard output\n";
        return 1;
    }
    if (options.link == sim::SimOptions::Link::Serial) return ServeSerial(options);
#ifdef ZARN60_HAVE_FUSE
    return sim::ServeUsb(options, std::cout);
#else
    std::cerr << "zarn60-sim: --usb is not available: this build has no FUSE support "
                 "(install libfuse3 development files and rebuild)\n";
    return 1;
#endif
}
