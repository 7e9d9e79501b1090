// zarn60-tool: the window, the headless runner (--script) and the two listings
// (--list-ports, --list-devices). Only the window needs a display; the Qt application
// is created for it alone.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "base/posix/standard_descriptors.h"
#endif

#include "base/file_io.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "protocol/reader_hid.h"
#include "runner/runner.h"
#include "sim/inprocess.h"
#include "tools/stdio_streams.h"
#include "ui/dialog.h"
#ifdef ZARN60_HAVE_GUI
#include "gui/qt/run_window.h"
#endif
#ifdef ZARN60_HAVE_WIN32_GUI
#include "gui/win32/run_window.h"
#endif

namespace {

void Usage(std::ostream& out) {
    out << "usage: zarn60-tool [--simulate]\n"
           "       zarn60-tool [--simulate] --script FILE|-\n"
           "       zarn60-tool --list-ports\n"
           "       zarn60-tool --list-devices\n"
           "\n"
           "Configures and tests the ZARN60 magnetic-stripe card reader. Without options it\n"
           "opens the window \"ZARN TOOLS V" ZARN60_VERSION "\".\n"
           "\n"
           "  --simulate      attach the simulated reader (USB 0801:0005 and COM1)\n"
           "  --script FILE   run the dialog headless from a script ('-' = standard input)\n"
           "  --list-ports    list the COM numbers whose device exists\n"
           "  --list-devices  list the HID interfaces with their ids and report lengths\n"
           "  -h, --help      this text\n"
           "  --version       the program's version\n"
           "\n"
           "Exit status: 0 done; 1 failed (no display, output not written); 2 a bad option,\n"
           "a script that cannot be read (missing, a folder, unreadable standard input, over\n"
           "16 MiB) or a script line in error. The manual page zarn60-tool(1) describes the\n"
           "script commands.\n";
}

// A word of the command line as an error line shows it: at most 64 bytes.
std::string Shown(const std::string& word) {
    return word.size() <= 64 ? word : word.substr(0, 64) + "...";
}

// The listings and the runner write to standard output; a failed write (a full disk, a
// closed pipe) must not end as success.
int Finished(int status) {
    tools::Out().flush();
    if (tools::Out().good() && std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    tools::Err() << "zarn60-tool: cannot write to standard output: " << std::strerror(errno)
                 << "\n";
    return status == 0 ? 1 : status;
}

// The script named on the command line, checked before anything runs: a folder, an
// unreadable file and one far larger than any script are refused with one line.
// Reads the whole script, only from a regular file: the type is decided on the opened file,
// so a FIFO or device put in its place is refused without blocking, and nothing longer than
// the runner's limit is taken.
bool ReadScript(const std::string& path, std::string* text) {
    uint64_t size = 0;
    std::string error;
    if (!zarn::files::ReadRegularFile(path, static_cast<size_t>(runner::kMaxScriptSize), text,
                                      &size, &error)) {
        if (error == "is a folder" || error == "not a regular file")
            tools::Err() << "zarn60-tool: cannot run script " << path << ": it is "
                         << (error == "is a folder" ? "a folder" : "not a regular file") << "\n";
        else
            tools::Err() << "zarn60-tool: cannot open script " << path << ": " << error << "\n";
        return false;
    }
    if (size > static_cast<uint64_t>(runner::kMaxScriptSize)) {
        tools::Err() << "zarn60-tool: cannot run script " << path
                     << ": larger than 16 MiB, no script is that long\n";
        return false;
    }
    return true;
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
    if (ports.empty()) tools::Out() << "no serial ports found\n";
    for (const auto& p : ports) {
        tools::Out() << "COM" << p.number << "\t" << p.device;
        if (p.state != zarn::SerialOpenError::None) {
            tools::Out() << "\t" << zarn::SerialOpenErrorText(p.state);
            if (!p.detail.empty()) tools::Out() << " (" << p.detail << ")";
        }
        tools::Out() << "\n";
    }
    return Finished(0);
}

int ListDevices() {
    auto devices = zarn::DescribeHidInterfaces();
    if (devices.empty()) tools::Out() << "no HID interfaces found\n";
    for (const auto& d : devices) {
        char ids[32] = "????:????";
        if (d.haveIds) std::snprintf(ids, sizeof ids, "%04x:%04x", d.vendorId, d.productId);
        tools::Out() << ids << "\t" << d.path;
        if (d.openable) {
            tools::Out() << "\tinput " << d.inputLength << " output " << d.outputLength;
            if (d.haveIds && protocol::IsReaderId(d.vendorId, d.productId))
                tools::Out() << "\tZARN60 reader";
        } else {
            tools::Out() << "\tcannot open: " << d.whyNot;
        }
        tools::Out() << "\n";
    }
    return Finished(0);
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    zarn::OpenStandardDescriptorsAndSay("zarn60-tool");
#endif
#ifdef ZARN60_HAVE_WIN32_GUI
    gui::win32::AttachParentConsole();
#endif
    bool simulate = false, listPorts = false, listDevices = false;
    std::optional<std::string> script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--simulate") {
            simulate = true;
        } else if (a == "--script") {
            if (i + 1 >= argc) {
                tools::Err() << "zarn60-tool: --script needs a file (or - for standard input); "
                                "see zarn60-tool --help\n";
                return 2;
            }
            script = argv[++i];
        } else if (a == "--list-ports") {
            listPorts = true;
        } else if (a == "--list-devices") {
            listDevices = true;
        } else if (a == "--help" || a == "-h") {
            Usage(tools::Out());
            return Finished(0);
        } else if (a == "--version") {
            tools::Out() << "zarn60-tool " ZARN60_VERSION "\n";
            return Finished(0);
        } else {
            tools::Err() << "zarn60-tool: unknown option " << Shown(a)
                         << " (zarn60-tool --help lists the options)\n";
            return 2;
        }
    }
    ui::Dialog::SetProgramName(ProgramName(argv[0]));

