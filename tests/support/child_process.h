// A program (zarn60-sim, mostly) run as a child process whose standard output the test
// reads line by line; stopped with SIGTERM at the latest when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    // Starts argv[0] with these arguments, its stdout on a pipe (and its stderr on
    // /dev/null when `quietStderr`).
    bool Start(std::vector<std::string> argv, bool quietStderr = false) {
        int fds[2];
        if (argv.empty() || ::pipe(fds) != 0) return false;
        m_pid = ::fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            if (quietStderr) {
                const int devnull = ::open("/dev/null", O_WRONLY);
                if (devnull >= 0) ::dup2(devnull, STDERR_FILENO);
            }
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        m_fd = fds[0];
        return true;
    }

    // Hands each line of output to `onLine` until `done()` holds (asked before every
    // wait), the output ends or `timeoutMs` passes; then done().
    bool ReadLinesUntil(const std::function<bool()>& done,
                        const std::function<void(const std::string&)>& onLine,
                        int timeoutMs = 10000) {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (done()) return true;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) return false;
            m_pending.append(buf, static_cast<size_t>(n));
            for (size_t nl; (nl = m_pending.find('\n')) != std::string::npos;) {
                const std::string line = m_pending.substr(0, nl);
                m_pending.erase(0, nl + 1);
                onLine(line);
            }
        }
        return done();
    }

    void Signal(int sig) {
        if (m_pid > 0) ::kill(m_pid, sig);
    }

    // SIGTERM, then its wait status (-1 when it was not running).
    int Stop() {
        int status = -1;
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_pending;
};

}  // namespace testsupport
