// Two tool processes on one USB reader (`zarn60-sim --usb`, a FUSE-served hidraw node):
// every open of the node gets a copy of each report the reader sends, so without a hold
// each tool reads the other's answers. Each upload and version query must either show
// the reader's own answer or fail to open; never a mix.
#ifdef ZARN60_HAVE_FUSE

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "sim/fuse/hid_node_server.h"

namespace {

// The text of each "get ID" line the tool printed, in order, once it has ended.
std::vector<std::string> Texts(testsupport::ChildProcess& tool) {
    std::vector<std::string> texts;
    tool.ReadLinesUntil([] { return false; },
                        [&](const std::string& line) {
                            const size_t at = line.find(" text=\"");
                            if (line.rfind("ctl ", 0) == 0 && at != std::string::npos)
                                texts.push_back(line.substr(at + 7, line.size() - at - 8));
                        },
                        60000);
    tool.Stop();
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

    // Both find the node through the roots the simulator printed (NAME=value lines).
    auto name = [](const std::string& line) { return line.substr(0, line.find('=')); };
    for (const std::string& root : roots)
        ::setenv(name(root).c_str(), root.substr(root.find('=') + 1).c_str(), 1);
    testsupport::ChildProcess tools[2];
    for (auto& tool : tools) ASSERT_TRUE(tool.Start({ZARN60_TOOL_PATH, "--script", path}));
    for (const std::string& root : roots) ::unsetenv(name(root).c_str());
    const std::vector<std::string> outputs[2] = {Texts(tools[0]), Texts(tools[1])};
    ::unlink(path);

    int served = 0;
    for (const std::vector<std::string>& texts : outputs) {
        ASSERT_EQ(texts.size(), static_cast<size_t>(kRounds * 4));
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
