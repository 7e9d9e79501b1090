// The programs leave a line as they found them on every way out: after a script that opened
// COM3 ends, or any signal whose default ends the program ends zarn60-tool in the middle of
// a wait or zarn60 in the middle of an exchange, the line has its settings from before and
// no exclusive flag (which would refuse every later non-root opener).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
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

// A program, its output thrown away (or into a pipe nobody reads, with `brokenPipe`);
// `whileRunning` runs once the line is raw (the program has opened it). Returns the wait
// status.
int RunProgram(const std::vector<std::string>& argv, const PtyPeer& peer,
               const std::function<void(pid_t)>& whileRunning = {}, bool brokenPipe = false,
               int ignored = 0) {
    int pipeFds[2] = {-1, -1};
    if (brokenPipe && ::pipe(pipeFds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(brokenPipe ? pipeFds[1] : devnull, STDOUT_FILENO);
        ::dup2(devnull, STDERR_FILENO);
        if (brokenPipe) ::close(pipeFds[0]);
        // The signals' default actions, whatever the test runner changed; no core files.
        for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
        if (ignored) ::signal(ignored, SIG_IGN);  // as nohup starts a program
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (brokenPipe) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
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
    const std::string wait = opens + "wait 20000\n";
    const std::vector<std::string> readCard = {ZARN60_CLI_PATH, "read-card", "--com", "3",
                                               "--timeout",     "20"};
    struct Case {
        std::string name;
        std::vector<std::string> argv;  // empty: zarn60-tool on `script`
        std::string script;
        int signal;  // sent while the program waits; 0 = none
        bool brokenPipe = false;
        bool ignoredAtStart = false;  // the signal was ignored when the program started
    };
    std::vector<Case> cases = {
        {"script end", {}, opens + "click 1015\n", 0},
        {"script end without Exit", {}, opens, 0},
        // The runner prints after the wait into a pipe nobody reads: SIGPIPE, as under
        // `zarn60-tool --script s | head -c1`.
        {"output into a closed pipe", {}, opens + "wait 300\nget 1052\nget 1052\n", SIGPIPE, true},
    };
    // Every catchable signal whose default ends the program, in a wait of the tool and in
    // an exchange of zarn60.
    const int ending[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE,
                          SIGALRM, SIGTERM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGSYS};
    // A signal the program was started to ignore stays ignored: the script runs to its end.
    cases.push_back(
        {"SIGHUP ignored from the start", {}, opens + "wait 500\n", SIGHUP, false, true});
    for (int sig : ending) {
        cases.push_back({std::string("zarn60-tool, ") + ::strsignal(sig), {}, wait, sig});
        cases.push_back({std::string("zarn60 read-card, ") + ::strsignal(sig), readCard, "", sig});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPeer peer(3);
        ASSERT_TRUE(peer.Ok());
        struct termios found;
        ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &found), 0);
        ASSERT_TRUE(found.c_lflag & ICANON) << "a fresh pseudo-terminal is cooked";
        std::string script;
        std::vector<std::string> argv = c.argv;
        if (argv.empty()) {
            script = WriteScript(c.script);
            ASSERT_FALSE(script.empty());
            argv = {ZARN60_TOOL_PATH, "--script", script};
        }

        const auto send = [&](pid_t pid) { ::kill(pid, c.signal); };
        const int status = c.brokenPipe ? RunProgram(
                                              argv, peer, [](pid_t) {}, true)
                           : c.ignoredAtStart ? RunProgram(argv, peer, send, false, c.signal)
                           : c.signal         ? RunProgram(argv, peer, send)
                                              : RunProgram(argv, peer);
        if (c.signal && !c.ignoredAtStart) {
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
        if (!script.empty()) ::unlink(script.c_str());
    }
}

}  // namespace
