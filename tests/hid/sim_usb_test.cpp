// `zarn60-sim --usb` as a user runs it: the two lines to export, the tool's device listing
// through the real backend, and nothing left behind once it is stopped.
#ifdef ZARN60_HAVE_FUSE

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "sim/fuse/hid_node_server.h"

namespace {

// Runs a program with extra environment and returns what it printed on stdout.
std::string RunAndCapture(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env, int* status) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, n);
    ::close(fds[0]);
    *status = -1;
    if (pid > 0) ::waitpid(pid, status, 0);
    return out;
}

class SimUsbProcess {
public:
    // Starts `zarn60-sim --usb ARGS` and waits (up to 10 s) for its two lines.
    bool Start(const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {ZARN60_SIM_PATH, "--usb"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return m_child.Start(argv) &&
               m_child.ReadLinesUntil([&] { return lines.size() >= 2; },
                                      [&](const std::string& line) { lines.push_back(line); });
    }
    // SIGTERM, then its exit status.
    int Stop() { return m_child.Stop(); }

    std::vector<std::string> lines;

private:
    testsupport::ChildProcess m_child;
};

std::string ValueOf(const std::string& line, const std::string& key) {
    return line.rfind(key + "=", 0) == 0 ? line.substr(key.size() + 1) : std::string();
}

bool Mounted(const std::string& dir) {
    std::ifstream mounts("/proc/mounts");
    std::string device, point, rest;
    while (mounts >> device >> point && std::getline(mounts, rest))
        if (point == dir) return true;
    return false;
}

}  // namespace

TEST(SimUsb, ToolListsTheServedReaderAndStopCleansUp) {
    std::string why = sim::FuseUnavailableReason();
    if (!why.empty()) GTEST_SKIP() << "zarn60-sim --usb test skipped: " << why;

    SimUsbProcess simProcess;
    ASSERT_TRUE(simProcess.Start({"--vid", "0802", "--reports", "65", "9"}));
    ASSERT_EQ(simProcess.lines.size(), 2u);
    std::string sysfs = ValueOf(simProcess.lines[0], "ZARN60_SYSFS_ROOT");
    std::string dev = ValueOf(simProcess.lines[1], "ZARN60_DEV_ROOT");
    ASSERT_FALSE(sysfs.empty()) << simProcess.lines[0];
    ASSERT_FALSE(dev.empty()) << simProcess.lines[1];
    EXPECT_TRUE(Mounted(dev));

    int status = -1;
    std::string listing =
        RunAndCapture({ZARN60_TOOL_PATH, "--list-devices"},
                      {{"ZARN60_SYSFS_ROOT", sysfs}, {"ZARN60_DEV_ROOT", dev}}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(listing, "0802:0005\t" + dev + "/hidraw0\tinput 65 output 9\tZARN60 reader\n");

    EXPECT_EQ(simProcess.Stop(), 0);  // exited normally with status 0
    EXPECT_FALSE(Mounted(dev));
    EXPECT_FALSE(std::filesystem::exists(sysfs));
    EXPECT_FALSE(std::filesystem::exists(dev));
}

#endif  // ZARN60_HAVE_FUSE
