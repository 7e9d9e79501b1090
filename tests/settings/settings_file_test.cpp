// The .cfg file format on real files: exactly 56 bytes, the first 56 of a longer file, a
// file that cannot be written cannot be loaded, and a failed save keeps the old file.
#include "settings_file/settings_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "../support/temp_dir.h"
#include "file_helpers.h"

namespace fs = std::filesystem;

namespace {

using settingstest::AsString;
using settingstest::InChild;
using settingstest::Pattern;
using settingstest::Spit;
using testsupport::Slurp;

class SettingsFileTest : public testsupport::WithTempDir<> {
protected:
    // Everything in the folder but the named files: leftovers of a save.
    int OtherEntries(std::initializer_list<std::string> expected) {
        int n = 0;
        for (const auto& e : fs::directory_iterator(m_dir)) {
            bool known = false;
            for (const auto& name : expected) known = known || e.path().filename() == name;
            if (!known) ++n;
        }
        return n;
    }
};

TEST_F(SettingsFileTest, SavedFileHoldsExactlyTheImageAndLoadsBack) {
    const fs::path file = m_dir / "Setup.cfg";
    const protocol::ConfigReadImage image = Pattern(0x11);
    ASSERT_TRUE(settings_file::WriteSettingsFile(file.string(), image));
    EXPECT_EQ(Slurp(file), AsString(image));

    protocol::ConfigReadImage loaded{};
    ASSERT_TRUE(settings_file::ReadSettingsFile(file.string(), loaded));
    EXPECT_EQ(loaded, image);
    EXPECT_EQ(OtherEntries({"Setup.cfg"}), 0);
}

TEST_F(SettingsFileTest, SavingOverALongerFileReplacesItWithExactly56BytesAndItsPermissions) {
    const fs::path file = m_dir / "old.cfg";
    Spit(file, std::string(300, 'z'));
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const ino_t old = st.st_ino;
    ASSERT_TRUE(settings_file::WriteSettingsFile(file.string(), Pattern(3)));
    EXPECT_EQ(Slurp(file), AsString(Pattern(3)));
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(st.st_ino, old) << "an own file with one name is replaced whole, by a rename";
    EXPECT_EQ(OtherEntries({"old.cfg"}), 0);
}

TEST_F(SettingsFileTest, LoadTakesTheFirst56BytesAndRefusesFewer) {
    const std::string bytes = AsString(Pattern(0x40));
    struct Case {
        std::string content;
        bool loads;
    } cases[] = {
        {bytes.substr(0, 55), false},
        {bytes, true},
        {bytes + "\x01", true},
        {bytes + std::string(1000, '\xFF'), true},
        {"", false},
        {std::string(56, '\0'), true},
    };
    for (const auto& c : cases) {
        const fs::path file = m_dir / "case.cfg";
        Spit(file, c.content);
        protocol::ConfigReadImage image = Pattern(0x99);
        const protocol::ConfigReadImage before = image;
        EXPECT_EQ(settings_file::ReadSettingsFile(file.string(), image), c.loads)
            << c.content.size();
        if (c.loads)
            EXPECT_EQ(AsString(image), c.content.substr(0, 56)) << c.content.size();
        else
            EXPECT_EQ(image, before) << "a refused file must leave the image alone";
    }
}

TEST_F(SettingsFileTest, PathsThatAreNotWritableFilesFail) {
    protocol::ConfigReadImage image{};
    EXPECT_FALSE(settings_file::WriteSettingsFile("", image));
    EXPECT_FALSE(settings_file::ReadSettingsFile("", image));
    // A folder can be opened neither for writing nor as a file to replace.
    EXPECT_FALSE(settings_file::WriteSettingsFile(m_dir.string(), image));
    EXPECT_FALSE(settings_file::ReadSettingsFile(m_dir.string(), image));
    EXPECT_TRUE(fs::is_directory(m_dir));
    // A missing folder or a missing file.
    EXPECT_FALSE(settings_file::WriteSettingsFile((m_dir / "no" / "such.cfg").string(), image));
    EXPECT_FALSE(settings_file::ReadSettingsFile((m_dir / "missing.cfg").string(), image));
}

TEST_F(SettingsFileTest, SavingThroughASymlinkReplacesItsTarget) {
    const fs::path target = m_dir / "real.cfg";
    const fs::path link = m_dir / "link.cfg";
    Spit(target, "old");
    fs::create_symlink(target, link);
    ASSERT_TRUE(settings_file::WriteSettingsFile(link.string(), Pattern(5)));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Slurp(target), AsString(Pattern(5)));
}

