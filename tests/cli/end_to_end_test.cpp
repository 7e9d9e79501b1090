// zarn60 as a user runs it: every subcommand against zarn60-sim over a pseudo-terminal and
// over a FUSE hidraw node (where root and /dev/fuse allow), bad input, a reader that goes
// away, and the bytes the window would send for the same file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli_fixture.h"
#include "protocol/factory_images.h"

namespace {

using namespace clitest;
namespace fs = std::filesystem;
using testsupport::Slurp;

class CliLinkTest : public CliTest, public ::testing::WithParamInterface<bool> {};

// Every subcommand that talks to a reader, in the order a user might run them.
TEST_P(CliLinkTest, EverySubcommandAgainstTheSimulatedReader) {
    Sim sim;
    std::string skip;
    if (!sim.Start(GetParam(), {}, &skip)) GTEST_SKIP() << "zarn60-sim test skipped: " << skip;
    WriteFile(m_dir / "framing.json",
              R"({"prefix_on": true, "prefix": "<STX>AB", "suffix_on": true,
                  "suffix": "XY<ETX>", "beep": false})");

    const struct {
        std::vector<std::string> args;
        const char* contains;
    } steps[] = {
        {{"show"}, "track1_start_sentinel: \"%\"\n"},
        {{"show", "--raw"}, "raw: 01 01 01 25 3B 2B 3F 3F 3F 00 03 03 03"},
        {{"version"}, "V2.10\n"},
        {{"read-card"}, "text: %B4111111111111111^DOE/JOHN^2912101?<CR><LF>;4111"},
        // One change a line, then the outcome on a line of its own.
        {{"apply", "framing.json", "--dry-run"}, "beep: true -> false\nwould write "},
        {{"apply", "framing.json", "--json"}, R"("changed":true)"},
        {{"apply", "framing.json", "--json"}, R"("changed":false)"},
        {{"show", "--json"}, R"("prefix": "<STX>AB")"},
        {{"read-card"}, "text: <STX>AB%B41"},
        {{"save", "kept.cfg"}, "saved"},
        {{"save", "kept.json"}, "saved"},
        {{"diff", "reader", "kept.json"}, "no differences\n"},
        {{"factory"}, "factory configuration written and verified"},
        {{"diff", "reader", "kept.cfg"}, "prefix_on: false -> true\n"},
        {{"apply", "kept.cfg"}, "beep: true -> false\nwritten and verified on "},
        {{"diff", "reader", "framing.json"}, "no differences\n"},
    };
    for (const auto& s : steps) {
        const Result r = Zarn(s.args, &sim);
        EXPECT_EQ(r.status, 0) << s.args[0] << ": " << r.err;
        EXPECT_NE(r.out.find(s.contains), std::string::npos) << s.args[0] << ":\n" << r.out;
    }
    EXPECT_EQ(Slurp(m_dir / "kept.cfg").size(), protocol::CONFIG_READ_IMAGE_SIZE);
    const auto doc = nlohmann::json::parse(Slurp(m_dir / "kept.json"));
    EXPECT_EQ(doc["suffix"], "XY<ETX>");

    if (GetParam()) {
        const Result r = Zarn({"list"}, &sim, false);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("/hidraw0\t0801:0005\tinput 9 output 9"), std::string::npos) << r.out;
    } else {
        const Result r =
            RunProgram({ZARN60_CLI_PATH, "list", "--json"}, {{"ZARN60_COM3", sim.Port()}}, m_dir);
        EXPECT_EQ(r.status, 0);
        bool listed = false;
        const auto listing = nlohmann::json::parse(r.out);
        for (const auto& p : listing["serial"])
            listed =
                listed || (p["com"] == 3 && p["device"] == sim.Port() && p["openable"].get<bool>());
        EXPECT_TRUE(listed) << r.out;
    }
}

