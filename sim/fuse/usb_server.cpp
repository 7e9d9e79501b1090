// `zarn60-sim --usb`: one simulated reader served as a hidraw node until a signal.
#include "sim/fuse/usb_server.h"

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <iostream>
#include <string>

#include "sim/fuse/hid_node_server.h"
#include "sim/options.h"
#include "sim/pty.h"
#include "sim/reader.h"

namespace sim {

int ServeUsb(const SimOptions& options, std::ostream& out) {
    std::string why = FuseUnavailableReason();
    if (!why.empty()) {
        std::cerr << "zarn60-sim: cannot serve a hidraw node: " << why << "\n";
        return 1;
    }

    // The signals are taken with sigtimedwait below; blocked before any thread starts so
    // that the server's threads never receive them.
    sigset_t signals, previous;
    sigemptyset(&signals);
    for (int sig : StopSignals()) sigaddset(&signals, sig);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);

    int status = 0;
    {
        HidNodeServer server;
        int node = server.AddReader(options.vendorId, options.productId);
        server.WithReader(
            node, [&options](Reader& reader, uint32_t) { ApplySimOptions(options, &reader); });
        server.RefreshReportDescriptor(node);

        // What it received, into the --log file (on SIGUSR2 and at the end).
        auto writeLog = [&server, &options, node, &status] {
            if (options.logPath.empty()) return;
            server.WithReader(node, [&options, &status](Reader& reader, uint32_t) {
                if (!AppendReceived(options.logPath, &reader)) {
                    std::cerr << "zarn60-sim: cannot write " << options.logPath << "\n";
                    status = 1;
                }
            });
        };

        std::string error;
        if (!server.Start(&error)) {
            std::cerr << "zarn60-sim: " << error << "\n";
            status = 1;
        } else {
            out << "ZARN60_SYSFS_ROOT=" << server.SysfsRoot() << "\n"
                << "ZARN60_DEV_ROOT=" << server.DevRoot() << "\n";
            out.flush();
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x:%04x", options.vendorId, options.productId);
            std::cerr << "zarn60-sim: reader " << ids << " on " << server.NodePath(node)
                      << "; SIGUSR1 swipes a card; stop with Ctrl-C\n";

            for (;;) {
                int sig;
                if (options.swipeEveryMs > 0) {
                    timespec wait{static_cast<time_t>(options.swipeEveryMs / 1000),
                                  static_cast<long>(options.swipeEveryMs % 1000) * 1000000L};
                    sig = sigtimedwait(&signals, nullptr, &wait);
                    if (sig < 0 && errno == EAGAIN) sig = SIGUSR1;
                } else {
                    sig = sigwaitinfo(&signals, nullptr);
                }
                if (sig < 0) {
                    if (errno == EINTR) continue;
                    status = 1;
                    break;
                }
                if (sig == SIGUSR1) {
                    server.WithReader(node,
                                      [](Reader& reader, uint32_t now) { reader.Swipe(now); });
                    continue;
                }
                if (sig == SIGUSR2) {
                    writeLog();
                    continue;
                }
                break;  // one of StopSignals()
            }
            writeLog();
        }
        // The server's destructor unmounts and removes both trees.
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return status;
}

}  // namespace sim
