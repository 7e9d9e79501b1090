// zarn60-bench-idle: the CPU the idle window uses while its receive poll runs on an open
// port, per second of wall time. The window is the real one (the Qt view on the real
// dialog, offscreen), the port a pseudo-terminal with zarn60-sim --serial behind it.
// "Open" starts the poll at 50 ms; "Get Version" restarts it at 10 ms, and once the
// answer is shown the window idles with the poll ticking. Side by side, in turns: a bare
// Qt timer every 10 ms whose tick waits 1 ms as the poll's read must (the yardstick), and
// the same two waits without Qt, the floor the machine itself sets. The 10 ms and 1 ms
// are the reader protocol's figures, written out here: a tool polling slower than that
// fails on its tick rate, one doing more a tick on its CPU over the yardstick's.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>

#include "app/zarn60_tool_dlg.h"
#include "bench/child.h"
#include "bench/click.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "res/resources.h"

namespace {

// The receive poll's period after an operation, and the wait of each tick's read.
constexpr uint32_t POLL_MS = 10;
constexpr int READ_WAIT_MS = 1;

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double WallMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// What a stretch of the event loop cost; phases of one kind add up.
struct Phase {
    uint32_t period = 0;
    double wallMs = 0, cpuMs = 0;
    long ticks = 0;

    double Percent() const { return wallMs > 0 ? 100.0 * cpuMs / wallMs : 0; }
    double TicksPerSecond() const { return wallMs > 0 ? ticks * 1000.0 / wallMs : 0; }
};

// Runs the event loop for `ms` and adds what the process used meanwhile.
void Measure(Phase* phase, const QTimer& timer, const long& ticks, int ms) {
    phase->period = timer.isActive() ? static_cast<uint32_t>(timer.interval()) : 0;
    const long ticks0 = ticks;
    const double cpu0 = CpuMs(), wall0 = WallMs();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    phase->cpuMs += CpuMs() - cpu0;
    phase->wallMs += WallMs() - wall0;
    phase->ticks += ticks - ticks0;
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The yardstick: a Qt timer on the same period whose tick does what a poll tick must do
// at the least on a silent line, wait 1 ms for a byte: here on an idle pseudo-terminal of
// its own, raw and non-blocking as the serial backend keeps its line.
class BareTick {
public:
    BareTick() {
        // m_line[0] the line the tick reads (the slave side), m_line[1] its far end.
        if (::openpty(&m_line[1], &m_line[0], nullptr, nullptr, nullptr) == 0) {
            termios t{};
            ::tcgetattr(m_line[0], &t);
            ::cfmakeraw(&t);
            ::tcsetattr(m_line[0], TCSANOW, &t);
            ::fcntl(m_line[0], F_SETFL, ::fcntl(m_line[0], F_GETFL) | O_NONBLOCK);
        } else {
            m_line[0] = m_line[1] = -1;
        }
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            ++m_ticks;
            uint8_t byte;
            if (::read(m_line[0], &byte, 1) == 1) return;
            pollfd p{m_line[0], POLLIN, 0};
            ::poll(&p, 1, READ_WAIT_MS);
        });
    }
    ~BareTick() {
        for (int fd : m_line)
            if (fd >= 0) ::close(fd);
    }
    BareTick(const BareTick&) = delete;
    BareTick& operator=(const BareTick&) = delete;

    QTimer& Timer() { return m_timer; }

