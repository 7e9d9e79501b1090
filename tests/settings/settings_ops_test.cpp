// "Save setting to File" and "Load Setting from File" through the real dialog, against the
// simulated reader and real files.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../operations/fixture.h"
#include "../support/temp_dir.h"
#include "app/operations/config_dialog.h"
#include "protocol/read_exchange.h"
#include "settings_file/settings_file.h"

namespace optest {
namespace {

namespace fs = std::filesystem;

const char* const FILTER = "Configuration file   (*.cfg)|*.cfg|All   Files   (*.*)|*.*||";
const char* const SAVE_TITLE = "数据保存为cfg文件";

using testsupport::Slurp;

class SettingsOpsTest : public testsupport::WithTempDir<OperationsTest> {
protected:
    // The reader's read image as the bytes a file should hold.
    std::string ReaderBytes() {
        const std::string hex = SimHex("readimage");
        std::string bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 3)
            bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return bytes;
    }
    // Gives the reader a configuration far from the start-up one.
    void ConfigureReader() {
        CZARN60TOOLDlg other;
        other.Create();
        for (int id : {IDC_DISABLE_SS, IDC_BEEP_OFF, IDC_STX_YES, IDC_SUFFIX_CHECK, IDC_TRIM_SPACES,
                       IDC_END_TRACK2, IDC_OUTPUT_TRACK3})
            other.UserClick(id);
        other.UserType(IDC_SUFFIX, "END");
        other.UserType(IDC_TRIM_COUNT, "4");
        other.UserType(IDC_TRACK3_START, "2");
        other.UserType(IDC_TRACK3_END, "120");
        other.UserClick(IDC_DOWNLOAD);
        ASSERT_EQ(other.GetText(IDC_TEST_BOX), "Setup ok");
        Log();
    }
};

TEST_F(SettingsOpsTest, UsbSaveWritesTheReaderBytesAndAsksForTheFile) {
    ConfigureReader();
    const fs::path file = m_dir / "mine.bin";
    m_host.fileAnswers.push_back(file.string());
    const uint32_t start = Now();
    m_dlg.UserClick(IDC_SAVE_FILE);
    EXPECT_EQ(TestBox(), "Save CFG file Setup.cfg Ok");
    EXPECT_EQ(Slurp(file), ReaderBytes());
    EXPECT_EQ(Slurp(file).size(), 56u);
    EXPECT_EQ(m_dlg.TimerPeriod(), POLL_PERIOD_MS);
    EXPECT_GE(Now() - start, 7 * protocol::SAVE_REPORT_PAUSE_MS);
    EXPECT_EQ(Log().usb, std::vector<std::string>{"00 53 00 00 00 00 00 00 00"});

    ASSERT_EQ(m_host.fileDialogs.size(), 1u);
    const ui::FileDialogRequest& r = m_host.fileDialogs[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.title, SAVE_TITLE);
    EXPECT_EQ(r.initialFile, "Setup.cfg");
    EXPECT_EQ(r.defaultExt, "cfg");
    EXPECT_EQ(r.filter, FILTER);
    EXPECT_EQ(r.flags, 0x0006u);
}

// A saved file loaded again shows what an upload from that reader shows.
TEST_F(SettingsOpsTest, SaveThenLoadGivesTheDialogOfAnUpload) {
    ConfigureReader();
    const fs::path file = m_dir / "Setup.cfg";
    m_host.fileAnswers.push_back(file.string());
    m_dlg.UserClick(IDC_SAVE_FILE);
    ASSERT_EQ(TestBox(), "Save CFG file Setup.cfg Ok");

    m_dlg.UserClick(IDC_UPLOAD);
    ASSERT_EQ(TestBox(), "Get Setting Ok");
    const auto uploaded = Snapshot(m_dlg);

    CZARN60TOOLDlg fresh;
    RecordingHost host;
    fresh.SetHost(&host);
    fresh.Create();
    host.fileAnswers.push_back(file.string());
    Sim("usb detach");  // loading needs no reader
    Log();
    fresh.UserClick(IDC_LOAD_FILE);
    EXPECT_EQ(fresh.GetText(IDC_TEST_BOX), "Load setting ok!");
    EXPECT_EQ(Differences(uploaded, Snapshot(fresh)), std::vector<int>{});
    EXPECT_TRUE(Log().usb.empty());
    EXPECT_EQ(fresh.TimerPeriod(), 0u);

    ASSERT_EQ(host.fileDialogs.size(), 1u);
    const ui::FileDialogRequest& r = host.fileDialogs[0];
    EXPECT_FALSE(r.save);
    EXPECT_EQ(r.title, "");
    EXPECT_EQ(r.initialFile, "");
    EXPECT_EQ(r.defaultExt, ".cfg");
    EXPECT_EQ(r.filter, FILTER);
    EXPECT_EQ(r.flags, 0x1004u);
}

TEST_F(SettingsOpsTest, SaveFailures) {
    struct Case {
        const char* name;
        bool serial;
        std::string com;
        std::vector<std::string> sim;
        std::optional<std::string> answer;  // the file dialog's answer; none = not asked
        std::string text;
        bool dialogShown;
    } cases[] = {
        {"cancelled", false, "1", {}, std::nullopt, "Open File Error", true},
        {"a folder", false, "1", {}, "/tmp", "Open File Error", true},
        {"no reader", false, "1", {"usb detach"}, {}, "Open USB Device Failure!!!", false},
        {"short reports", false, "1", {"reports 9 8"}, {}, "USB WRITE ERROR1", false},
        {"six reports", false, "1", {"mode partial 6"}, {}, "ZARN60 NO RESPONSE1", false},
        {"serial cancelled", true, "1", {}, std::nullopt, "Open File Error", true},
        {"serial empty", true, "", {}, {}, "please setup Serial number", false},
        {"serial 0", true, "0", {}, {}, "Port Number Error", false},
        {"serial abc", true, "abc", {}, {}, "Port Number Error", false},
        {"serial 55 bytes", true, "1", {"mode partial 55"}, {}, "Get Configuration Error", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshReaderWith(c.sim);
        m_dlg.UserClick(c.serial ? IDC_SERIAL_PORT : IDC_USB);
        if (c.serial) m_dlg.UserType(IDC_COM, c.com);
        m_dlg.KillTimer();
        m_host.fileDialogs.clear();
        m_host.fileAnswers = {c.answer};
        m_dlg.EnableControl(IDC_DOWNLOAD, false);
        m_dlg.UserClick(IDC_SAVE_FILE);
        EXPECT_EQ(TestBox(), c.text);
        EXPECT_EQ(m_host.fileDialogs.size(), c.dialogShown ? 1u : 0u);
        EXPECT_EQ(m_dlg.TimerPeriod(), 0u);
        EXPECT_EQ(m_dlg.IsEnabled(IDC_DOWNLOAD), !c.serial && !c.dialogShown);
        EXPECT_TRUE(fs::is_empty(m_dir));
    }
}

TEST_F(SettingsOpsTest, SerialSaveStartsThePollOnlyAfterTheFileIsWritten) {
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);
    const fs::path file = m_dir / "serial.cfg";
    struct Watch : RecordingHost {
        std::vector<uint32_t> periods;
        void TimerChanged(uint32_t ms) override { periods.push_back(ms); }
    } watch;
    watch.fileAnswers.push_back(file.string());
    m_dlg.SetHost(&watch);
    m_dlg.UserClick(IDC_SAVE_FILE);
    m_dlg.SetHost(&m_host);
    EXPECT_EQ(m_dlg.GetText(IDC_TEST_BOX), "Save CFG file Setup.cfg Ok");
    EXPECT_EQ(Slurp(file), ReaderBytes());
    EXPECT_EQ(watch.periods, (std::vector<uint32_t>{0, POLL_PERIOD_MS}));
    EXPECT_EQ(Log().serial, "53");
}

TEST_F(SettingsOpsTest, LoadFailuresChangeNoControl) {
    const std::string bytes = [] {
        protocol::ConfigReadImage image{};
        image[17] = protocol::OPT_BEEP_OFF;
        return std::string(image.begin(), image.end());
    }();
    std::ofstream(m_dir / "short.cfg", std::ios::binary) << bytes.substr(0, 55);
    fs::create_directory(m_dir / "folder.cfg");
    struct Case {
        std::string com;
        std::optional<std::string> answer;
        std::string text;  // "" = no text shown
        size_t dialogs;
    } cases[] = {
        {"1", (m_dir / "short.cfg").string(), "Open Setup.cfg File Error", 1},
        {"1", (m_dir / "folder.cfg").string(), "Open Setup.cfg File Error", 1},
        {"1", (m_dir / "missing.cfg").string(), "Open Setup.cfg File Error", 1},
        {"1", std::nullopt, "", 1},
        {"1", std::string(), "", 1},
        {"", (m_dir / "short.cfg").string(), "please setup Serial number", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.value_or("cancel"));
        m_dlg.UserClick(IDC_SERIAL_PORT);
        m_dlg.UserType(IDC_COM, c.com);
        m_dlg.ShowStatus("");
        m_host.fileDialogs.clear();
        m_host.fileAnswers = {c.answer};
        const auto before = Snapshot(m_dlg);
        m_dlg.UserClick(IDC_LOAD_FILE);
        EXPECT_EQ(TestBox(), c.text);
        EXPECT_EQ(m_host.fileDialogs.size(), c.dialogs);
        EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{});
    }
}

