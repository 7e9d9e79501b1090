// zarn60-bench-ops: each operation's wall time through the real links divided by its floor,
// the time its exchange must take by the pauses, time-outs and line times it is made of.
//
// The readers are zarn60-sim processes: --serial on a pseudo-terminal and --usb as a FUSE
// hidraw node. The window is the tool's own (the Qt view on the real CZARN60TOOLDlg,
// offscreen) on the real link backends; its buttons are clicked, and its own timer 1 and
// clock pace the receive poll and every pause and time-out. The floors are the reader
// protocol's fixed figures, written out here, so that a tool whose poll, pause or
// time-out ran long fails its row instead of moving its floor along. Each round runs
// every operation once, in the same order, so that a noisy moment of the machine spreads
// over all of them; the figure is the median.
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
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
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "bench/child.h"
#include "bench/click.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "res/resources.h"

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// The reader protocol's figures. Written here, never taken from the tool, so that the
// floors stay put when the tool's constants move.
constexpr double POLL_MS = 10;             // the receive poll after an operation
constexpr double WRITE_PAUSE_MS = 17;      // after each output report of a configuration
constexpr double UPLOAD_PAUSE_MS = 17;     // after each reply report of an upload
constexpr double SAVE_PAUSE_MS = 20;       // after each reply report of a save
constexpr double CARD_PAUSE_MS = 20;       // after each card data report
constexpr double CARD_SILENCE_MS = 500;    // the read time-out that ends the card data
constexpr double DOWNLOAD_REPLY_MS = 850;  // serial reply time-out of a download
constexpr double FACTORY_REPLY_MS = 450;   // serial reply time-out of the factory settings
constexpr double BAUD = 9600;
// A start bit, 8 data bits and a stop bit.
constexpr double BYTE_MS = 10.0 * 1000.0 / BAUD;

