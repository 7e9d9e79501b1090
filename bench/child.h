// Child processes for the benchmarks: the simulated readers they talk to, and the programs
// whose start-up they time.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// A program started with extra environment entries and its standard output on a pipe.
// The destructor stops it (SIGTERM) and reaps it.
class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts argv[0] with argv; `env` is added to (or replaces in) this process's
    // environment; stderr goes to /dev/null unless `keepStderr`. False with *error.
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               bool keepStderr, std::string* error);

    // Reads KEY=VALUE lines from its output until every key in `keys` has a value, the
    // child closes its output, or `timeoutMs` passes. The values found so far.
    std::map<std::string, std::string> ReadKeys(const std::vector<std::string>& keys,
                                                int timeoutMs);

    // Sends SIGTERM and waits for the end (SIGKILL after 3 s). Safe to call twice.
    void Stop();
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_pending;
};

// One run of a program to its end.
struct RunResult {
    bool ok = false;  // started and exited with status 0
    double wallMs = 0;
    long maxRssKb = 0;  // peak resident set of the child (getrusage via wait4)
    double cpuMs = 0;   // user + system time of the child
    std::string error;
};

// Runs argv to its end with the extra environment; output goes to /dev/null. The wall time
// runs from just before fork() to the moment wait4() returns. Killed after `timeoutMs`.
RunResult RunToExit(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env, int timeoutMs);

// The median of the values (the mean of the middle two for an even count); 0 when empty.
double Median(std::vector<double> values);

// Whether this process may serve a FUSE node (root and /dev/fuse), with the reason if not.
bool CanServeFuse(std::string* why);

}  // namespace bench
