// What the command line's tests share: running zarn60 (or another program) with its
// standard streams caught, and a zarn60-sim to talk to.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "../support/temp_dir.h"
#ifdef ZARN60_HAVE_FUSE
#include "sim/fuse/hid_node_server.h"
#endif

namespace clitest {

namespace fs = std::filesystem;
using testsupport::Slurp;

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a program with extra environment, its output and errors caught in files (or its
// output sent to `stdoutPath`), its input from `stdinPath` (else /dev/null; closed when
// empty).
inline Result RunProgram(std::vector<std::string> argv,
                         const std::map<std::string, std::string>& env, const fs::path& dir,
                         const std::string& stdinPath = "/dev/null",
                         const std::string& stdoutPath = "") {
    const fs::path out = stdoutPath.empty() ? dir / ".stdout" : fs::path(stdoutPath);
    const fs::path err = dir / ".stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int i = stdinPath.empty() ? -1 : ::open(stdinPath.c_str(), O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0) ::close(STDIN_FILENO);
        else ::dup2(i, STDIN_FILENO);
        ::dup2(o, STDOUT_FILENO);
        ::dup2(e, STDERR_FILENO);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    Result r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = stdoutPath.empty() ? Slurp(out) : "";
    r.err = Slurp(err);
    return r;
}

inline void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// One running zarn60-sim and how zarn60 reaches it.
class Sim {
public:
    // False with *skip set when this kind of link cannot be served here.
    bool Start(bool usb, std::vector<std::string> extra, std::string* skip) {
        m_usb = usb;
        std::vector<std::string> argv = {ZARN60_SIM_PATH, usb ? "--usb" : "--serial"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        if (usb) {
#ifdef ZARN60_HAVE_FUSE
            *skip = sim::FuseUnavailableReason();
#else
            *skip = "built without FUSE";
#endif
            if (!skip->empty()) return false;
        }
        std::vector<std::string> lines;
        const size_t want = usb ? 2 : 1;
        if (!m_child.Start(argv, true) ||
            !m_child.ReadLinesUntil([&] { return lines.size() >= want; },
                                    [&](const std::string& l) { lines.push_back(l); })) {
            *skip = "zarn60-sim did not start";
            return false;
        }
        for (const auto& l : lines) {
            const size_t eq = l.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = l.substr(0, eq), value = l.substr(eq + 1);
            if (usb)
                m_env[key] = value;
            else
                m_port = value;
        }
        return true;
    }
    void Stop() {
        m_child.Stop();
    }
    std::vector<std::string> Link() const {
        return m_usb ? std::vector<std::string>{"--usb"}
                     : std::vector<std::string>{"--port", m_port};
    }
    const std::map<std::string, std::string>& Env() const {
        return m_env;
    }
    const std::string& Port() const {
        return m_port;
    }

private:
    bool m_usb = false;
    std::string m_port;
    std::map<std::string, std::string> m_env;
    testsupport::ChildProcess m_child;
};

class CliTest : public testsupport::WithTempDir<> {
protected:
    Result Zarn(std::vector<std::string> args, const Sim* sim = nullptr, bool withLink = true,
                const std::string& stdinPath = "/dev/null", const std::string& stdoutPath = "") {
        args.insert(args.begin(), ZARN60_CLI_PATH);
        if (sim && withLink)
            for (const auto& a : sim->Link()) args.push_back(a);
        return RunProgram(args, sim ? sim->Env() : std::map<std::string, std::string>{}, m_dir,
                          stdinPath, stdoutPath);
    }
};

}  // namespace clitest