    std::unique_ptr<sim::InProcessSimulation> simulation;
    if (simulate) simulation = std::make_unique<sim::InProcessSimulation>();
    const zarn::PortsLeftAsFound portsLeftAsFound;  // on every way out, signals included

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
        tools::Out().flush();
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        if (*script == "-") {
            // A script that cannot be read is refused, never taken for an empty one.
#ifndef _WIN32
            if (zarn::StandardInputWasClosed()) {
                tools::Err() << "zarn60-tool: cannot read script from standard input: it is "
                                "closed\n";
                return 2;
            }
#endif
            const int status = runner::RunScript(tools::In(), tools::Out(), simCommand);
            if (const int error = tools::InBuf().ReadError()) {
                tools::Out().flush();
                tools::Err() << "zarn60-tool: cannot read script from standard input: "
                             << std::strerror(error) << "\n";
                return Finished(2);
            }
            return Finished(status);
        }
        std::string text;
        if (!ReadScript(*script, &text)) return 2;
        std::istringstream in(std::move(text));
        return Finished(runner::RunScript(in, tools::Out(), simCommand));
    }

    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    bool haveDisplay = (display && *display) || (wayland && *wayland) || (platform && *platform);
#ifdef _WIN32
    haveDisplay = true;
#endif
#ifdef ZARN60_HAVE_WIN32_GUI
    return gui::win32::RunWindow(simulation != nullptr);
#endif
#ifdef ZARN60_HAVE_GUI
    if (haveDisplay) return gui::RunWindow(argc, argv, simCommand);
    tools::Err() << "zarn60-tool: no display";
#else
    tools::Err() << "zarn60-tool: built without the window"
                 << (haveDisplay ? "" : " and no display");
#endif
    if (!simulation) {
        tools::Err() << "; run it on a desktop, or headless with --script FILE\n";
        return 1;
    }
    tools::Err() << "; showing the main operations headless instead\n";
    const int status = Finished(runner::RunAccount(tools::Out(), simCommand));
    tools::Out() << "For the window, run zarn60-tool --simulate where a display is (DISPLAY or "
                    "WAYLAND_DISPLAY set).\n";
    return Finished(status);
}
