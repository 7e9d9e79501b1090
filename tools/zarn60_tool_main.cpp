// zarn60-tool: the window, the headless runner (--script) and the two listings
// (--list-ports, --list-devices). Only the window needs a display; the Qt application
// is created for it alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "link/hid_link.h"
#include "link/serial_link.h"
#include "runner/runner.h"
#include "sim/inprocess.h"
#include "ui/dialog.h"
#ifdef ZARN60_HAVE_GUI
#include "gui/run_window.h"
#endif

namespace {

void Usage(std::ostream& out) {
    out << "usage: zarn60-tool [--simulate] [--script FILE|-]\n"
           "       zarn60-tool --list-ports\n"
           "       zarn60-tool --list-devices\n"
           "  --simulate      attach the simulated reader (USB 0801:0005 and COM1)\n"
           "  --script FILE   run the dialog headless from a script ('-' = standard input)\n"
           "  --list-ports    list the COM numbers whose device exists\n"
           "  --list-devices  list the HID interfaces with their ids and report lengths\n";
}

std::string ProgramName(const char* argv0) {
    std::string name = argv0 ? argv0 : "zarn60-tool";
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
    return name;
}

int ListPorts() {
    auto ports = zarn::GetSerialBackend().ListPorts();
    if (ports.empty()) std::cout << "no serial ports found\n";
    for (const auto& p : ports) {
        std::cout << "COM" << p.number << "\t" << p.device;
        if (p.state != zarn::SerialOpenError::None) {
            std::cout << "\t" << zarn::SerialOpenErrorText(p.state);
            if (!p.detail.empty()) std::cout << " (" << p.detail << ")";
        }
        std::cout << "\n";
    }
    return 0;
}

int ListDevices() {
    auto devices = zarn::DescribeHidInterfaces();
    if (devices.empty()) std::cout << "no HID interfaces found\n";
    for (const auto& d : devices) {
        char ids[32] = "????:????";
        if (d.haveIds) std::snprintf(ids, sizeof ids, "%04x:%04x", d.vendorId, d.productId);
        std::cout << ids << "\t" << d.path;
        if (d.openable) {
            std::cout << "\tinput " << d.inputLength << " output " << d.outputLength;
            if (d.haveIds && (d.vendorId == 0x0801 || d.vendorId == 0x0802) &&
                d.productId == 0x0005)
                std::cout << "\tZARN60 reader";
        } else {
            std::cout << "\tcannot open: " << d.whyNot;
        }
        std::cout << "\n";
    }
    return 0;
}

// Shown where there is no display: the dialog driven headless through its main jobs
// against the simulated reader.
const char* const kDemoScript =
    "# no display: the dialog runs headless against the simulated reader\n"
    "dump\n"
    "click 1013\n"
    "get 1052\n"
    "click 1040\n"
    "get 1052\n"
    "click 1060\n"
    "get 1052\n"
    "sim card B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|\n"
    "click 1059\n"
    "get 1052\n"
    "click 1061\n"
    "click 1055\n"
    "click 1060\n"
    "wait 200\n"
    "get 1052\n"
    "click 1015\n";

}  // namespace

int main(int argc, char** argv) {
    bool simulate = false, listPorts = false, listDevices = false;
    std::optional<std::string> script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--simulate") {
            simulate = true;
        } else if (a == "--script" && i + 1 < argc) {
            script = argv[++i];
        } else if (a == "--list-ports") {
            listPorts = true;
        } else if (a == "--list-devices") {
            listDevices = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        } else {
            std::cerr << "zarn60-tool: unknown option " << a << "\n";
            Usage(std::cerr);
            return 2;
        }
    }
    ui::Dialog::SetProgramName(ProgramName(argv[0]));

    std::unique_ptr<sim::InProcessSimulation> simulation;
    if (simulate) simulation = std::make_unique<sim::InProcessSimulation>();

    if (listPorts) return ListPorts();
    if (listDevices) return ListDevices();

    runner::SimCommand simCommand;
    if (simulation) {
        simCommand = [&](const std::string& args, std::ostream& out, std::string* error) {
            return simulation->Command(args, out, error);
        };
    }
    if (script) {
#ifdef _WIN32
        // The runner's output is a pinned byte format: no CR added before each LF, and no
        // Ctrl-Z taken as the end of a script read from standard input (CRs there are
        // dropped by the runner itself).
        std::cout.flush();
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        if (*script == "-") return runner::RunScript(std::cin, std::cout, simCommand);
        std::ifstream in(*script, std::ios::binary);
        if (!in) {
            std::cerr << "zarn60-tool: cannot open script " << *script << ": "
                      << std::strerror(errno) << "\n";
            return 2;
        }
        return runner::RunScript(in, std::cout, simCommand);
    }

    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    bool haveDisplay = (display && *display) || (wayland && *wayland) || (platform && *platform);
#ifdef _WIN32
    haveDisplay = true;
#endif
#ifdef ZARN60_HAVE_GUI
    if (haveDisplay) return gui::RunWindow(argc, argv, simCommand);
    std::cerr << "zarn60-tool: no display";
#else
    std::cerr << "zarn60-tool: built without the window" << (haveDisplay ? "" : " and no display");
#endif
    if (!simulation) {
        std::cerr << "; run it on a desktop, or headless with --script FILE\n";
        return 1;
    }
    std::cerr << "; showing the main operations headless instead\n";
    std::istringstream demo(kDemoScript);
    return runner::RunScript(demo, std::cout, simCommand);
}