double MsSince(SteadyTime start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The tool's window with the two modal boxes answered: the save dialog gives the bench's
// path, and a message box is noted (a row with one fails) instead of waiting for a user.
class BenchView : public gui::DialogView {
public:
    BenchView() : gui::DialogView(res::MainDialogTemplate()) {}
    std::string savePath;
    std::vector<std::string> messages;

    void MessageBox(const std::string& text, const std::string&, ui::MsgIcon) override {
        messages.push_back(text);
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest& r) override {
        if (r.save) return savePath;
        return std::nullopt;
    }
};

// Runs the event loop (timer ticks included) until `done` holds after a tick of timer 1,
// or `limitMs` has passed. The check runs right after the tool's own tick handler.
void RunTicksUntil(const BenchView& view, int limitMs, const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const QMetaObject::Connection tick =
        QObject::connect(&view.Timer1(), &QTimer::timeout, &loop, [&] {
            if (done()) loop.quit();
        });
    limit.start(limitMs);
    if (!done()) loop.exec();
    QObject::disconnect(tick);
}

struct Operation {
    std::string name;
    int button;
    std::string expect;  // the test box afterwards; empty = checked otherwise
    // Serial operations whose answer the receive poll shows: the measurement runs until
    // the whole answer is in the test box.
    bool byPoll = false;
    // The floor in ms from what the run produced (the test box, the bytes received);
    // 0 when the exchange has no pause, time-out or line time to count.
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
    OpsBench(CZARN60TOOLDlg& dlg, BenchView& view) : m_dlg(dlg), m_view(view) {}

    bool Click(int id) { return bench::ClickButton(m_view, id, &m_failure); }
    const std::string& Failure() const { return m_failure; }

    // Puts the dialog on the link: USB, or serial on the COM box's port (1 at start).
    void UseLink(bool serial) { Click(serial ? IDC_SERIAL_PORT : IDC_USB); }

    // Runs one operation and measures it. `expectedBytes` is how many bytes the receive
    // poll must show for a poll operation (0: learn it, waiting for 300 ms of quiet).
    Sample Run(const Operation& op, size_t* expectedBytes) {
        Sample s;
        Click(IDC_CLEAR);  // so that what the operation shows is its own
        m_view.messages.clear();
        const SteadyTime start = std::chrono::steady_clock::now();
        if (!Click(op.button)) {
            s.why = m_failure;
            return s;
        }
        SteadyTime end = std::chrono::steady_clock::now();
        if (op.byPoll) {
            if (!m_view.Timer1().isActive()) {
                s.why = "the receive poll did not start";
                return s;
            }
            if (*expectedBytes == 0) {
                // Learning run: everything the reader sends, until it falls quiet.
                SteadyTime lastGrowth = std::chrono::steady_clock::now();
                size_t seen = 0;
                RunTicksUntil(m_view, 10000, [&] {
                    if (g_strReceived.size() != seen) {
                        seen = g_strReceived.size();
                        lastGrowth = std::chrono::steady_clock::now();
                    }
                    return MsSince(lastGrowth) >= 300;
                });
                *expectedBytes = seen;
            } else {
                RunTicksUntil(m_view, 10000,
                              [&] { return g_strReceived.size() >= *expectedBytes; });
            }
            end = std::chrono::steady_clock::now();
        }
        s.ms = std::chrono::duration<double, std::milli>(end - start).count();
        const std::string box = m_dlg.GetText(IDC_TEST_BOX);
        if (!m_view.messages.empty()) {
            s.why = "message box: " + m_view.messages.front();
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
    BenchView& m_view;
    std::string m_failure;
};

std::vector<Operation> UsbOperations() {
    // The simulated reader answers a USB request in 0 to 1 ms (a whole-millisecond tick),
    // so its answer time counts 0 here. Download: 8 output reports, a pause after each;
    // the verdict is ready long before the last pause ends. Upload and save: the 7 reply
    // reports, each followed by its pause. Read card: the data reports, each followed by
    // its pause, then the silence that ends them. Version: one request and one reply,
    // nothing to count.
    auto fixed = [](double ms) { return [ms](const std::string&, size_t) { return ms; }; };
    return {
        {"download", IDC_DOWNLOAD, "Setup ok", false, fixed(8 * WRITE_PAUSE_MS), nullptr},
        {"factory", IDC_FACTORY, "Setup ok", false, fixed(8 * WRITE_PAUSE_MS), nullptr},
        {"upload", IDC_UPLOAD, "Get Setting Ok", false, fixed(7 * UPLOAD_PAUSE_MS), nullptr},
        {"save", IDC_SAVE_FILE, "Save CFG file Setup.cfg Ok", false, fixed(7 * SAVE_PAUSE_MS),
         nullptr},
        {"version", IDC_GET_VERSION, "V2.10", false, fixed(0), nullptr},
        {"read card", IDC_READ_CARD, "", false,
         [](const std::string& box, size_t) {
             const double reports = std::ceil(static_cast<double>(box.size() / 2) / 8.0);
             return reports * CARD_PAUSE_MS + CARD_SILENCE_MS;
         },
         nullptr},
    };
}

std::vector<Operation> SerialOperations() {
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
    // ends the wait for more. Upload and save: 'S' out, 56 bytes back.
    auto download = written(64, 1, DOWNLOAD_REPLY_MS);
    auto factory = written(64, 1, FACTORY_REPLY_MS);
    auto upload = written(1, 56, 0);
    // Version and read card: the receive poll shows one byte a tick, so the last of n
    // bytes can show no earlier than the n-th tick (the line brings a byte every 1.04 ms,
    // faster than the ticks).
    auto byTicks = [](const std::string&, size_t n) { return static_cast<double>(n) * POLL_MS; };
    auto byTicksLine = [](size_t n) {
        return std::max(static_cast<double>(n) * POLL_MS, (1.0 + n) * BYTE_MS);
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

// The verdict of a row: 0 within the target, 3 above it (or no run succeeded); a row
// whose floor is 0 has no ratio and is only shown.
int PrintRows(const std::vector<Row>& rows, double target) {
    std::printf("%-7s %-10s %9s %9s %8s %7s %7s %7s %10s  %s\n", "link", "operation", "floor ms",
                "median ms", "extra ms", "ratio", "min", "max", "line ratio", "verdict");
    int status = 0;
    for (const Row& row : rows) {
        std::vector<double> ratios, lineRatios, times, floors, extras;
        std::string failure;
        for (const Sample& s : row.samples) {
            if (!s.ok) {
                if (failure.empty()) failure = s.why;
                continue;
            }
            if (s.floorMs > 0) ratios.push_back(s.ms / s.floorMs);
            if (s.lineFloorMs > 0) lineRatios.push_back(s.ms / s.lineFloorMs);
            times.push_back(s.ms);
            floors.push_back(s.floorMs);
            extras.push_back(s.ms - s.floorMs);
        }
        if (times.empty()) {
            std::printf("%-7s %-10s  FAILED: %s\n", row.link.c_str(), row.op.c_str(),
                        failure.c_str());
            status = 3;
            continue;
        }
        const std::string failed = failure.empty() ? "" : "  (some runs failed: " + failure + ")";
        if (ratios.empty()) {
            std::printf("%-7s %-10s %9.1f %9.1f %8.2f %7s %7s %7s %10s  %s%s\n", row.link.c_str(),
                        row.op.c_str(), 0.0, bench::Median(times), bench::Median(extras), "-", "-",
                        "-", "-", "no floor, not judged", failed.c_str());
            continue;
        }
        const double ratio = bench::Median(ratios);
        char line[16] = "-";
        if (row.link == "serial")
            std::snprintf(line, sizeof line, "%.3f", bench::Median(lineRatios));
        std::printf("%-7s %-10s %9.1f %9.1f %8.2f %7.3f %7.3f %7.3f %10s  %s%s\n", row.link.c_str(),
                    row.op.c_str(), bench::Median(floors), bench::Median(times),
                    bench::Median(extras), ratio, *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), line,
                    ratio <= target ? "ok" : "ABOVE TARGET", failed.c_str());
        if (ratio > target) status = 3;
    }
    return status;
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
    constexpr double TARGET = 1.03;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    bench::Child serialSim, usbSim;
    std::string error;
    bool haveSerial = false, haveUsb = false;
    if (wantSerial) {
        // COM1: the port the COM box shows at start.
        if (serialSim.Start({simPath, "--serial", "--com", "1"}, {}, false, &error)) {
            auto keys = serialSim.ReadKeys({"ZARN60_COM1"}, 5000);
            if (keys.count("ZARN60_COM1")) {
                ::setenv("ZARN60_COM1", keys["ZARN60_COM1"].c_str(), 1);
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

    QApplication qapp(argc, argv);
    QApplication::setFont(gui::DialogFont(res::MainDialogTemplate()));
    BenchView view;
    view.savePath = saveDir + "/zarn60-bench-" + std::to_string(::getpid()) + ".cfg";
    std::vector<Row> rows;
    std::string failure;
    CZARN60TOOLApp app;
    app.InitInstance(view, [&](CZARN60TOOLDlg& dlg) {
        view.Attach(&dlg);
        QTimer::singleShot(0, &view, [&] {
            OpsBench bench(dlg, view);
            struct Plan {
                std::string link;
                bool serial;
                std::vector<Operation> ops;
                std::vector<size_t> expected;
                size_t firstRow;
            };
            std::vector<Plan> plans;
            if (haveUsb) plans.push_back({"usb", false, UsbOperations(), {}, 0});
            if (haveSerial) plans.push_back({"serial", true, SerialOperations(), {}, 0});
            for (Plan& p : plans) {
                p.expected.assign(p.ops.size(), 0);
                p.firstRow = rows.size();
                for (const Operation& op : p.ops) rows.push_back({p.link, op.name, {}});
            }
            // One round unmeasured: caches warm, and the poll operations learn their answers.
            for (Plan& p : plans) {
                bench.UseLink(p.serial);
                for (size_t i = 0; i < p.ops.size(); ++i) bench.Run(p.ops[i], &p.expected[i]);
            }
            for (int r = 0; r < runs; ++r) {
                for (Plan& p : plans) {
                    bench.UseLink(p.serial);
                    for (size_t i = 0; i < p.ops.size(); ++i)
                        rows[p.firstRow + i].samples.push_back(bench.Run(p.ops[i], &p.expected[i]));
                }
            }
            failure = bench.Failure();
            view.close();
        });
        view.Exec();
    });
    ::unlink(view.savePath.c_str());
    serialSim.Stop();
    usbSim.Stop();
    if (rows.empty()) {
        std::cerr << "zarn60-bench-ops: " << (failure.empty() ? "nothing ran" : failure) << "\n";
        return 1;
    }

    std::printf("operation time / floor, median of %d runs (target <= %.2f)\n", runs, TARGET);
    const int status = PrintRows(rows, TARGET);
    std::printf(
        "floor: the pauses, time-outs and poll ticks the exchange is made of, at the reader\n"
        "protocol's figures (10 ms poll, 17/20 ms pauses, 850/450/500 ms time-outs); serial adds\n"
        "the reader's bytes at 9600 baud (a pseudo-terminal passes the tool's own bytes at\n"
        "once); the simulated reader's USB answer time (0 to 1 ms) counts 0.\n"
        "line ratio: against the floor with the tool's bytes on a 9600 baud line too.\n"
        "extra ms: the median of each run's time over its floor.\n");
    return status;
}
