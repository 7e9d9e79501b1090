// zarn60-bench-ops: each operation's wall time through the real links divided by its floor,
// the time its exchange must take by the pauses, time-outs and line times it is made of.
//
// The readers are zarn60-sim processes: --serial on a pseudo-terminal and --usb as a FUSE
// hidraw node. The dialog is the real CZARN60TOOLDlg on the real link backends, driven
// from here as the headless runner drives it, so the times exclude process start and
// resolve to microseconds. Each round runs every operation once, in the same order, so
// that a noisy moment of the machine spreads over all of them; the figure is the median.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "bench/child.h"
#include "ui/host.h"

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// 9600 baud, a start bit, 8 data bits and a stop bit.
constexpr double BYTE_MS = 10.0 * 1000.0 / 9600.0;
// The simulated reader makes a USB report ready 1 ms after the request (or after the
// host took the report before it): the reader's own answer time, part of the floor where
// the host waits for it.
constexpr double SIM_REPORT_DELAY_MS = 1.0;

double MsSince(SteadyTime start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The dialog's host as the headless runner has it: file dialogs answered, timer 1 kept
// on its schedule by the driver below.
class BenchHost : public ui::Host {
public:
    std::string savePath;
    std::vector<std::string> messages;
    uint32_t timerPeriod = 0;
    SteadyTime timerDue{};
    unsigned timerStarts = 0;

    void MessageBox(const std::string& text, const std::string&, ui::MsgIcon) override {
        messages.push_back(text);
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest& r) override {
        if (r.save) return savePath;
        return std::nullopt;
    }
    void ShowAbout() override {}
    void DialogEnded(int) override {}
    void ControlChanged(int) override {}
    void TimerChanged(uint32_t periodMs) override {
        timerPeriod = periodMs;
        timerDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
        ++timerStarts;
    }
    void FocusChanged(int) override {}
};

// One tick of timer 1 when it is due; a tick that overran its period is followed at
// once by a single pending one, as a platform timer coalesces them.
void NextTick(CZARN60TOOLDlg& dlg, BenchHost& host) {
    std::this_thread::sleep_until(host.timerDue);
    const unsigned starts = host.timerStarts;
    const SteadyTime due = host.timerDue;
    dlg.TimerTick();
    if (host.timerStarts == starts && host.timerPeriod != 0) {
        host.timerDue = due + std::chrono::milliseconds(host.timerPeriod);
        const SteadyTime now = std::chrono::steady_clock::now();
        if (host.timerDue < now) host.timerDue = now;
    }
}

struct Operation {
    std::string name;
    int button;
    std::string expect;  // the test box afterwards; empty = checked by `check`
    // Serial operations whose answer the receive poll shows: the measurement runs until
    // the whole answer is in the test box.
    bool byPoll = false;
    // The floor in ms from what the run produced (the test box, the bytes received).
    std::function<double(const std::string& testBox, size_t received)> floor;
    // The floor with the whole line time at 9600 baud, the tool's own bytes included.
    std::function<double(size_t received)> lineFloor;
};

struct Sample {
    double ms = 0;
    double floorMs = 0;
    double lineFloorMs = 0;
    bool ok = false;
    std::string why;
};

class OpsBench {
public:
    OpsBench(CZARN60TOOLDlg& dlg, BenchHost& host) : m_dlg(dlg), m_host(host) {}

    // Puts the dialog on the link: USB, or serial with this COM number.
    void UseLink(bool serial, int com) {
        if (serial) {
            m_dlg.UserClick(IDC_SERIAL_PORT);
            m_dlg.UserType(IDC_COM, std::to_string(com));
        } else {
            m_dlg.UserClick(IDC_USB);
        }
    }

    // Runs one operation and measures it. `expectedBytes` is how many bytes the receive
    // poll must show for a poll operation (0: learn it, waiting for 300 ms of quiet).
    Sample Run(const Operation& op, size_t* expectedBytes) {
        Sample s;
        m_dlg.UserClick(IDC_CLEAR);  // so that what the operation shows is its own
        m_host.messages.clear();
        const SteadyTime start = std::chrono::steady_clock::now();
        m_dlg.UserClick(op.button);
        if (op.byPoll) {
            if (m_host.timerPeriod == 0) {
                s.why = "the receive poll did not start";
                return s;
            }
            if (*expectedBytes == 0) {
                // Learning run: everything the reader sends, until it falls quiet.
                SteadyTime lastGrowth = std::chrono::steady_clock::now();
                size_t seen = 0;
                while (MsSince(lastGrowth) < 300) {
                    NextTick(m_dlg, m_host);
                    if (g_strReceived.size() != seen) {
                        seen = g_strReceived.size();
                        lastGrowth = std::chrono::steady_clock::now();
                    }
                }
                *expectedBytes = seen;
            } else {
                while (g_strReceived.size() < *expectedBytes && MsSince(start) < 10000)
                    NextTick(m_dlg, m_host);
            }
        }
        s.ms = MsSince(start);
        const std::string box = m_dlg.GetText(IDC_TEST_BOX);
        if (!m_host.messages.empty()) {
            s.why = "message box: " + m_host.messages.front();
        } else if (op.byPoll && (*expectedBytes == 0 || g_strReceived.size() != *expectedBytes ||
                                 box != g_strReceived)) {
            s.why = "the answer did not come whole (" + std::to_string(g_strReceived.size()) +
                    " bytes)";
        } else if (!op.expect.empty() && box != op.expect) {
            s.why = "test box \"" + box + "\"";
        } else if (op.expect.empty() && !op.byPoll && box.empty()) {
            s.why = "nothing shown";
        } else {
            s.ok = true;
        }
        s.floorMs = op.floor(box, g_strReceived.size());
        s.lineFloorMs = op.lineFloor ? op.lineFloor(g_strReceived.size()) : s.floorMs;
        return s;
    }

private:
    CZARN60TOOLDlg& m_dlg;
    BenchHost& m_host;
};

std::vector<Operation> UsbOperations() {
    // Download: 8 output reports, 17 ms after each; the verdict is ready 1 ms after the
    // last report, long before its pause ends. Upload and save: the first of 7 reports
    // 1 ms after the request, then each read followed by its pause (17 or 20 ms). Read
    // card: the data reports 20 ms apart, then the 500 ms silence that ends them.
    auto fixed = [](double ms) { return [ms](const std::string&, size_t) { return ms; }; };
    return {
        {"download", IDC_DOWNLOAD, "Setup ok", false, fixed(8 * 17.0), nullptr},
        {"factory", IDC_FACTORY, "Setup ok", false, fixed(8 * 17.0), nullptr},
        {"upload", IDC_UPLOAD, "Get Setting Ok", false, fixed(SIM_REPORT_DELAY_MS + 7 * 17.0),
         nullptr},
        {"save", IDC_SAVE_FILE, "Save CFG file Setup.cfg Ok", false,
         fixed(SIM_REPORT_DELAY_MS + 7 * 20.0), nullptr},
        {"version", IDC_GET_VERSION, "V2.10", false, fixed(SIM_REPORT_DELAY_MS), nullptr},
        {"read card", IDC_READ_CARD, "", false,
         [](const std::string& box, size_t) {
             const double reports = std::ceil(static_cast<double>(box.size() / 2) / 8.0);
             return SIM_REPORT_DELAY_MS + reports * 20.0 + 500.0;
         },
         nullptr},
    };
}

std::vector<Operation> SerialOperations(uint32_t pollMs) {
    // A pseudo-terminal passes the tool's bytes at once; only the reader paces its own at
    // 9600 baud. The floor counts the line time the link imposes (the reader's bytes);
    // the line floor adds the tool's bytes, as a real 9600 baud line would.
    auto written = [](double toolBytes, double readerBytes, double waitMs) {
        return std::make_pair(
            [readerBytes, waitMs](const std::string&, size_t) {
                return readerBytes * BYTE_MS + waitMs;
            },
            [toolBytes, readerBytes, waitMs](size_t) {
                return (toolBytes + readerBytes) * BYTE_MS + waitMs;
            });
    };
    // Download and factory: 64 bytes out, one verdict byte back, then one reply time-out
    // (850 or 450 ms) ends the wait for more. Upload and save: 'S' out, 56 bytes back.
    auto download = written(64, 1, 850);
    auto factory = written(64, 1, 450);
    auto upload = written(1, 56, 0);
    // Version and read card: the receive poll shows one byte a tick, so the last of n
    // bytes can show no earlier than the n-th tick (the line brings a byte every 1.04 ms,
    // faster than the ticks).
    auto byTicks = [pollMs](const std::string&, size_t n) {
        return static_cast<double>(n) * pollMs;
    };
    auto byTicksLine = [pollMs](size_t n) {
        return std::max(static_cast<double>(n) * pollMs, (1.0 + n) * BYTE_MS);
    };
    return {
        {"download", IDC_DOWNLOAD, "Setup ok", false, download.first, download.second},
        {"factory", IDC_FACTORY, "Setup ok", false, factory.first, factory.second},
        {"upload", IDC_UPLOAD, "Get Setting Ok", false, upload.first, upload.second},
        {"save", IDC_SAVE_FILE, "Save CFG file Setup.cfg Ok", false, upload.first, upload.second},
        {"version", IDC_GET_VERSION, "", true, byTicks, byTicksLine},
        {"read card", IDC_READ_CARD, "", true, byTicks, byTicksLine},
    };
}

struct Row {
    std::string link, op;
    std::vector<Sample> samples;
};

void PrintRows(const std::vector<Row>& rows, double target) {
    std::printf("%-7s %-10s %9s %9s %8s %7s %7s %7s %10s  %s\n", "link", "operation", "floor ms",
                "median ms", "extra ms", "ratio", "min", "max", "line ratio", "verdict");
    for (const Row& row : rows) {
        std::vector<double> ratios, lineRatios, times, floors, extras;
        std::string failure;
        for (const Sample& s : row.samples) {
            if (!s.ok) {
                if (failure.empty()) failure = s.why;
                continue;
            }
            ratios.push_back(s.ms / s.floorMs);
            lineRatios.push_back(s.ms / s.lineFloorMs);
            times.push_back(s.ms);
            floors.push_back(s.floorMs);
            extras.push_back(s.ms - s.floorMs);
        }
        if (ratios.empty()) {
            std::printf("%-7s %-10s  FAILED: %s\n", row.link.c_str(), row.op.c_str(),
                        failure.c_str());
            continue;
        }
        const double ratio = bench::Median(ratios);
        const bool lineDiffers = row.link == "serial";
        char line[16] = "-";
        if (lineDiffers) std::snprintf(line, sizeof line, "%.3f", bench::Median(lineRatios));
        std::printf("%-7s %-10s %9.1f %9.1f %8.2f %7.3f %7.3f %7.3f %10s  %s%s\n", row.link.c_str(),
                    row.op.c_str(), bench::Median(floors), bench::Median(times),
                    bench::Median(extras), ratio, *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), line,
                    ratio <= target ? "ok" : "ABOVE TARGET",
                    failure.empty() ? "" : ("  (some runs failed: " + failure + ")").c_str());
    }
}

