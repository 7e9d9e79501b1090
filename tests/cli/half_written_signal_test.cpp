// A signal that ends zarn60 while a write to the reader may be under way says first that
// the reader may be half written, then ends the program as the signal would have; outside
// the write, and for a signal the program was started to ignore, nothing changes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "cli/half_written.h"
#include "link/serial_link.h"

namespace {

struct Ending {
    int status = 0;
    std::string err;
};

// Runs `body` in a child whose standard error is caught.
template <typename F>
Ending InChild(F body) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        for (int sig : {SIGHUP, SIGINT, SIGTERM}) ::signal(sig, SIG_DFL);
        body();
        ::_exit(0);
    }
    ::close(fds[1]);
    Ending e;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) e.err.append(buf, size_t(n));
    ::close(fds[0]);
    ::waitpid(pid, &e.status, 0);
    return e;
}

TEST(HalfWrittenOnSignal, SaysSoThenEndsAsTheSignal) {
    const std::string said =
        "zarn60: COM3 (/dev/pts/9): ended by SIGTERM after the write began; the reader may "
        "be half written\n";
    const struct {
        const char* name;
        void (*body)();
        int endsBy;  // 0 = exits by itself
        bool says;
    } cases[] = {
        {"during the write",
         [] {
             const cli::HalfWrittenOnSignal guard("COM3 (/dev/pts/9)");
             ::raise(SIGTERM);
         },
         SIGTERM, true},
        {"during the write, behind the link's own handler",
         [] {
             zarn::RestorePortsOnSignals();
             const cli::HalfWrittenOnSignal guard("COM3 (/dev/pts/9)");
             ::raise(SIGTERM);
         },
         SIGTERM, true},
        {"after the write",
         [] {
             { const cli::HalfWrittenOnSignal guard("COM3 (/dev/pts/9)"); }
             ::raise(SIGTERM);
         },
         SIGTERM, false},
        {"ignored from the start",
         [] {
             ::signal(SIGTERM, SIG_IGN);
             const cli::HalfWrittenOnSignal guard("COM3 (/dev/pts/9)");
             ::raise(SIGTERM);
         },
         0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Ending e = InChild(c.body);
        if (c.endsBy) {
            ASSERT_TRUE(WIFSIGNALED(e.status));
            EXPECT_EQ(WTERMSIG(e.status), c.endsBy);
        } else {
            ASSERT_TRUE(WIFEXITED(e.status));
        }
        EXPECT_EQ(e.err, c.says ? said : "");
    }
}

}  // namespace