// The reader goes away after this many reports (USB) or bytes (serial): the request and
// answer of the first read, then part of the write.
TEST_P(CliLinkTest, AReaderThatVanishesMidApplyIsReportedAsPossiblyHalfWritten) {
    const bool usb = GetParam();
    Sim sim;
    std::string skip;
    const std::string after = usb ? "12" : "90";
    if (!sim.Start(usb, {"--vanish", after}, &skip))
        GTEST_SKIP() << "zarn60-sim test skipped: " << skip;
    WriteFile(m_dir / "beep.json", R"({"beep": false})");
    const Result r = Zarn({"apply", "beep.json", "--json"}, &sim);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("may be half written"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

// A reader that refuses: over USB it says so; over a serial port its answer is not
// examined, so the read-back finds the old configuration.
TEST_P(CliLinkTest, ARefusedConfigurationIsNeverReportedAsDone) {
    const bool usb = GetParam();
    Sim sim;
    std::string skip;
    if (!sim.Start(usb, {"--mode", "reject"}, &skip))
        GTEST_SKIP() << "zarn60-sim test skipped: " << skip;
    WriteFile(m_dir / "beep.json", R"({"beep": false})");
    const Result r = Zarn({"apply", "beep.json"}, &sim);
    EXPECT_EQ(r.status, usb ? 2 : 4) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(usb ? "refused" : "read-back differs from what was written in beep"),
              std::string::npos)
        << r.err;
}

// --usb NODE reaches that node alone.
TEST_F(CliTest, UsbNodePicksOneNode) {
    Sim sim;
    std::string skip;
    if (!sim.Start(true, {}, &skip)) GTEST_SKIP() << "zarn60-sim test skipped: " << skip;
    const std::string dev = sim.Env().at("ZARN60_DEV_ROOT");
    Result r = Zarn({"version", "--usb", dev + "/hidraw0"}, &sim, false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "V2.10\n");
    r = Zarn({"version", "--usb", "hidraw0"}, &sim, false);
    EXPECT_EQ(r.out, "V2.10\n") << r.err;
    r = Zarn({"version", "--usb", dev + "/hidraw7"}, &sim, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("hidraw7: no reader found"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Links, CliLinkTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Usb" : "Serial"; });

// Bad input of every kind: its exit code, one line on stderr, nothing on stdout, and the
// file that would have been written left as it was.
TEST_F(CliTest, BadInputGivesItsExitCodeAndOneLineAndTouchesNoFile) {
    WriteFile(m_dir / "short.cfg", std::string(55, '\0'));
    WriteFile(m_dir / "bad.json", "{\"beep\": fals");
    WriteFile(m_dir / "unknown.json", R"({"beeper": true})");
    WriteFile(m_dir / "range.json", R"({"track2_start": 300})");
    WriteFile(m_dir / "ok.json", R"({"beep": true})");
    WriteFile(m_dir / "existing.cfg", "old content");
    const std::string missing = (m_dir / "no-such-tty").string();
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"apply", "short.cfg", "--port", missing},
         3,
         "short.cfg: a .cfg file holds 56 bytes, this one 55"},
        {{"apply", "bad.json", "--port", missing}, 3, "bad.json: not JSON"},
        {{"apply", "unknown.json", "--port", missing}, 3, "unknown.json: beeper: unknown field"},
        {{"apply", "range.json", "--port", missing}, 3, "range.json: track2_start: "},
        {{"apply", "missing.json", "--port", missing}, 3, "missing.json: cannot read"},
        {{"apply", "ok.json", "--port", missing}, 2, "cannot open the port"},
        {{"apply", "ok.json", "--com", "201"}, 1, "--com 201"},
        {{"apply", "ok.json", "--com", "3", "--usb"}, 1, "choose one link"},
        {{"apply", "ok.txt", "--port", missing}, 1, "ok.txt: a configuration file ends in"},
        {{"save", "existing.cfg", "--port", missing}, 2, "cannot open the port"},
        {{"encode", "unknown.json", "-o", "existing.cfg"}, 3, "beeper: unknown field"},
        {{"decode", "short.cfg"}, 3, "56 bytes"},
        {{"frobnicate"}, 1, "zarn60: "},
        {{"show", "--baud", "9600"}, 1, "zarn60: "},
    };
    for (const auto& c : cases) {
        const Result r = Zarn(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args[0];
        EXPECT_EQ(r.err.rfind("zarn60: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
        EXPECT_EQ(Slurp(m_dir / "existing.cfg"), "old content");
    }
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(m_dir))
        if (e.path().filename().string().find("existing") != std::string::npos)
            left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"existing.cfg"}) << "a temporary file was left";
}

// The commands that need no reader.
TEST_F(CliTest, FileCommandsWithoutAReader) {
    protocol::ConfigReadImage image = protocol::MakeConfigReadImage(
        protocol::ParseConfigWriteImage(protocol::FactoryWriteImageHid()), {}, 0);
    image[protocol::rimg::OPTION_FLAGS] = protocol::OPT_PREFIX | protocol::OPT_SUFFIX | 0x10;
    const std::string pre = "\x02P<", suf = "S\x03";
    std::copy(pre.begin(), pre.end(), image.begin() + protocol::rimg::PREFIX);
    std::copy(suf.begin(), suf.end(), image.begin() + protocol::rimg::SUFFIX);
    image[protocol::rimg::PACKET_TERMINATOR] = 9;  // a code the window cannot show
    WriteFile(m_dir / "a.cfg", std::string(image.begin(), image.end()));
    WriteFile(m_dir / "tracks.json", R"({"track1_output": false, "packet_terminator": "cr"})");

    Result r = Zarn({"decode", "a.cfg", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    WriteFile(m_dir / "a.json", r.out);
    EXPECT_NE(r.out.find(R"("prefix": "<STX>P<<")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("option_bits_unnamed": 16)"), std::string::npos);
    EXPECT_NE(r.out.find(R"("packet_terminator": 9)"), std::string::npos);

    r = Zarn({"encode", "a.json", "-o", "b.cfg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(m_dir / "b.cfg"), Slurp(m_dir / "a.cfg"));

    r = Zarn({"diff", "a.cfg", "a.json"});
    EXPECT_EQ(r.out, "no differences\n");
    r = Zarn({"diff", "a.cfg", "tracks.json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("packet_terminator: 9 -> \"cr\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("track1_output: true -> false\n"), std::string::npos) << r.out;

    // Prefix field up to its NUL, the enabled tracks with data, the suffix field, CR.
    r = Zarn({"preview", "tracks.json", "--track2", "4111=29", "--track1", "B4^X"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ";4111=29?\r\n\r");
    r = Zarn({"preview", "a.cfg", "--track1", "B4", "--hex"});
    EXPECT_EQ(r.out, "02 50 3C 25 42 34 3F 0D 0A 53 03\n");

    r = Zarn({"schema"});
    const auto schema = nlohmann::json::parse(r.out);
    EXPECT_EQ(schema["properties"].size(), cli::Fields().size());
    EXPECT_FALSE(schema["additionalProperties"].get<bool>());
}

// The window's "Load Setting from File" then "Download Setting to Device" and zarn60 apply
// leave the same bytes in the reader, for files the window shows exactly; for one it
// cannot show, apply carries the bytes as they are.
TEST_F(CliTest, ApplySendsWhatTheWindowSendsForTheSameFile) {
    Sim sim;
    std::string skip;
    ASSERT_TRUE(sim.Start(false, {}, &skip)) << skip;

    auto image = [](auto edit) {
        protocol::ReaderConfig c =
            protocol::ParseConfigWriteImage(protocol::FactoryWriteImageHid());
        edit(c);
        return protocol::MakeConfigReadImage(c, {}, 0);
    };
    auto text = [](std::array<uint8_t, protocol::CONFIG_TEXT_FIELD_SIZE>& field,
                   const std::string& s) { std::copy(s.begin(), s.end(), field.begin()); };
    const std::vector<protocol::ConfigReadImage> files = {
        image([](protocol::ReaderConfig&) {}),
        image([&](protocol::ReaderConfig& c) {
            c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX | protocol::OPT_BEEP_OFF;
            text(c.prefix,
                 "\x02"
                 "AB");
            text(c.suffix, "XY\x03");
        }),
        image([&](protocol::ReaderConfig& c) {
            c.optionFlags = protocol::OPT_PREFIX | protocol::OPT_SUFFIX |
                            protocol::OPT_TRACK3_TRIM | protocol::OPT_AUTO_OUTPUT_OFF;
            text(c.prefix, "PRE");
            text(c.suffix, "SUF");
            c.trim3KeepSpaces = 2;
            c.trackStart = {2, 0, 5};
            c.trackLength = {10, 37, 0};
            c.trackEnable[2] = 0;
        }),
        image([](protocol::ReaderConfig& c) {
            c.packetTerminator = protocol::TERM_CR;
            c.trackTerminator = {0, 0, 0};
            c.endSentinel = {0, 0, 0};
        }),
    };
    const std::map<std::string, std::string> env = {{"ZARN60_COM3", sim.Port()}};
    auto held = [&] {
        const Result r = Zarn({"show", "--json", "--raw"}, &sim);
        EXPECT_EQ(r.status, 0) << r.err;
        return nlohmann::json::parse(r.out)["$raw"].get<std::string>();
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const fs::path file = m_dir / ("case" + std::to_string(i) + ".cfg");
        WriteFile(file, std::string(files[i].begin(), files[i].end()));
        const std::string script = "click 1061\ntype 1050 3\nanswer open " + file.string() +
                                   "\nclick 1041\nclick 1013\nget 1052\n";
        WriteFile(m_dir / "script", script);
        const Result window = RunProgram({ZARN60_TOOL_PATH, "--script", "script"}, env, m_dir);
        ASSERT_EQ(window.status, 0) << window.out;
        EXPECT_NE(window.out.find("Setup ok"), std::string::npos) << window.out;
        const std::string byWindow = held();

        ASSERT_EQ(Zarn({"factory"}, &sim).status, 0);
        const Result r = Zarn({"apply", file.filename().string(), "--force"}, &sim);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(held(), byWindow) << "case " << i;
    }

    // Option bit 0x10 and terminator code 9: the window cannot show them, the write image
    // carries them.
    protocol::ConfigReadImage odd = files[0];
    odd[protocol::rimg::OPTION_FLAGS] = 0x10;
    odd[protocol::rimg::PACKET_TERMINATOR] = 9;
    WriteFile(m_dir / "odd.cfg", std::string(odd.begin(), odd.end()));
    const Result r = Zarn({"apply", "odd.cfg"}, &sim);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("option_bits_unnamed: 0 -> 16"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("not carried: read_bytes_13_16"), std::string::npos) << r.out;
    EXPECT_EQ(Zarn({"diff", "reader", "odd.cfg"}, &sim).out.find("packet_terminator"),
              std::string::npos);
}

}  // namespace