// The save stops half-way or at its first byte (the file size limit lets 20 bytes or none
// through), with SIGXFSZ ignored or left to end the process: the save fails and says so, the
// process lives on with SIGXFSZ neither blocked nor pending, the file it was replacing is
// unchanged, a file it was creating is gone, and no temporary file is left behind.
TEST_F(SettingsFileTest, ASaveStoppedByTheFileSizeLimitFailsAndKeepsTheOldFile) {
    struct Case {
        const char* what;
        rlim_t limit;
        bool ignoreSignal;
        bool existing;
    } cases[] = {
        {"half-way, signal ignored", 20, true, true},
        {"half-way, signal default", 20, false, true},
        {"no byte, signal default", 0, false, true},
        {"new file, signal default", 0, false, false},
    };
    const std::string old = AsString(Pattern(0x20));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = m_dir / "keep.cfg";
        fs::remove(file);
        if (c.existing) Spit(file, old);
        const int status = InChild([&] {
            std::signal(SIGXFSZ, c.ignoreSignal ? SIG_IGN : SIG_DFL);
            struct rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = c.limit;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
            if (settings_file::WriteSettingsFile(file.string(), Pattern(0x70))) return 1;
            sigset_t blocked, pending;
            ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
            ::sigpending(&pending);
            if (sigismember(&blocked, SIGXFSZ) || sigismember(&pending, SIGXFSZ)) return 4;
            return 0;
        });
        EXPECT_EQ(status, 0) << "1 reported success, 4 SIGXFSZ left blocked or pending, -1 killed";
        if (c.existing) {
            EXPECT_EQ(Slurp(file), old);
            EXPECT_EQ(OtherEntries({"keep.cfg"}), 0) << "a temporary file was left behind";
        } else {
            EXPECT_EQ(OtherEntries({}), 0) << "the new file or a temporary file was left behind";
        }
    }
}

// A file that cannot be opened for writing can be neither loaded nor saved over. Root
// passes permission bits, so there the file lies on a read-only mount, made in a private
// mount namespace of a child process; elsewhere a read-only mode is enough.
TEST_F(SettingsFileTest, AFileThatCannotBeWrittenCannotBeLoaded) {
    const fs::path file = m_dir / "ro.cfg";
    const std::string bytes = AsString(Pattern(0x33));
    if (::geteuid() != 0) {
        Spit(file, bytes);
        ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
        protocol::ConfigReadImage image{};
        EXPECT_FALSE(settings_file::ReadSettingsFile(file.string(), image));
        EXPECT_FALSE(settings_file::WriteSettingsFile(file.string(), Pattern(1)));
        EXPECT_EQ(Slurp(file), bytes);
        return;
    }
    const fs::path mountDir = m_dir / "mnt";
    fs::create_directory(mountDir);
    const int status = InChild([&] {
        if (::unshare(CLONE_NEWNS) != 0) return 10;
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 10;
        if (::mount("zarn60", mountDir.c_str(), "tmpfs", 0, "size=64k") != 0) return 10;
        const fs::path inside = mountDir / "ro.cfg";
        Spit(inside, bytes);
        if (::mount(nullptr, mountDir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return 10;
        protocol::ConfigReadImage image{};
        if (settings_file::ReadSettingsFile(inside.string(), image)) return 1;
        if (settings_file::WriteSettingsFile(inside.string(), Pattern(1))) return 2;
        if (Slurp(inside) != bytes) return 3;
        return 0;
    });
    if (status == 10) GTEST_SKIP() << "no private read-only mount possible here";
    EXPECT_EQ(status, 0);
}

}  // namespace
