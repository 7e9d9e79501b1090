// The two programs as a user meets them: --help, --version, bad options, scripts that
// cannot run, output that cannot be written, and the manual pages that describe them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_link.h"
#include "runner/control_names.h"
#include "runner/runner.h"
#include "sim/inprocess.h"
#include "sim/options.h"
#include "tests/support/temp_dir.h"

namespace {

struct Outcome {
    int status = -1;  // exit status, or -1 when the program did not exit by itself
    std::string out, err;
};

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Runs a program with standard input from `inPath` (closed when empty) and standard output
// into `outPath` (read back unless it is a device); gives up after 60 s.
Outcome RunProgram(const std::vector<std::string>& args, const std::filesystem::path& dir,
                   const std::string& outPath = "", const std::string& inPath = "/dev/null") {
    const std::string out = outPath.empty() ? (dir / "stdout").string() : outPath;
    const std::string err = (dir / "stderr").string();
    pid_t pid = fork();
    if (pid == 0) {
        int in = inPath.empty() ? -1 : open(inPath.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if ((in < 0 && !inPath.empty()) || o < 0 || e < 0) _exit(127);
        if (in < 0) close(0);
        else dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Outcome r;
    int ws = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &ws, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &ws, 0);
            ADD_FAILURE() << args[1] << " did not end within 60 s";
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
    if (outPath.empty()) r.out = testsupport::Slurp(out);
    r.err = testsupport::Slurp(err);
    return r;
}

const std::string kTool = ZARN60_TOOL_PATH;
const std::string kSim = ZARN60_SIM_PATH;

using ProgramsTest = testsupport::WithTempDir<>;

TEST_F(ProgramsTest, EachProgramAnswersHelpVersionAndBadOptions) {
    for (const auto& [path, name] : {std::pair{kTool, "zarn60-tool"}, {kSim, "zarn60-sim"}}) {
        Outcome r = RunProgram({path, "--help"}, m_dir);
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out.rfind(std::string("usage: ") + name, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");

        r = RunProgram({path, "--version"}, m_dir);
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, std::string(name) + " " ZARN60_VERSION "\n");

        for (const std::string& bad :
             {std::string("--frobnicate"), std::string("-x"), std::string(100000, 'o')}) {
            r = RunProgram({path, bad}, m_dir);
            EXPECT_EQ(r.status, 2) << name << " " << bad.substr(0, 20);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(Lines(r.err), 1u) << r.err.substr(0, 200);
            EXPECT_NE(r.err.find(bad.substr(0, 64)), std::string::npos) << r.err.substr(0, 200);
            EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err.substr(0, 200);
            EXPECT_LT(r.err.size(), 200u);
        }
    }
}

// Scripts that cannot run give one line and status 2, and never grow without bound. Only a
// regular file is read: a FIFO without a writer would block an open for good.
TEST_F(ProgramsTest, ScriptsThatCannotRunAreRefusedInOneLine) {
    const auto huge = m_dir / "huge.script";
    { std::ofstream(huge) << "get 1000\n"; }
    std::filesystem::resize_file(huge, (16u << 20) + 1);
    const auto fifo = m_dir / "fifo.script";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        const char* says;
        bool onStdout;                     // the runner's own error line
        std::string input = "/dev/null";  // standard input; "" = closed
    };
    const Case cases[] = {
        {{kTool, "--script"}, "needs a file", false},
        {{kTool, "--script", m_dir.string()}, "folder", false},
        {{kTool, "--script", (m_dir / "missing").string()}, "cannot open script", false},
        {{kTool, "--script", huge.string()}, "larger than 16 MiB", false},
        {{kTool, "--script", fifo.string()}, "not a regular file", false},
        {{kTool, "--script", "/dev/zero"}, "not a regular file", false},
        // Standard input that cannot be read is no empty script.
        {{kTool, "--script", "-"}, "standard input: Is a directory", false, m_dir.string()},
        {{kTool, "--script", "-"}, "standard input: it is closed", false, ""},
    };
    for (const Case& c : cases) {
        Outcome r = RunProgram(c.args, m_dir, "", c.input);
        const std::string& said = c.onStdout ? r.out : r.err;
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(Lines(said), 1u) << said.substr(0, 200);
        EXPECT_NE(said.find(c.says), std::string::npos) << said.substr(0, 200);
    }
}

// A program that drives the runner through a pipe, a line at a time, gets each answer
// before it sends the next line (the pipe stays open meanwhile).
TEST_F(ProgramsTest, AScriptOnAPipeRunsEachLineAsItComes) {
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
        execl(kTool.c_str(), kTool.c_str(), "--simulate", "--script", "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    std::string said;
    for (const char* line : {"click IDC_GET_VERSION\n", "get IDC_TEST_BOX\n"}) {
        ASSERT_EQ(write(in[1], line, strlen(line)), static_cast<ssize_t>(strlen(line)));
    }
    // The answer to the last line, while its input is still open.
    pollfd p{out[0], POLLIN, 0};
    const auto answered = [&said] {
        const size_t at = said.find("ctl 1052");
        return at != std::string::npos && said.find('\n', at) != std::string::npos;
    };
    while (!answered() && poll(&p, 1, 30000) == 1) {
        char buf[512];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        said.append(buf, static_cast<size_t>(n));
    }
    EXPECT_TRUE(answered()) << "no answer before the end of input: " << said;
    close(in[1]);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ProgramsTest, OutputOnAFullDeviceIsAFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const auto script = m_dir / "ok.script";
    std::ofstream(script) << "dump\n";
    const std::vector<std::vector<std::string>> runs = {
        {kTool, "--script", script.string()},
        {kTool, "--list-ports"},
        {kTool, "--list-devices"},
        {kTool, "--version"},
        {kSim, "--help"},
    };
    for (const auto& args : runs) {
        Outcome r = RunProgram(args, m_dir, "/dev/full");
        EXPECT_NE(r.status, 0) << args[1];
        EXPECT_NE(r.status, -1) << args[1];
        EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos)
            << args[1] << ": " << r.err;
    }
}

// Without a display the tool tells what each main operation did, over which link.
TEST(Account, EachOperationWithItsLinkAndResult) {
    sim::InProcessSimulation simulation;
    runner::SimCommand sim = [&](const std::string& args, std::ostream& out, std::string* e) {
        return simulation.Command(args, out, e);
    };
    std::ostringstream out;
    EXPECT_EQ(runner::RunAccount(out, sim), 0);
    zarn::PortTable::CloseAll();
    std::istringstream split(out.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(split, line);) lines.push_back(line);
    const char* const expected[][3] = {
        {"Download Setting to Device", "USB 0801:0005", "\"Setup ok\""},
        {"Upload Setting from Device", "USB 0801:0005", "\"Get Setting Ok\""},
        {"Get Version", "USB 0801:0005", "\"V2.10\""},
        {"Read Card", "USB 0801:0005", "\"2542343131"},
        {"Open", "COM1", "\"Port is opened now\""},
        {"Get Version", "COM1", "\"V2.10\""},
    };
    ASSERT_EQ(lines.size(), std::size(expected) + 1) << out.str();
    for (size_t i = 0; i < std::size(expected); ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(line.find(std::string("  ") + expected[i][0]), 0u) << line;
        EXPECT_NE(line.find(std::string("over ") + expected[i][1]), std::string::npos) << line;
        EXPECT_NE(line.find(std::string("-> ") + expected[i][2]), std::string::npos) << line;
    }
}

TEST(SimOptions, ReaderVersionAndProgramVersionAreApart) {
    struct Case {
        std::vector<std::string> args;
        bool showVersion;
        const char* readerVersion;
    };
    const Case cases[] = {
        {{"--version"}, true, "V2.10"},
        {{"--version", "--serial"}, true, "V2.10"},
        {{"--serial", "--version"}, true, "V2.10"},
        {{"--serial", "--reader-version", "R 1"}, false, "R 1"},
        {{"--serial", "--version", "PTY 1.0"}, false, "PTY 1.0"},  // the older spelling
    };
    for (const Case& c : cases) {
        sim::SimOptions o;
        std::string error;
        ASSERT_TRUE(sim::ParseSimOptions(c.args, &o, &error)) << error;
        EXPECT_EQ(o.showVersion, c.showVersion) << c.args.back();
        EXPECT_EQ(o.version, c.readerVersion) << c.args.back();
    }
    sim::SimOptions o;
    std::string error;
    EXPECT_FALSE(sim::ParseSimOptions({"--serial", "--reader-version"}, &o, &error));
    EXPECT_EQ(error, "--reader-version needs a value");
}

// The manual pages keep up with the programs: every option of --help, and in the tool's
// page every control by id and name.
TEST_F(ProgramsTest, ManualPagesNameEveryOptionAndControl) {
    for (const auto& [path, page] :
         {std::pair{kTool, "man/zarn60-tool.1.in"}, {kSim, "man/zarn60-sim.1.in"}}) {
        std::string man = testsupport::Slurp(std::filesystem::path(ZARN60_SOURCE_DIR) / page);
        ASSERT_FALSE(man.empty()) << page;
        man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
        man = std::regex_replace(man, std::regex(R"(\\f[BIRP])"), "");
        const std::string help = RunProgram({path, "--help"}, m_dir).out;
        std::set<std::string> options;
        const std::regex option(R"(--[a-z][a-z-]*)");
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
            options.insert(it->str());
        EXPECT_GE(options.size(), 4u) << help;
        for (const auto& o : options) EXPECT_NE(man.find(o), std::string::npos) << page << o;
        if (path != kTool) continue;
        for (const auto& [name, id] : runner::ControlNames()) {
            const std::regex row(std::to_string(id) + R"([^\n]*\b)" + std::string(name) + R"(\b)");
            EXPECT_TRUE(std::regex_search(man, row)) << name;
        }
    }
}

}  // namespace