void Usage() {
    std::cout << "usage: zarn60-bench-ops [--runs N] [--link usb|serial|all] [--sim PATH]\n"
                 "                        [--save-dir DIR]\n"
                 "  --runs N       rounds of every operation (default 7); the median counts\n"
                 "  --link         which links to measure (default all; USB needs root and "
                 "/dev/fuse)\n"
                 "  --sim PATH     the zarn60-sim to start\n"
                 "  --save-dir DIR where \"Save setting to File\" writes (default /dev/shm)\n";
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    std::string link = "all";
    std::string simPath = ZARN60_SIM_PATH;
    std::string saveDir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else if (a == "--sim" && i + 1 < argc) {
            simPath = argv[++i];
        } else if (a == "--save-dir" && i + 1 < argc) {
            saveDir = argv[++i];
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    const bool wantUsb = link == "all" || link == "usb";
    const bool wantSerial = link == "all" || link == "serial";
    constexpr int COM = 3;
    constexpr double TARGET = 1.03;

    bench::Child serialSim, usbSim;
    std::string error;
    bool haveSerial = false, haveUsb = false;
    if (wantSerial) {
        const std::string key = "ZARN60_COM" + std::to_string(COM);
        if (serialSim.Start({simPath, "--serial", "--com", std::to_string(COM)}, {}, false,
                            &error)) {
            auto keys = serialSim.ReadKeys({key}, 5000);
            if (keys.count(key)) {
                ::setenv(key.c_str(), keys[key].c_str(), 1);
                haveSerial = true;
            }
        }
        if (!haveSerial) std::cerr << "serial: zarn60-sim --serial did not start " << error << "\n";
    }
    if (wantUsb) {
        std::string why;
        if (!bench::CanServeFuse(&why)) {
            std::cerr << "usb: skipped: " << why << "\n";
        } else if (usbSim.Start({simPath, "--usb"}, {}, false, &error)) {
            auto keys = usbSim.ReadKeys({"ZARN60_SYSFS_ROOT", "ZARN60_DEV_ROOT"}, 5000);
            if (keys.size() == 2) {
                ::setenv("ZARN60_SYSFS_ROOT", keys["ZARN60_SYSFS_ROOT"].c_str(), 1);
                ::setenv("ZARN60_DEV_ROOT", keys["ZARN60_DEV_ROOT"].c_str(), 1);
                haveUsb = true;
            } else {
                std::cerr << "usb: zarn60-sim --usb did not start\n";
            }
        }
    }
    if (!haveSerial && !haveUsb) return 1;

    const std::string savePath = saveDir + "/zarn60-bench-" + std::to_string(::getpid()) + ".cfg";
    std::vector<Row> rows;
    BenchHost host;
    host.savePath = savePath;
    CZARN60TOOLApp app;
    app.InitInstance(host, [&](CZARN60TOOLDlg& dlg) {
        OpsBench bench(dlg, host);
        struct Plan {
            std::string link;
            bool serial;
            std::vector<Operation> ops;
            std::vector<size_t> expected;
            size_t firstRow;
        };
        std::vector<Plan> plans;
        if (haveUsb) plans.push_back({"usb", false, UsbOperations(), {}, 0});
        if (haveSerial) plans.push_back({"serial", true, SerialOperations(POLL_PERIOD_MS), {}, 0});
        for (Plan& p : plans) {
            p.expected.assign(p.ops.size(), 0);
            p.firstRow = rows.size();
            for (const Operation& op : p.ops) rows.push_back({p.link, op.name, {}});
        }
        // One round unmeasured: caches warm, and the poll operations learn their answers.
        for (Plan& p : plans) {
            bench.UseLink(p.serial, COM);
            for (size_t i = 0; i < p.ops.size(); ++i) bench.Run(p.ops[i], &p.expected[i]);
        }
        for (int r = 0; r < runs; ++r) {
            for (Plan& p : plans) {
                bench.UseLink(p.serial, COM);
                for (size_t i = 0; i < p.ops.size(); ++i)
                    rows[p.firstRow + i].samples.push_back(bench.Run(p.ops[i], &p.expected[i]));
            }
        }
        dlg.KillTimer();
    });
    ::unlink(savePath.c_str());
    serialSim.Stop();
    usbSim.Stop();

    std::printf("operation time / floor, median of %d runs (target <= %.2f)\n", runs, TARGET);
    PrintRows(rows, TARGET);
    std::printf(
        "floor: the pauses and time-outs the exchange is made of and the reader's answer time\n"
        "(the simulator's 1 ms a USB report, on a whole-millisecond tick: 0 to 1 ms); serial "
        "adds\nthe reader's bytes at 9600 baud (a pseudo-terminal passes the tool's own bytes "
        "at once).\nline ratio: against the floor with the tool's bytes on a 9600 baud line "
        "too.\nextra ms: the median of each run's time over its floor.\n");
    int status = 0;
    for (const Row& row : rows) {
        std::vector<double> ratios;
        for (const Sample& sample : row.samples)
            if (sample.ok) ratios.push_back(sample.ms / sample.floorMs);
        if (ratios.empty()) return 1;
        if (bench::Median(ratios) > TARGET) status = 3;
    }
    return status;
}
