// Ports the user did not name, and ports another program holds, are left alone by all
// three ways in (the link itself, zarn60-tool and zarn60): a listing or an explanation of a
// failed open never opens a port (an open raises the modem lines, and many boards reset on
// DTR), and root never clears an exclusive flag another program set.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "link/serial_link.h"
#include "pty_peer.h"

namespace {

using serialtest::PtyPeer;

// Counts the opens of the devices it watches.
class OpenWatch {
public:
    OpenWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool Add(const std::string& path) {
        return m_fd >= 0 && ::inotify_add_watch(m_fd, path.c_str(), IN_OPEN) >= 0;
    }
    int Opens() {
        int count = 0;
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) return count;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                ++count;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    }

private:
    int m_fd;
};

// Runs a program with its output and errors in `output`; returns its wait status.
int RunProgram(const std::vector<std::string>& argv, std::string* output) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    output->clear();
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) output->append(buf, n);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

std::string WriteScript(const std::string& text) {
    char path[] = "/tmp/zarn60-others-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return {};
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok ? path : std::string();
}

// Another program holds COM5 with a lock, as a second copy of the tool would.
class LockedElsewhere {
public:
    explicit LockedElsewhere(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char ok = 0;
        m_ok = ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~LockedElsewhere() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ok() const { return m_ok; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    bool m_ok = false;
};

TEST(PortsOfOthers, ListingsAndFailedOpensNeverOpenAnotherPort) {
    zarn::SetSerialBackend(nullptr);
    PtyPeer idle(3), locked(5);
    ASSERT_TRUE(idle.Ok() && locked.Ok());
    LockedElsewhere other(locked.Path());
    ASSERT_TRUE(other.Ok());
    ::setenv("ZARN60_COM4", "/nonexistent/zarn60-tty", 1);

    // The link's own listing says what it can without an open.
    OpenWatch watch;
    ASSERT_TRUE(watch.Add(idle.Path()) && watch.Add(locked.Path()));
    bool sawIdle = false, sawLocked = false;
    for (const auto& p : zarn::GetSerialBackend().ListPorts()) {
        if (p.number == 3) {
            sawIdle = true;
            EXPECT_EQ(p.state, zarn::OpenError::None) << p.detail;
        }
        if (p.number == 5) {
            sawLocked = true;
            EXPECT_EQ(p.state, zarn::OpenError::InUse);
            EXPECT_NE(p.detail.find(std::to_string(other.Pid())), std::string::npos) << p.detail;
        }
    }
    EXPECT_TRUE(sawIdle && sawLocked);
    EXPECT_EQ(watch.Opens(), 0) << "the listing opened a port";

    struct Case {
        const char* name;
        std::vector<std::string> argv;
        const char* says;
    } cases[] = {
        {"zarn60-tool --list-ports", {ZARN60_TOOL_PATH, "--list-ports"}, "COM5"},
        {"zarn60 list", {ZARN60_CLI_PATH, "list"}, "COM5"},
        {"zarn60 show on a missing port", {ZARN60_CLI_PATH, "show", "--com", "4"}, "no device"},
        {"zarn60 show on a locked port", {ZARN60_CLI_PATH, "show", "--com", "5"}, "in use"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string output;
        RunProgram(c.argv, &output);
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
        // The locked port is opened only when named (and refused by its lock then).
        const int named = std::string(c.name) == "zarn60 show on a locked port" ? 1 : 0;
        EXPECT_EQ(watch.Opens(), named) << output;
    }
    ::unsetenv("ZARN60_COM4");
}

#ifdef TIOCGEXCL
bool Exclusive(int fd) {
    int exclusive = -1;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

// A line another program opened exclusively is "in use" for root too, and keeps its flag
// whichever way the programs come at it. (Not root, the kernel refuses the open itself.)
TEST(PortsOfOthers, AnotherProgramsExclusiveFlagIsNeverCleared) {
    zarn::SetSerialBackend(nullptr);
    zarn::PortTable::CloseAll();
    PtyPeer peer(3);
    ASSERT_TRUE(peer.Ok());
    ASSERT_EQ(::ioctl(peer.SlaveFd(), TIOCEXCL), 0);
    const std::string script = WriteScript("click 1061\ntype 1050 3\nclick 1055\nget 1052\n");
    ASSERT_FALSE(script.empty());

    EXPECT_EQ(SerialLink::Open(3, 9600, 8, 0), -1);
    EXPECT_EQ(SerialLink::LastOpenError(3).error, zarn::OpenError::InUse);
    EXPECT_TRUE(Exclusive(peer.SlaveFd())) << "the link cleared the flag";

    struct Case {
        const char* name;
        std::vector<std::string> argv;
        const char* says;
    } cases[] = {
        {"zarn60-tool --list-ports", {ZARN60_TOOL_PATH, "--list-ports"}, "COM3"},
        {"the window's Open", {ZARN60_TOOL_PATH, "--script", script}, "Port Number Error"},
        {"zarn60 list", {ZARN60_CLI_PATH, "list"}, "COM3"},
        {"zarn60 show", {ZARN60_CLI_PATH, "show", "--com", "3"}, "in use"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string output;
        RunProgram(c.argv, &output);
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
        EXPECT_TRUE(Exclusive(peer.SlaveFd())) << "the flag was cleared";
    }
    ::ioctl(peer.SlaveFd(), TIOCNXCL);
    ::unlink(script.c_str());
    if (::geteuid() != 0)
        std::printf("note: not root, so the kernel refused every open by itself\n");
}
#endif

}  // namespace
