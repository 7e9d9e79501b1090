// Two tool processes on one USB reader (`zarn60-sim --usb`, a FUSE-served hidraw node):
// every open of the node gets a copy of each report the reader sends, so without a hold
// each tool reads the other's answers. Each upload and version query must either show
// the reader's own answer or fail to open; never a mix.
#ifdef ZARN60_HAVE_FUSE

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "sim/fuse/hid_node_server.h"

namespace {

struct Tool {
    pid_t pid = -1;
    int out = -1;
    std::string text;
};

// Starts the tool on a script; the environment is made before fork, so that the child
// only has to exec.
Tool StartTool(const std::string& script, const std::vector<std::string>& env) {
    Tool t;
    int fds[2];
    if (::pipe(fds) != 0) return t;
    std::vector<std::string> envText = env;
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string tool = ZARN60_TOOL_PATH, flag = "--script", path = script;
    char* argv[] = {tool.data(), flag.data(), path.data(), nullptr};
    t.pid = ::fork();
    if (t.pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    t.out = fds[0];
    return t;
}

// Reads both tools' output until both have closed it, then reaps them.
void Finish(Tool& a, Tool& b) {
    Tool* tools[] = {&a, &b};
    for (;;) {
        pollfd p[2];
        int n = 0;
        for (Tool* t : tools)
            if (t->out >= 0) p[n++] = {t->out, POLLIN, 0};
        if (n == 0) break;
        if (::poll(p, n, 60000) <= 0) break;
        for (int i = 0; i < n; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
            Tool* t = p[i].fd == a.out ? &a : &b;
            char buf[4096];
            const ssize_t got = ::read(t->out, buf, sizeof buf);
            if (got > 0) {
                t->text.append(buf, static_cast<size_t>(got));
            } else {
                ::close(t->out);
                t->out = -1;
            }
        }
    }
    for (Tool* t : tools) ::waitpid(t->pid, nullptr, 0);
}

// The text of each "get ID" line, in order.
std::vector<std::string> Texts(const std::string& out) {
    std::vector<std::string> texts;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(" text=\"");
        if (line.rfind("ctl ", 0) != 0 || at == std::string::npos) continue;
        texts.push_back(line.substr(at + 7, line.size() - at - 8));
    }
    return texts;
}

TEST(TwoToolsOneReader, NeitherEverReadsTheOthersAnswers) {
    const std::string why = sim::FuseUnavailableReason();
    if (!why.empty()) GTEST_SKIP() << "two tools on one FUSE node skipped: " << why;

    testsupport::ChildProcess simProcess;
    std::vector<std::string> roots;
    ASSERT_TRUE(simProcess.Start({ZARN60_SIM_PATH, "--usb", "--version", "V2.10"}) &&
                simProcess.ReadLinesUntil([&] { return roots.size() >= 2; },
                                          [&](const std::string& l) { roots.push_back(l); }));

    // Each round: an upload with the sentinels it shows, then a version query.
    constexpr int kRounds = 10;
    std::string script;
    for (int i = 0; i < kRounds; ++i)
        script += "click 1040\nget 1052\nget 1000\nget 1003\nclick 1060\nget 1052\n";
    char path[] = "/tmp/zarn60-two-tools-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    ::close(fd);

    Tool a = StartTool(path, roots), b = StartTool(path, roots);
    Finish(a, b);
    ::unlink(path);

    int served = 0;
    for (const Tool* t : {&a, &b}) {
        const std::vector<std::string> texts = Texts(t->text);
        ASSERT_EQ(texts.size(), static_cast<size_t>(kRounds * 4)) << t->text;
        for (int i = 0; i < kRounds; ++i) {
            SCOPED_TRACE("round " + std::to_string(i));
            const std::string& upload = texts[i * 4];
            if (upload == "Get Setting Ok") {
                ++served;
                EXPECT_EQ(texts[i * 4 + 1], "%");
                EXPECT_EQ(texts[i * 4 + 2], "?");
            } else {
                EXPECT_EQ(upload, "Open USB Device Failure!!!");
            }
            const std::string& version = texts[i * 4 + 3];
            if (version == "V2.10")
                ++served;
            else
                EXPECT_EQ(version, "Open USB Device Failure!!!");
        }
    }
    // The hold makes them take turns; most exchanges get through.
    EXPECT_GT(served, kRounds * 2);
    EXPECT_EQ(simProcess.Stop(), 0);
}

}  // namespace

#endif  // ZARN60_HAVE_FUSE
