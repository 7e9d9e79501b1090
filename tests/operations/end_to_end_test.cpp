// The operations end to end over the real links, in real time: zarn60-sim serves the
// reader on a pseudo-terminal (serial) or as a FUSE-served hidraw node (USB), and the
// dialog talks to it through the operating system's backends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "../support/child_process.h"
#include "../support/temp_dir.h"
#include "base/clock.h"
#include "fixture.h"

namespace optest {
namespace {

namespace fs = std::filesystem;

// zarn60-sim as a child process; the lines it prints as NAME=VALUE are collected.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) : m_args(std::move(args)) {}

    // Starts it and waits (up to 10 s) until every name in `wanted` was printed.
    bool Start(const std::vector<std::string>& wanted) {
        std::vector<std::string> argv = {ZARN60_SIM_PATH};
        argv.insert(argv.end(), m_args.begin(), m_args.end());
        auto all = [&] {
            for (const auto& w : wanted)
                if (!m_values.count(w)) return false;
            return true;
        };
        return m_child.Start(argv) && m_child.ReadLinesUntil(all, [&](const std::string& line) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) m_values[line.substr(0, eq)] = line.substr(eq + 1);
        });
    }
    const std::string& Value(const std::string& name) { return m_values[name]; }

private:
    std::vector<std::string> m_args;
    testsupport::ChildProcess m_child;
    std::map<std::string, std::string> m_values;
};

// Sets environment variables for the life of the object.
class ScopedEnv {
public:
    void Set(const std::string& name, const std::string& value) {
        ::setenv(name.c_str(), value.c_str(), 1);
        m_names.push_back(name);
    }
    ~ScopedEnv() {
        for (const auto& n : m_names) ::unsetenv(n.c_str());
    }

private:
    std::vector<std::string> m_names;
};

class EndToEndTest : public testsupport::WithTempDir<> {
protected:
    void SetUp() override {
        WithTempDir::SetUp();
        StartDialog(m_host, m_dlg);
    }
    void TearDown() override {
        zarn::PortTable::CloseAll();
        g_connectionMode = CONNECTION_USB;
        g_strReceived.clear();
        WithTempDir::TearDown();
    }
    std::string TestBox() const { return m_dlg.GetText(IDC_TEST_BOX); }
    // Runs timer 1 in real time until `done` or the deadline.
    bool PollUntil(const std::function<bool()>& done, uint32_t deadlineMs = 4000) {
        for (uint32_t t = 0; t < deadlineMs && m_dlg.TimerPeriod() != 0; t += m_dlg.TimerPeriod()) {
            if (done()) return true;
            zarn::GetClock().SleepMs(m_dlg.TimerPeriod());
            m_dlg.TimerTick();
        }
        return done();
    }
    size_t FileSize(const fs::path& p) { return fs::exists(p) ? fs::file_size(p) : 0; }

    // The walk a new user takes: change and download, upload, save, version, card, reset.
    void Walk(bool serial) {
        m_dlg.UserClick(IDC_BEEP_OFF);
        m_dlg.UserClick(IDC_PREFIX_CHECK);
        m_dlg.UserType(IDC_PREFIX, "ID");
        m_dlg.UserClick(IDC_DOWNLOAD);
        ASSERT_EQ(TestBox(), "Setup ok");

        m_dlg.UserClick(IDC_BEEP_ON);
        m_dlg.UserClick(IDC_PREFIX_CHECK);
        m_dlg.UserClick(IDC_UPLOAD);
        ASSERT_EQ(TestBox(), "Get Setting Ok");
        EXPECT_TRUE(m_dlg.IsChecked(IDC_BEEP_OFF));
        EXPECT_TRUE(m_dlg.IsChecked(IDC_PREFIX_CHECK));
        EXPECT_EQ(m_dlg.GetText(IDC_PREFIX), "ID");

        const fs::path file = m_dir / "Setup.cfg";
        m_host.fileAnswers.push_back(file.string());
        m_dlg.UserClick(IDC_SAVE_FILE);
        EXPECT_EQ(TestBox(), "Save CFG file Setup.cfg Ok");
        EXPECT_EQ(FileSize(file), 56u);

        m_dlg.UserClick(IDC_GET_VERSION);
        if (serial) {
            EXPECT_TRUE(PollUntil([&] { return TestBox() == "V2.10"; })) << TestBox();
        }
        EXPECT_EQ(TestBox(), "V2.10");

        m_dlg.UserClick(IDC_READ_CARD);
        if (serial) {
            EXPECT_TRUE(PollUntil([&] { return TestBox().find("?\r\n") != std::string::npos; }))
                << TestBox();
            EXPECT_EQ(TestBox().rfind("ID%", 0), 0u) << TestBox();
        } else {
            // "ID%" as hex, then the rest of the card data.
            EXPECT_EQ(TestBox().rfind("494425", 0), 0u) << TestBox();
        }

        m_dlg.UserClick(IDC_FACTORY);
        EXPECT_EQ(TestBox(), "Setup ok");
        m_dlg.UserClick(IDC_UPLOAD);
        ASSERT_EQ(TestBox(), "Get Setting Ok");
        EXPECT_TRUE(m_dlg.IsChecked(IDC_BEEP_ON));
        EXPECT_FALSE(m_dlg.IsChecked(IDC_PREFIX_CHECK));

        // The file brings the downloaded settings back without the reader's help.
        m_host.fileAnswers.push_back(file.string());
        m_dlg.UserClick(IDC_LOAD_FILE);
        EXPECT_EQ(TestBox(), "Load setting ok!");
        EXPECT_TRUE(m_dlg.IsChecked(IDC_BEEP_OFF));
        EXPECT_EQ(m_dlg.GetText(IDC_PREFIX), "ID");
    }

    RecordingHost m_host;
    CZARN60TOOLDlg m_dlg;
};

TEST_F(EndToEndTest, SerialOverAPseudoTerminal) {
    SimProcess sim({"--serial", "--com", "3"});
    ASSERT_TRUE(sim.Start({"ZARN60_COM3"}));
    ScopedEnv env;
    env.Set("ZARN60_COM3", sim.Value("ZARN60_COM3"));
    m_dlg.UserClick(IDC_SERIAL_PORT);
    m_dlg.UserType(IDC_COM, "3");
    Walk(true);
}

TEST_F(EndToEndTest, UsbOverAFuseHidrawNode) {
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0 || ::geteuid() != 0) {
        if (fuse >= 0) ::close(fuse);
        GTEST_SKIP() << "needs root and /dev/fuse to serve a hidraw node";
    }
    ::close(fuse);
#ifndef ZARN60_HAVE_FUSE
    GTEST_SKIP() << "this build has no FUSE support";
#endif
    SimProcess sim({"--usb"});
    ASSERT_TRUE(sim.Start({"ZARN60_SYSFS_ROOT", "ZARN60_DEV_ROOT"}));
    ScopedEnv env;
    env.Set("ZARN60_SYSFS_ROOT", sim.Value("ZARN60_SYSFS_ROOT"));
    env.Set("ZARN60_DEV_ROOT", sim.Value("ZARN60_DEV_ROOT"));
    Walk(false);
}

}  // namespace
}  // namespace optest
