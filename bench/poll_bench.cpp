// zarn60-bench-poll: how many received bytes per second the window's receive poll keeps
// up with when the test box already holds 1 kB, 100 kB and 1 MB of text without line
// breaks (card data as a reader sends it). The window is the real one (the Qt view on the
// real dialog, offscreen); the port always has a byte waiting, and each tick is followed
// by the event processing and painting it causes; the box takes the bytes in with its
// frames, so every few ticks also run a frame (the bytes of those ticks shown and painted
// at once), as the 10 ms ticks and the view's frames do in the window. The poll reads one byte a tick, so it
// can never keep up with more than 1000 / 10 ms = 100 bytes/s; the line brings up to
// 960 bytes/s (9600 baud, 10 bits a byte). Ratios are against both.
#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "link/serial_link.h"
#include "res/resources.h"
#include "ui/view_driver.h"

namespace {

constexpr double kLineBytesPerSecond = 9600.0 / 10.0;
constexpr double kPollCeiling = 1000.0 / 10.0;  // one byte per 10 ms tick
// The window's frames as it runs them: the bytes of this many ticks go in at once.
constexpr int kTicksAFrame = ui::ViewDriver::kFrameMs / 10;

const std::string kCard = "%B4111111111111111^DOE/JOHN^2912101?;4111111111111111=2912101?";

// COM1 always has the next byte of card data waiting.
class EndlessPort : public zarn::SerialPort {
public:
    bool ReadSettings() override { return true; }
    bool ApplySettings(uint32_t, uint8_t, uint8_t) override { return true; }
    void Purge() override {}
    int WriteOne(uint8_t) override { return 1; }
    int ReadOne(uint8_t* byte, uint32_t) override {
        *byte = static_cast<uint8_t>(kCard[m_next++ % kCard.size()]);
        return 1;
    }

private:
    size_t m_next = 0;
};

class EndlessBackend : public zarn::SerialBackend {
public:
    std::unique_ptr<zarn::SerialPort> OpenPort(int number, zarn::SerialOpenError* error) override {
        if (number == 1) return std::make_unique<EndlessPort>();
        if (error) *error = zarn::SerialOpenError::NoDevice;
        return nullptr;
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override { return {}; }
};

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The processor time of the whole process (every thread of the window's), in ms.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct TickCost {
    double cpuSeconds = 0;   // processor time a tick takes: what the window costs
    double wallSeconds = 0;  // real time a tick takes: what other load adds to it
};

// What one tick costs once the box holds `size` bytes.
TickCost CostPerTick(size_t size, int ticks) {
    CZARN60TOOLDlg dlg;
    gui::DialogView view(res::MainDialogTemplate());
    dlg.SetHost(&view);
    dlg.Create();
    view.Attach(&dlg);
    view.show();
    QApplication::processEvents();
    dlg.UserClick(IDC_SERIAL_PORT);
    dlg.UserClick(IDC_OPEN);
    // The received text as if it had come in byte by byte; the first tick shows it whole
    // (the status text "Port is opened now" is up), as after any status text.
    g_strReceived.clear();
    while (g_strReceived.size() < size) g_strReceived += kCard;
    g_strReceived.resize(size);
    dlg.TimerTick();
    QApplication::processEvents();

    const double start = NowMs();
    const double startCpu = CpuMs();
    for (int i = 1; i <= ticks; ++i) {
        dlg.TimerTick();
        if (i % kTicksAFrame == 0) view.ShowAppendedText();
        QApplication::processEvents();
    }
    TickCost cost;
    cost.cpuSeconds = (CpuMs() - startCpu) / 1000.0 / ticks;
    cost.wallSeconds = (NowMs() - start) / 1000.0 / ticks;
    dlg.SetHost(nullptr);
    return cost;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    EndlessBackend backend;
    zarn::SetSerialBackend(&backend);

    std::printf("%-10s %12s %12s %14s %14s %12s %8s\n", "text", "ms/byte", "wall ms/byte",
                "bytes/s able", "kept up/poll", "vs line", "target");
    // A byte may cost the window a tenth of a millisecond of processor time, whatever the
    // box holds already. Real time is shown beside it: on a busy machine it also holds
    // the time other programs ran, which is not the window's.
    constexpr double kTargetMsPerByte = 0.1;
    constexpr double kMostGrowth = 2.0;  // 1 MB against 1 kB in the box
    bool met = true;
    double first = 0, last = 0;
    for (size_t size : {size_t{1000}, size_t{100000}, size_t{1000000}}) {
        const TickCost cost = CostPerTick(size, 500);
        const double able = 1.0 / cost.wallSeconds;
        const double keptUp = std::min(able, kPollCeiling);
        const bool ok = cost.cpuSeconds * 1000.0 <= kTargetMsPerByte;
        met = met && ok;
        if (first == 0) first = cost.cpuSeconds;
        last = cost.cpuSeconds;
        std::printf("%-10s %12.3f %12.3f %14.0f %14.3f %12.3f %8s\n",
                    size >= 1000000  ? "1 MB"
                    : size >= 100000 ? "100 kB"
                                     : "1 kB",
                    cost.cpuSeconds * 1000.0, cost.wallSeconds * 1000.0, able,
                    keptUp / kPollCeiling, able / kLineBytesPerSecond, ok ? "ok" : "OVER");
    }
    const double growth = last / first;
    met = met && growth <= kMostGrowth;
    std::printf("target: <= %.3f ms/byte each row; growth 1 MB / 1 kB %.2f (at most %.1f): %s\n",
                kTargetMsPerByte, growth, kMostGrowth, met ? "met" : "MISSED");
    std::printf(
        "ms/byte: processor time of the window a byte; kept up/poll: share of the poll's own "
        "100 bytes/s it keeps up with in real time (1.000 = all); vs line: what it could take "
        "against the line's 960 bytes/s\n");
    zarn::SetSerialBackend(nullptr);
    return met ? 0 : 3;  // 3: ran, but missed a target
}
