// Saving and loading as several users on one machine, and where the disk is full: the
// kernel's link protection holds, a file keeps its owner, group, mode and other names, a
// failed save loses nothing, and a load never opens what is not a regular file. The cases
// that switch users or mount a file system run as root and are skipped elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "../base/fifo_watch.h"
#include "../support/temp_dir.h"
#include "file_helpers.h"
#include "settings_file/settings_file.h"

namespace fs = std::filesystem;
using namespace settingstest;
using testsupport::Slurp;

#define SKIP_UNLESS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as several users"

namespace {

void Own(const fs::path& p, uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(::lchown(p.c_str(), uid, gid), 0) << p;
    if (!fs::is_symlink(p)) {
        ASSERT_EQ(::chmod(p.c_str(), mode), 0) << p;
    }
}

struct stat Stat(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

class SafeSaveTest : public testsupport::WithTempDir<> {
protected:
    void SetUp() override {
        WithTempDir::SetUp();
        // Other users must reach the folders made inside.
        ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
    }
    fs::path Folder(const char* name, uid_t uid, gid_t gid, mode_t mode) {
        const fs::path p = m_dir / name;
        fs::create_directory(p);
        Own(p, uid, gid, mode);
        return p;
    }
};

// Turns the kernel's protection of links in sticky world-writable folders on for one test
// where it is off (and puts the setting back), or tells why it cannot.
class ProtectedSymlinks {
public:
    ProtectedSymlinks() {
        std::ifstream in(PATH);
        if (!(in >> m_was)) return;
        if (m_was == 0) {
            std::ofstream out(PATH);
            if (!(out << 1 << std::flush)) return;
        }
        std::ifstream again(PATH);
        int now = 0;
        m_on = (again >> now) && now != 0;
    }
    ~ProtectedSymlinks() {
        if (m_on && m_was == 0) std::ofstream(PATH) << 0;
    }
    bool On() const { return m_on; }

private:
    static constexpr const char* PATH = "/proc/sys/fs/protected_symlinks";
    int m_was = -1;
    bool m_on = false;
};

// A link planted by another user in a shared sticky folder is not followed: not by the
// user whose file it points to, not by root.
TEST_F(SafeSaveTest, ALinkPlantedByAnotherUserInAStickyFolderIsNotFollowed) {
    SKIP_UNLESS_ROOT();
    ProtectedSymlinks protection;
    if (!protection.On()) GTEST_SKIP() << "fs.protected_symlinks is off and cannot be set";
    const fs::path shared = Folder("shared", 0, 0, 01777);
    const fs::path home = Folder("home", USER_A, USER_A, 0700);
    const fs::path important = home / "important.txt";
    Spit(important, "precious");
    Own(important, USER_A, USER_A, 0600);
    const fs::path link = shared / "setup.cfg";
    ASSERT_EQ(AsUser(USER_B, false, [&] { return ::symlink(important.c_str(), link.c_str()); }), 0);

    EXPECT_EQ(AsUser(USER_A, false,
                     [&] { return settings_file::WriteSettingsFile(link, Pattern(1)) ? 1 : 0; }),
              0);
    EXPECT_FALSE(settings_file::WriteSettingsFile(link, Pattern(2))) << "as root";
    EXPECT_EQ(Slurp(important), "precious");
    EXPECT_EQ(Stat(important).st_uid, USER_A);
    EXPECT_TRUE(fs::is_symlink(link));

    // Nor is a planted link to a file that does not exist yet: its target is not created.
    const fs::path wanted = home / "new.cfg";
    const fs::path dangling = shared / "new.cfg";
    ASSERT_EQ(AsUser(USER_B, false, [&] { return ::symlink(wanted.c_str(), dangling.c_str()); }),
              0);
    EXPECT_EQ(
        AsUser(USER_A, false,
               [&] { return settings_file::WriteSettingsFile(dangling, Pattern(1)) ? 1 : 0; }),
        0);
    EXPECT_FALSE(settings_file::WriteSettingsFile(dangling, Pattern(2))) << "as root";
    EXPECT_FALSE(fs::exists(wanted));
}

// Saving over a file that a rename would take from its owner, its group, its mode or its
// other names: the save succeeds, in the same file.
TEST_F(SafeSaveTest, AnotherUsersOrAHardLinkedFileIsWrittenInPlace) {
    SKIP_UNLESS_ROOT();
    struct Case {
        const char* what;
        uid_t folderOwner;
        mode_t folderMode;
        uid_t fileOwner;
        gid_t fileGroup;
        mode_t fileMode;
        bool secondLink;
    } cases[] = {
        {"a group member's 0660 file in a group folder", 0, 0775, USER_B, SHARED_GROUP, 0660,
         false},
        {"another user's 0666 file in their sticky folder", USER_B, 01777, USER_B, USER_B, 0666,
         false},
        {"an own file with a second name", USER_A, 0755, USER_A, USER_A, 0640, true},
        {"an own file in a folder the user may not write", 0, 0755, USER_A, USER_A, 0644, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_dir / "f");
        const fs::path folder = Folder("f", c.folderOwner, SHARED_GROUP, c.folderMode);
        const fs::path file = folder / "Setup.cfg";
        const fs::path other = folder / "other.cfg";
        Spit(file, std::string(100, 'o'));
        Own(file, c.fileOwner, c.fileGroup, c.fileMode);
        if (c.secondLink) fs::create_hard_link(file, other);
        const struct stat before = Stat(file);

        EXPECT_EQ(
            AsUser(USER_A, true,
                   [&] { return settings_file::WriteSettingsFile(file, Pattern(7)) ? 0 : 1; }),
            0);
        const struct stat after = Stat(file);
        EXPECT_EQ(Slurp(file), AsString(Pattern(7)));
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, c.fileOwner);
        EXPECT_EQ(after.st_gid, c.fileGroup);
        EXPECT_EQ(after.st_mode & 07777, c.fileMode);
        if (c.secondLink) {
            EXPECT_EQ(Slurp(other), AsString(Pattern(7)));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
                  c.secondLink ? 2 : 1)
            << "a temporary file was left behind";
    }
}

// The user may write the file but not its folder, and the write stops half-way (a file
// size limit): the save fails and the file keeps its bytes and its length (only its length
// when the user may write it but not read it).
TEST_F(SafeSaveTest, AFailedInPlaceSaveKeepsTheOldBytesAndLength) {
    SKIP_UNLESS_ROOT();
    const fs::path folder = Folder("locked", 0, 0, 0755);
    struct Case {
        size_t oldSize;
        rlim_t limit;
        mode_t mode;
    } cases[] = {{300, 10, 0644}, {30, 40, 0644}, {0, 10, 0644}, {300, 10, 0200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oldSize);
        const fs::path file = folder / "Setup.cfg";
        std::string old(c.oldSize, '\0');
        for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>('a' + i % 26);
        Spit(file, old);
        Own(file, USER_A, USER_A, c.mode);
        EXPECT_EQ(AsUser(USER_A, false,
                         [&] {
                             std::signal(SIGXFSZ, SIG_IGN);
                             const struct rlimit limit { c.limit, c.limit };
                             if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
                             return settings_file::WriteSettingsFile(file, Pattern(9)) ? 1 : 0;
                         }),
                  0)
            << "the save must report the failure";
        if (c.mode & 0400) {
            EXPECT_EQ(Slurp(file), old);
        } else {
            EXPECT_EQ(fs::file_size(file), old.size());
        }
    }
}

// Where no new file can be made beside the old one (a full disk, no free inodes) or the
// rename is refused (the file is a mount point), an existing file is still saved, in place.
// The file system is a small tmpfs in a private mount namespace.
TEST_F(SafeSaveTest, AFullDiskNoFreeInodeOrARefusedRenameStillSavesAnExistingFile) {
    SKIP_UNLESS_ROOT();
    const fs::path mountDir = m_dir / "mnt";
    fs::create_directory(mountDir);
    enum Obstacle { FULL_DISK, NO_INODE, MOUNTED_FILE };
    for (const Obstacle obstacle : {FULL_DISK, NO_INODE, MOUNTED_FILE}) {
        SCOPED_TRACE(obstacle == FULL_DISK  ? "full disk"
                     : obstacle == NO_INODE ? "no free inode"
                                            : "mounted file");
        const int status = InChild([&] {
            if (::unshare(CLONE_NEWNS) != 0) return 10;
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 10;
            if (::mount("zarn60", mountDir.c_str(), "tmpfs", 0,
                        obstacle == NO_INODE ? "nr_inodes=16" : "size=64k") != 0)
                return 10;
            const fs::path file = mountDir / "Setup.cfg";
            Spit(file, std::string(100, 'o'));
            if (obstacle == MOUNTED_FILE) {
                const fs::path other = mountDir / "other.cfg";
                Spit(other, std::string(100, 'p'));
                if (::mount(other.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) != 0) return 10;
            }
            // Take what the file system has left: every inode, or every block.
            const std::string page(4096, 'x');
            for (int i = 0; obstacle != MOUNTED_FILE && i < 100; ++i) {
                const fs::path filler = mountDir / ("fill" + std::to_string(i));
                const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                if (fd < 0) break;
                while (obstacle == FULL_DISK && ::write(fd, page.data(), page.size()) > 0) {
                }
                ::close(fd);
                if (obstacle == FULL_DISK) break;
            }
            if (!settings_file::WriteSettingsFile(file, Pattern(4))) return 1;
            return Slurp(file) == AsString(Pattern(4)) ? 0 : 2;
        });
        if (status == 10) GTEST_SKIP() << "no private tmpfs or bind mount possible here";
        EXPECT_EQ(status, 0);
    }
}

// Names near the 255-byte limit save and load, new or over an existing file.
TEST_F(SafeSaveTest, NamesUpToTheLongestAllowedSave) {
    for (const size_t length : {243u, 250u, 255u}) {
        const fs::path file = m_dir / (std::string(length - 4, 'n') + ".cfg");
        for (const uint8_t seed : {1, 2}) {  // new, then over the existing file
            ASSERT_TRUE(settings_file::WriteSettingsFile(file, Pattern(seed))) << length;
            protocol::ConfigReadImage back{};
            ASSERT_TRUE(settings_file::ReadSettingsFile(file, back)) << length;
            EXPECT_EQ(back, Pattern(seed));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
        fs::remove(file);
    }
}

// A dangling link of the user's own: the save creates its target, as opening it would,
// and keeps the link; where the target cannot be created the save fails and the link stays.
TEST_F(SafeSaveTest, ADanglingLinkGetsItsTargetCreated) {
    struct Case {
        const char* target;
        bool saves;
    } cases[] = {{"made.cfg", true}, {"no/such/folder.cfg", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const fs::path link = m_dir / "link.cfg";
        fs::remove(link);
        fs::create_symlink(m_dir / c.target, link);
        EXPECT_EQ(settings_file::WriteSettingsFile(link, Pattern(6)), c.saves);
        EXPECT_TRUE(fs::is_symlink(link));
        if (c.saves) {
            EXPECT_EQ(Slurp(m_dir / c.target), AsString(Pattern(6)));
        }
    }
}

// Neither a load nor a save opens what is not a regular file: a terminal, a device node,
// a FIFO or a folder is refused without an open (watched with inotify), and a terminal
// never becomes the controlling terminal of a process that has none.
TEST_F(SafeSaveTest, NothingButARegularFileIsEverOpened) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    const fs::path fifo = m_dir / "fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const fs::path folder = m_dir / "folder.cfg";
    fs::create_directory(folder);
    const fs::path device = m_dir / "null.cfg";
    const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    const fs::path linkToTerminal = m_dir / "tty.cfg";
    fs::create_symlink(terminal, linkToTerminal);

    for (const fs::path& path : {fs::path(terminal), linkToTerminal, fifo, folder, device}) {
        if (path == device && !haveDevice) continue;
        SCOPED_TRACE(path);
        const int status = InChild([&] {
            if (::setsid() < 0) return 20;
            const int watch = ::inotify_init1(IN_NONBLOCK);
            if (watch < 0 || ::inotify_add_watch(watch, path.c_str(), IN_OPEN) < 0) return 20;
            protocol::ConfigReadImage image{};
            if (settings_file::ReadSettingsFile(path, image)) return 1;
            if (settings_file::WriteSettingsFile(path, image)) return 2;
            char events[4096];
            if (::read(watch, events, sizeof events) > 0) return 3;
            if (::open("/dev/tty", O_RDWR | O_NOCTTY) >= 0) return 4;
            return 0;
        });
        EXPECT_EQ(status, 0) << "1 loaded, 2 saved, 3 opened, 4 became the terminal";
    }
    ::close(master);
}

// Every extended attribute of a file, ACLs included, by name.
std::map<std::string, std::string> Xattrs(const fs::path& p) {
    std::map<std::string, std::string> all;
    std::string names(4096, '\0');
    const ssize_t n = ::llistxattr(p.c_str(), names.data(), names.size());
    if (n < 0) return all;
    names.resize(static_cast<size_t>(n));
    for (size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        std::string value(4096, '\0');
        const ssize_t got = ::lgetxattr(p.c_str(), name.c_str(), value.data(), value.size());
        value.resize(got < 0 ? 0 : static_cast<size_t>(got));
        all[name] = value;
    }
    return all;
}

// A POSIX ACL as the kernel stores it in system.posix_acl_*: a version, then (tag, perm, id)
// entries in order. `named` is one named user's permissions (0 for none).
std::string Acl(int owner, int namedUser, uid_t uid, int group, int mask, int other) {
    std::string acl;
    auto put = [&acl](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) acl += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    auto entry = [&](uint16_t tag, int perm, uint32_t id) {
        put(tag, 2);
        put(static_cast<uint32_t>(perm), 2);
        put(id, 4);
    };
    put(2, 4);
    entry(0x01, owner, 0xFFFFFFFF);
    if (namedUser) entry(0x02, namedUser, uid);
    entry(0x04, group, 0xFFFFFFFF);
    if (namedUser) entry(0x10, mask, 0xFFFFFFFF);
    entry(0x20, other, 0xFFFFFFFF);
    return acl;
}

// A save keeps the file's permissions exactly: its mode, its ACL or the absence of one, and
// its extended attributes, also in a folder whose default ACL would give a new file another
// user's access.
TEST_F(SafeSaveTest, ASavedFileKeepsItsModeAclAndAttributesExactly) {
    const std::string grantsB = Acl(6, 6, USER_B, 6, 6, 0);
    struct Case {
        const char* what;
        bool folderDefaultAcl;
        mode_t mode;
        std::string fileAcl;  // empty: none
        std::string userXattr;
    } cases[] = {
        {"no ACL, folder default grants another user", true, 0660, "", ""},
        {"own ACL, folder default grants another user", true, 0640, Acl(6, 4, USER_B, 4, 4, 0), ""},
        {"own ACL, no folder default", false, 0640, Acl(6, 4, USER_B, 4, 4, 0), ""},
        {"a user attribute", false, 0600, "", "kept"},
        {"a user attribute, folder default grants another user", true, 0644, "", "kept"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = m_dir / std::to_string(n++);
        fs::create_directory(folder);
        if (c.folderDefaultAcl && ::setxattr(folder.c_str(), "system.posix_acl_default",
                                             grantsB.data(), grantsB.size(), 0) != 0)
            GTEST_SKIP() << "no POSIX ACLs on this file system: " << std::strerror(errno);
        const fs::path file = folder / "Setup.cfg";
        Spit(file, std::string(100, 'o'));
        ::removexattr(file.c_str(), "system.posix_acl_access");  // what the folder gave it
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        if (!c.fileAcl.empty()) {
            ASSERT_EQ(::setxattr(file.c_str(), "system.posix_acl_access", c.fileAcl.data(),
                                 c.fileAcl.size(), 0),
                      0);
        }
        if (!c.userXattr.empty() &&
            ::setxattr(file.c_str(), "user.note", c.userXattr.data(), c.userXattr.size(), 0) != 0)
            GTEST_SKIP() << "no user attributes on this file system: " << std::strerror(errno);
        const auto before = Xattrs(file);
        const mode_t mode = Stat(file).st_mode & 07777;

        ASSERT_TRUE(settings_file::WriteSettingsFile(file, Pattern(8)));
        EXPECT_EQ(Slurp(file), AsString(Pattern(8)));
        EXPECT_EQ(Stat(file).st_mode & 07777, mode);
        EXPECT_EQ(Xattrs(file), before) << "the file's ACL or attributes changed";
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
            << "a temporary file was left behind";
    }
}

// A name swapped back and forth between a regular file and a link to a FIFO while it is
// loaded and saved: the name is looked up once, so the FIFO is never opened (inotify would
// report it), whatever the timing.
TEST_F(SafeSaveTest, ANameSwappedToAFifoIsNeverOpenedByALoadOrASave) {
    const fs::path fifo = m_dir / "fifo";
    const fs::path regular = m_dir / "regular";
    const fs::path name = m_dir / "Setup.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    Spit(regular, AsString(Pattern(1)));
    ASSERT_EQ(::link(regular.c_str(), name.c_str()), 0);
    basetest::OpenWatch watch(fifo.string());
    ASSERT_TRUE(watch.Valid());

    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const fs::path a = m_dir / "a", b = m_dir / "b";
        while (!stop) {
            ::symlink("fifo", b.c_str());
            ::rename(b.c_str(), name.c_str());  // the link to the FIFO
            ::link(regular.c_str(), a.c_str());
            ::rename(a.c_str(), name.c_str());  // the regular file again
        }
    });
    int refused = 0;
    for (int i = 0; i < 3000; ++i) {
        protocol::ConfigReadImage image{};
        if (!settings_file::ReadSettingsFile(name, image)) ++refused;
        if (!settings_file::WriteSettingsFile(name, Pattern(static_cast<uint8_t>(i)))) ++refused;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(watch.Opens(), 0) << "the FIFO was opened (" << refused << " of 6000 refused)";
}

}  // namespace
