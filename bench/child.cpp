#include "bench/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace bench {

namespace {

// The environment for execve, built before fork(): setenv() is not safe in a child of a
// process that may have threads.
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!extra.count(name)) env.push_back(entry);
    }
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// fork + execve with stdout on `outFd` (or /dev/null when -1) and stderr on /dev/null
// unless kept. Returns the pid, or -1 with *error.
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            int outFd, bool keepStderr, std::string* error) {
    if (argv.empty()) {
        *error = "nothing to run";
        return -1;
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> envStrings = MergedEnvironment(env);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(envStrings);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(outFd >= 0 ? outFd : null, STDOUT_FILENO);
        if (!keepStderr) ::dup2(null, STDERR_FILENO);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

void Reap(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace

Child::~Child() {
    Stop();
}

bool Child::Start(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env, bool keepStderr,
                  std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    m_pid = Spawn(argv, env, fds[1], keepStderr, error);
    ::close(fds[1]);
    if (m_pid < 0) {
        ::close(fds[0]);
        return false;
    }
    m_out = fds[0];
    return true;
}

std::map<std::string, std::string> Child::ReadKeys(const std::vector<std::string>& keys,
                                                   int timeoutMs) {
    std::map<std::string, std::string> found;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto complete = [&] {
        return std::all_of(keys.begin(), keys.end(),
                           [&](const std::string& k) { return found.count(k) > 0; });
    };
    auto takeLines = [&] {
        size_t nl;
        while ((nl = m_pending.find('\n')) != std::string::npos) {
            const std::string line = m_pending.substr(0, nl);
            m_pending.erase(0, nl + 1);
            const size_t eq = line.find('=');
            if (eq != std::string::npos) found[line.substr(0, eq)] = line.substr(eq + 1);
        }
    };
    while (m_out >= 0 && !complete()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0) break;
        m_pending.append(buf, static_cast<size_t>(n));
        takeLines();
    }
    return found;
}

void Child::Stop() {
    Reap(m_pid);
    m_pid = -1;
    if (m_out >= 0) ::close(m_out);
    m_out = -1;
}

RunResult RunToExit(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env, int timeoutMs) {
    RunResult r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(argv, env, -1, false, &r.error);
    if (pid < 0) return r;

    // A pidfd wakes us the moment the child ends, without polling on a period.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) == 0) {
            ::kill(pid, SIGKILL);
            r.error = "timed out";
        }
        ::close(pidfd);
    }
    int status = 0;
    struct rusage usage {};
    pid_t waited;
    do {
        waited = ::wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    const auto end = std::chrono::steady_clock::now();
    r.wallMs = std::chrono::duration<double, std::milli>(end - start).count();
    r.maxRssKb = usage.ru_maxrss;
    r.cpuMs = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
              usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    if (waited != pid) {
        r.error = "lost the child";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        r.ok = r.error.empty();
    } else if (r.error.empty()) {
        r.error = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                    : "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return r;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool CanServeFuse(std::string* why) {
    if (::geteuid() != 0) {
        *why = "serving a hidraw node needs root";
        return false;
    }
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *why = std::string("/dev/fuse: ") + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace bench