TEST_F(SettingsOpsTest, LoadTakesTheFirst56BytesOfALongerFile) {
    protocol::ConfigReadImage image{};
    image[0] = 1;      // track 1 on only
    image[3] = '%';    // start sentinel of track 1
    image[17] = 0x0C;  // beep off, trimming
    image[48] = 7;     // spaces kept
    image[13] = 0xAB;  // not interpreted
    std::string bytes(image.begin(), image.end());
    bytes += std::string(20, '\x01');
    const fs::path file = m_dir / "long.cfg";
    std::ofstream(file, std::ios::binary) << bytes;
    m_host.fileAnswers.push_back(file.string());
    g_strReceived = "old";
    m_dlg.UserClick(IDC_LOAD_FILE);
    EXPECT_EQ(TestBox(), "Load setting ok!");
    EXPECT_EQ(g_strReceived, "");
    EXPECT_TRUE(m_dlg.IsChecked(IDC_OUTPUT_TRACK1));
    EXPECT_FALSE(m_dlg.IsChecked(IDC_OUTPUT_TRACK2));
    EXPECT_TRUE(m_dlg.IsChecked(IDC_BEEP_OFF));
    EXPECT_EQ(m_dlg.GetText(IDC_TRIM_COUNT), "7");
    EXPECT_TRUE(m_dlg.IsChecked(IDC_DISABLE_ES));
}

// After a load in serial mode the poll stays stopped: bytes wait at the port until an
// operation starts it again.
TEST_F(SettingsOpsTest, LoadLeavesThePollStopped) {
    const fs::path file = m_dir / "zero.cfg";
    std::ofstream(file, std::ios::binary) << std::string(56, '\0');
    UseSerial("1");
    m_dlg.UserClick(IDC_OPEN);
    m_host.fileAnswers.push_back(file.string());
    m_dlg.UserClick(IDC_LOAD_FILE);
    EXPECT_EQ(TestBox(), "Load setting ok!");
    EXPECT_EQ(m_dlg.TimerPeriod(), 0u);
    Sim("send 41 42");
    Ticks(5);
    EXPECT_EQ(TestBox(), "Load setting ok!");
    m_dlg.UserClick(IDC_OPEN);
    Ticks(5);
    EXPECT_EQ(g_strReceived, "AB");
}

}  // namespace
}  // namespace optest