    // The floor under both, without Qt: a thread that sleeps out the rest of each period
    // and then waits 1 ms for a byte, as plain system calls. Blocks the event loop.
    void PlainLoop(Phase* phase, int ms, uint32_t periodMs) {
        phase->period = periodMs;
        const double cpu0 = CpuMs(), wall0 = WallMs();
        long ticks = 0;
        while (WallMs() - wall0 < ms) {
            pollfd p{m_line[0], POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(periodMs) - READ_WAIT_MS);
            uint8_t byte;
            if (::read(m_line[0], &byte, 1) != 1) ::poll(&p, 1, READ_WAIT_MS);
            ++ticks;
        }
        phase->cpuMs += CpuMs() - cpu0;
        phase->wallMs += WallMs() - wall0;
        phase->ticks += ticks;
    }
    const long& Ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    int m_line[2];
    long m_ticks = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    std::string simPath = ZARN60_SIM_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::max(2, std::atoi(argv[++i]));
        } else if (a == "--sim" && i + 1 < argc) {
            simPath = argv[++i];
        } else {
            std::cout << "usage: zarn60-bench-idle [--seconds N] [--sim PATH]\n";
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    // The window's CPU over the yardstick's; its ticks a second within this share of
    // the prescribed rate.
    constexpr double TARGET_RATIO = 1.15;
    constexpr double RATE_TOLERANCE = 0.05;
    constexpr int ROUNDS = 4;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    bench::Child sim;
    std::string error;
    if (!sim.Start({simPath, "--serial", "--com", "1"}, {}, false, &error)) {
        std::cerr << "zarn60-bench-idle: " << error << "\n";
        return 1;
    }
    auto keys = sim.ReadKeys({"ZARN60_COM1"}, 5000);
    if (!keys.count("ZARN60_COM1")) {
        std::cerr << "zarn60-bench-idle: zarn60-sim --serial did not start\n";
        return 1;
    }
    // The COM box shows 1 at start.
    ::setenv("ZARN60_COM1", keys["ZARN60_COM1"].c_str(), 1);

    QApplication app(argc, argv);
    QApplication::setFont(gui::DialogFont(res::MainDialogTemplate()));
    gui::DialogView view(res::MainDialogTemplate());
    long ticks = 0;
    QObject::connect(&view.Timer1(), &QTimer::timeout, [&ticks] { ++ticks; });
    BareTick bare;

    Phase open, idle, yardstick, plain;
    std::string shown, failure;
    auto click = [&view, &failure](int id) { return bench::ClickButton(view, id, &failure); };
    CZARN60TOOLApp theApp;
    theApp.InitInstance(view, [&](CZARN60TOOLDlg& dialog) {
        view.Attach(&dialog);
        QTimer::singleShot(0, &view, [&] {
            if (click(IDC_SERIAL_PORT) && click(IDC_OPEN)) {
                Wait(300);
                Measure(&open, view.Timer1(), ticks, std::max(1000, seconds * 200));
                // The window and the yardstick take turns, so that the machine's noise
                // falls on both alike. Between turns the poll is stopped, and "Get
                // Version" starts it again on the tool's own period; its answer comes in
                // (one byte a tick) before the window's turn is measured.
                const int slice = seconds * 1000 / ROUNDS;
                for (int r = 0; r < ROUNDS && click(IDC_GET_VERSION); ++r) {
                    Wait(500);
                    shown = dialog.GetText(IDC_TEST_BOX);
                    if (shown != "V2.10") break;
                    Measure(&idle, view.Timer1(), ticks, slice);
                    dialog.KillTimer();
                    bare.Timer().start(static_cast<int>(POLL_MS));
                    Measure(&yardstick, bare.Timer(), bare.Ticks(), slice);
                    bare.Timer().stop();
                    bare.PlainLoop(&plain, slice, POLL_MS);
                }
            }
            view.close();
        });
        view.Exec();
    });
    sim.Stop();

    if (!failure.empty() || shown != "V2.10") {
        std::cerr << "zarn60-bench-idle: "
                  << (failure.empty() ? "the test box shows \"" + shown + "\", not V2.10" : failure)
                  << "\n";
        return 1;
    }
    std::printf("idle window, receive poll on an open pseudo-terminal, offscreen\n");
    std::printf("%-36s %8s %7s %8s %11s\n", "", "poll ms", "wall s", "ticks/s", "CPU %/wall");
    auto row = [](const char* name, const Phase& p) {
        std::printf("%-36s %8u %7.1f %8.1f %10.3f%%\n", name, p.period, p.wallMs / 1000,
                    p.TicksPerSecond(), p.Percent());
    };
    row("window, after \"Open\"", open);
    row("window, after \"Get Version\"", idle);
    row("yardstick: Qt timer + 1 ms wait", yardstick);
    row("floor: no Qt, sleep + 1 ms wait", plain);
    const double perTickUs = [&] {
        const double a = idle.ticks ? idle.cpuMs * 1000 / idle.ticks : 0;
        const double b = yardstick.ticks ? yardstick.cpuMs * 1000 / yardstick.ticks : 0;
        return a - b;
    }();
    std::printf("the window's own share: %.3f %% (%.1f us a tick)\n",
                idle.Percent() - yardstick.Percent(), perTickUs);
    const double ratio = idle.Percent() / yardstick.Percent();
    const double rate = 1000.0 / POLL_MS;
    const bool rateOk = std::abs(idle.TicksPerSecond() - rate) <= rate * RATE_TOLERANCE;
    const bool cpuOk = ratio <= TARGET_RATIO;
    std::printf(
        "window / yardstick: %.3f (target <= %.2f); ticks/s %.1f (the poll's %u ms: %.0f)\n", ratio,
        TARGET_RATIO, idle.TicksPerSecond(), POLL_MS, rate);
    std::printf("verdict: %s\n", !rateOk ? "POLL OFF ITS PERIOD" : cpuOk ? "ok" : "ABOVE TARGET");
    return rateOk && cpuOk ? 0 : 3;
}
