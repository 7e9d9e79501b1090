// The tool leaves a line as it found it on every way out: after a script that opened COM3
// ends, or a signal ends the tool in the middle of a wait, the line has its settings from
// before and no exclusive flag (which would refuse every later non-root opener).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "pty_peer.h"

namespace {

using serialtest::PtyPeer;

std::string WriteScript(const std::string& text) {
    char path[] = "/tmp/zarn60-left-as-found-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return {};
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok ? path : std::string();
}

// The tool on a script, its output thrown away; `whileRunning` runs once the line is raw
// (the tool has opened it). Returns the wait status.
int RunTool(const std::string& script, const PtyPeer& peer,
            const std::function<void(pid_t)>& whileRunning = {}) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDOUT_FILENO);
        ::dup2(devnull, STDERR_FILENO);
        ::execl(ZARN60_TOOL_PATH, ZARN60_TOOL_PATH, "--script", script.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (whileRunning) {
        for (int i = 0; i < 2000; ++i) {
            struct termios t;
            if (::tcgetattr(peer.SlaveFd(), &t) == 0 && !(t.c_lflag & ICANON)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        whileRunning(pid);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

bool SameSettings(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST(PortsLeftAsFound, ScriptEndAndEndingSignalsPutTheLineBack) {
    const std::string opens = "click 1061\ntype 1050 3\nclick 1055\nget 1052\n";
    struct Case {
        const char* name;
        std::string rest;
        int signal;  // sent while the tool waits; 0 = none
    } cases[] = {
        {"script end", "click 1015\n", 0},
        {"script end without Exit", "", 0},
        {"SIGTERM in a wait", "wait 20000\n", SIGTERM},
        {"SIGINT in a wait", "wait 20000\n", SIGINT},
        {"SIGHUP in a wait", "wait 20000\n", SIGHUP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPeer peer(3);
        ASSERT_TRUE(peer.Ok());
        struct termios found;
        ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &found), 0);
        ASSERT_TRUE(found.c_lflag & ICANON) << "a fresh pseudo-terminal is cooked";
        const std::string script = WriteScript(opens + c.rest);
        ASSERT_FALSE(script.empty());

        const int status = c.signal
                               ? RunTool(script, peer, [&](pid_t pid) { ::kill(pid, c.signal); })
                               : RunTool(script, peer);
        if (c.signal) {
            // Ended by the signal, as it would have been without the clean-up.
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }

        struct termios after;
        ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &after), 0);
        EXPECT_TRUE(SameSettings(found, after)) << "the line keeps the raw settings";
#ifdef TIOCGEXCL
        int exclusive = -1;
        ASSERT_EQ(::ioctl(peer.SlaveFd(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "the exclusive flag outlived the tool";
#endif
        ::unlink(script.c_str());
    }
}

}  // namespace
