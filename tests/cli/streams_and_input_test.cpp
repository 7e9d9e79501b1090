// zarn60 against input an operator or an attacker may give it: bad option values, hostile
// JSON, files that are not regular files, an output that cannot be written, a reader whose
// text would drive the terminal, and the streams and commands people expect.
#include <sys/stat.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "protocol/reader_config.h"

namespace {

using namespace clitest;
namespace fs = std::filesystem;
using testsupport::Slurp;

bool AllPrintable(const std::string& text) {
    for (char c : text) {
        const auto b = static_cast<uint8_t>(c);
        if ((b < 0x20 && b != '\n') || b == 0x7F || b >= 0x80) return false;
    }
    return true;
}

// Each case: its exit code, one printable "zarn60: " line on stderr naming what was wrong,
// nothing on stdout, within the test's time (a FIFO or /dev/zero would hang or exhaust).
TEST_F(CliTest, RefusedInputEndsInOneLineAndItsExitCode) {
    const std::string missing = (m_dir / "no-such-tty").string();
    WriteFile(m_dir / "ok.json", R"({"beep": true})");
    WriteFile(m_dir / "overflow.json", R"({"track1_start": 1e400})");
    WriteFile(m_dir / "twice.json", R"({"beep": false, "beep": true})");
    WriteFile(m_dir / "nul.json", std::string("{\"beep\": true}\0garbage", 23));
    WriteFile(m_dir / "trailing.json", R"({"beep": true} {"beep": false})");
    WriteFile(m_dir / "half.json", R"({"track2_start": 100.5})");
    WriteFile(m_dir / "bytes.json", "{\"beep\xFF\x1B[2J\": true}");
    fs::create_directory(m_dir / "folder.cfg");
    ASSERT_EQ(::mkfifo((m_dir / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", m_dir / "zero.cfg");
    {
        std::ofstream big(m_dir / "big.json");
        big << "{}";
    }
    fs::resize_file(m_dir / "big.json", uint64_t(2) << 30);  // sparse

    // Names a message must show safely: a NUL inside (which would end a C string) and a
    // megabyte of name (which would make a megabyte of error line).
    WriteFile(m_dir / "nulname.json", std::string("{\"be\\u0000ep\": true}"));
    WriteFile(m_dir / "longname.json", "{\"" + std::string((1 << 20) - 100, 'k') + "\": 1}");
    WriteFile(m_dir / "twicelong.json",
              "{\"" + std::string(200, 't') + "\": 1, \"" + std::string(200, 't') + "\": 2}");
    ASSERT_EQ(::mkfifo((m_dir / "fifo-out.cfg").c_str(), 0600), 0);

    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
        const char* stdinPath = "/dev/null";  // "" = closed
    } cases[] = {
        {{"encode", "nulname.json", "-o", "x.cfg"}, 3, "nulname.json: be<NUL>ep: unknown field"},
        {{"encode", "longname.json", "-o", "x.cfg"}, 3, "kkkk... (1048476 bytes): unknown field"},
        {{"encode", "twicelong.json", "-o", "x.cfg"}, 3, "ttt... (200 bytes): given twice"},
        // The file layer's reason, not a generic one.
        {{"encode", "ok.json", "-o", "folder.cfg"}, 3, "folder.cfg: cannot write: is a folder"},
        {{"encode", "ok.json", "-o", "fifo-out.cfg"}, 3, "cannot write: not a regular file"},
        // Standard input that cannot be read is refused, never taken for an empty one.
        {{"apply", "-", "--format", "json", "--port", missing}, 3,
         "standard input: cannot read: it is closed", ""},
        {{"apply", "-", "--format", "json", "--port", missing}, 3,
         "standard input: cannot read: Is a directory", "."},
        // Link values: a usage error naming the option, never another link.
        {{"show", "--com", "0"}, 1, "--com 0: "},
        {{"apply", "ok.json", "--com", "0"}, 1, "--com 0: "},
        {{"show", "--com", "3x"}, 1, "--com 3x: "},
        {{"show", "--port", ""}, 1, "--port: "},
        {{"read-card", "--timeout", "nan", "--port", missing}, 1, "--timeout nan: "},
        {{"read-card", "--timeout", "inf", "--port", missing}, 1, "--timeout inf: "},
        {{"read-card", "--timeout", "abc", "--port", missing}, 1, "seconds from 0.5 to 3600"},
        {{"show", "--com"}, 1, "--com needs a value"},
        {{"show", "--com", "3", "--com", "4"}, 1, "--com is given more than once"},
        // Numbers beyond a double, in every command that reads a document.
        {{"encode", "overflow.json", "-o", "x.cfg"}, 3, "overflow.json: track1_start: "},
        {{"apply", "overflow.json", "--port", missing}, 3, "overflow.json: track1_start: "},
        {{"diff", "overflow.json", "ok.json"}, 3, "overflow.json: track1_start: "},
        {{"preview", "overflow.json"}, 3, "overflow.json: track1_start: "},
        {{"encode", "twice.json", "-o", "x.cfg"}, 3, "twice.json: beep: given twice"},
        {{"encode", "nul.json", "-o", "x.cfg"}, 3, "nul.json: not JSON: a NUL byte at byte 15"},
        {{"encode", "trailing.json", "-o", "x.cfg"}, 3, "trailing.json: not JSON"},
        {{"encode", "half.json", "-o", "x.cfg"}, 3, "track2_start: must be a whole number"},
        {{"encode", "bytes.json", "-o", "x.cfg"}, 3, "bytes.json: not JSON"},
        // Inputs that are not regular files, refused before a byte is read.
        {{"decode", "folder.cfg"}, 3, "folder.cfg: cannot read: is a folder"},
        {{"apply", "fifo.json", "--port", missing}, 3, "fifo.json: cannot read: not a regular"},
        {{"decode", "zero.cfg"}, 3, "zero.cfg: cannot read: not a regular file"},
        {{"apply", "big.json", "--port", missing}, 3, "big.json: 2147483648 bytes; "},
        // Commands and streams.
        {{"frobnicate"}, 1, "'frobnicate' is not a zarn60 command; the commands are: list,"},
        {{"help", "frobnicate"}, 1, "'frobnicate' is not a zarn60 command"},
        {{"apply", "-", "--port", missing}, 1, "-: give --format cfg or --format json"},
        {{"apply", "ok.json", "--format", "xml", "--port", missing}, 1, "--format xml: "},
        {{"encode", "ok.json", "-o", "x.json"}, 1, "x.json: encode writes a .cfg file"},
        {{"diff", "-", "-"}, 1, "standard input can be only one side"},
    };
    for (const auto& c : cases) {
        const Result r = Zarn(c.args, nullptr, true, c.stdinPath);
        const std::string what = c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(r.err.rfind("zarn60: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
        EXPECT_LT(r.err.size(), 400u) << what;
        EXPECT_TRUE(AllPrintable(r.err)) << what << ": " << r.err;
        EXPECT_EQ(r.err.find("not in range"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(m_dir / "x.cfg"));
    EXPECT_FALSE(fs::exists(m_dir / "x.json"));
}

// Documents and files the program takes as the window would: integral numbers however
// written, a .cfg longer than 56 bytes from its first 56 (with a note), "-" for the
// standard streams.
TEST_F(CliTest, AcceptedInputAndTheStandardStreams) {
    WriteFile(m_dir / "whole.json",
              R"({"track1_start": 1e2, "track2_start": 100.0, "beep": false})");
    Result r = Zarn({"encode", "whole.json", "-o", "whole.cfg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string cfg = Slurp(m_dir / "whole.cfg");
    ASSERT_EQ(cfg.size(), 56u);
    EXPECT_EQ(uint8_t(cfg[protocol::rimg::TRACK_START]), 100);
    EXPECT_EQ(uint8_t(cfg[protocol::rimg::TRACK_START + 1]), 100);

    // Standard input to standard output, both ways, byte for byte.
    r = Zarn({"encode", "-", "-o", "-"}, nullptr, true, (m_dir / "whole.json").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, cfg);
    r = Zarn({"decode", "-", "--json"}, nullptr, true, (m_dir / "whole.cfg").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["track2_start"], 100);
    r = Zarn({"diff", "-", "whole.json", "--format", "cfg"}, nullptr, true,
             (m_dir / "whole.cfg").string());
    EXPECT_EQ(r.out, "no differences\n") << r.err;

    // Longer .cfg files: the first 56 bytes, the rest noted once on stderr.
    WriteFile(m_dir / "long.cfg", cfg + std::string(44, '\xEE'));
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"decode", "long.cfg", "--json"},
                                               {"diff", "long.cfg", "whole.cfg"},
                                               {"preview", "long.cfg", "--hex"}}) {
        r = Zarn(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(r.err,
                  "zarn60: note: long.cfg: 100 bytes; the bytes after the first 56 were "
                  "ignored\n")
            << args[0];
    }
    EXPECT_EQ(Zarn({"diff", "long.cfg", "whole.cfg"}).out, "no differences\n");

    // diff: --exit-code as git's; a partial document compares only the fields it names.
    WriteFile(m_dir / "quiet.json", R"({"beep": true})");
    r = Zarn({"diff", "whole.cfg", "quiet.json", "--exit-code"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "beep: false -> true\n");
    r = Zarn({"diff", "whole.cfg", "whole.json", "--exit-code"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "no differences\n");

    // Help: "zarn60 help [COMMAND]", the exit codes once, in the program's help.
    const Result top = Zarn({"help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("Exit codes:"), std::string::npos) << top.out;
    const Result sub = Zarn({"help", "apply"});
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.out.find("--dry-run"), std::string::npos) << sub.out;
    EXPECT_EQ(sub.out.find("Exit codes:"), std::string::npos) << sub.out;
    EXPECT_EQ(Zarn({"apply", "--help"}).out, sub.out);
}

// Output that cannot be written is a failure with one line, never a silent success.
TEST_F(CliTest, AFullDiskIsAFailure) {
    WriteFile(m_dir / "a.json", R"({"beep": true})");
    WriteFile(m_dir / "b.json", R"({"beep": false})");
    ASSERT_EQ(Zarn({"encode", "a.json", "-o", "a.cfg"}).status, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"schema"},    {"decode", "a.cfg", "--json"},  {"diff", "a.json", "b.json"}, {"--help"},
        {"--version"}, {"encode", "a.json", "-o", "-"}};
    for (const auto& args : commands) {
        const Result r = Zarn(args, nullptr, true, "/dev/null", "/dev/full");
        EXPECT_NE(r.status, 0) << args[0];
        EXPECT_EQ(r.err, "zarn60: cannot write to standard output: No space left on device\n")
            << args[0];
    }
}

// A reader of the output that goes away ends the program quietly, as git does: by SIGPIPE,
// with nothing on stderr, even when the caller left SIGPIPE ignored.
TEST_F(CliTest, AClosedPipeEndsQuietly) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const fs::path err = m_dir / ".stderr";
    ::close(out[0]);  // nobody reads
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_IGN);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(e, STDERR_FILENO);
        ::execl(ZARN60_CLI_PATH, ZARN60_CLI_PATH, "schema", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    EXPECT_EQ(Slurp(err), "");
}

// The reader's version text reaches the terminal with its control bytes by name.
TEST_F(CliTest, ReaderTextNeverDrivesTheTerminal) {
    Sim sim;
    std::string skip;
    ASSERT_TRUE(sim.Start(false, {"--reader-version", "V2\x1B[2J\x1B]0;owned\x07"}, &skip)) << skip;
    const Result r = Zarn({"version"}, &sim);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "V2<ESC>[2J<ESC>]0;owned<BEL>\n");
}

}  // namespace
