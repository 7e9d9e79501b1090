// ReadRegularFile and WriteFileSafely on every kind of thing a name can lead to: only
// regular files are read or saved, anything else is refused without being opened (inotify
// would see the open) and with its reason, and a name swapped under a running read never
// gets a FIFO opened.
#include "base/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "../settings/file_helpers.h"
#include "../support/temp_dir.h"
#include "fifo_watch.h"

namespace fs = std::filesystem;

namespace {

using settingstest::Spit;

class FileIoTest : public testsupport::WithTempDir<> {};

struct Case {
    const char* what;
    std::function<void(const fs::path& dir)> make;  // makes dir/"f"
    size_t maxBytes;
    bool ok;
    std::string bytes;  // when ok
    uint64_t size;      // when ok
    std::string error;  // when not ok
};

TEST_F(FileIoTest, ReadsRegularFilesAndRefusesEverythingElseByItsReason) {
    const std::string hundred(100, 'x');
    // Longer than one step of the growing read buffer, and with no two steps alike.
    std::string longText;
    for (int i = 0; i < 10000; ++i) longText += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    const Case cases[] = {
        {"short file", [](const fs::path& d) { Spit(d / "f", "abc"); }, 56, true, "abc", 3, ""},
        {"empty file", [](const fs::path& d) { Spit(d / "f", ""); }, 56, true, "", 0, ""},
        {"longer than asked", [&](const fs::path& d) { Spit(d / "f", hundred); }, 56, true,
         std::string(56, 'x'), 100, ""},
        {"nothing asked", [&](const fs::path& d) { Spit(d / "f", hundred); }, 0, true, "", 100, ""},
        {"long file, a large limit", [&](const fs::path& d) { Spit(d / "f", longText); }, 16u << 20,
         true, longText, 10000, ""},
        {"long file, cut between steps", [&](const fs::path& d) { Spit(d / "f", longText); }, 9000,
         true, longText.substr(0, 9000), 10000, ""},
        {"link to a file",
         [](const fs::path& d) {
             Spit(d / "t", "via link");
             fs::create_symlink("t", d / "f");
         },
         56, true, "via link", 8, ""},
        {"missing", [](const fs::path&) {}, 56, false, "", 0, "no such file"},
        {"dangling link", [](const fs::path& d) { fs::create_symlink("gone", d / "f"); }, 56, false,
         "", 0, "no such file"},
        {"folder", [](const fs::path& d) { fs::create_directory(d / "f"); }, 56, false, "", 0,
         "is a folder"},
        {"FIFO without a writer", [](const fs::path& d) { ::mkfifo((d / "f").c_str(), 0600); }, 56,
         false, "", 0, "not a regular file"},
        {"link to a FIFO",
         [](const fs::path& d) {
             ::mkfifo((d / "t").c_str(), 0600);
             fs::create_symlink("t", d / "f");
         },
         56, false, "", 0, "not a regular file"},
        {"character device", [](const fs::path& d) { fs::create_symlink("/dev/null", d / "f"); },
         56, false, "", 0, "not a regular file"},
        {"below a file", [](const fs::path& d) { Spit(d / "t", "x"); }, 56, false, "", 0,
         "not a directory"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = m_dir / std::to_string(n++);
        fs::create_directory(dir);
        c.make(dir);
        const fs::path path = std::string(c.what) == "below a file" ? dir / "t" / "f" : dir / "f";
        // Whatever the name leads to, when it exists, must not be opened unless regular.
        basetest::OpenWatch watch(path.string());
        std::string bytes = "stale", error;
        uint64_t size = 77;
        const bool ok =
            zarn::files::ReadRegularFile(path.string(), c.maxBytes, &bytes, &size, &error);
        EXPECT_EQ(ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes);
            EXPECT_EQ(size, c.size);
        } else {
            EXPECT_EQ(error, c.error);
            if (watch.Valid()) {
                EXPECT_EQ(watch.Opens(), 0) << "refused, but opened";
            }
        }
    }
}

TEST_F(FileIoTest, UnreadableFileIsPermissionDenied) {
    const fs::path file = m_dir / "secret";
    Spit(file, "x");
    ::chmod(file.c_str(), 0200);
    ::chmod(m_dir.c_str(), 0755);
    auto attempt = [&] {
        std::string bytes, error;
        uint64_t size = 0;
        return !zarn::files::ReadRegularFile(file.string(), 56, &bytes, &size, &error) &&
                       error == "permission denied"
                   ? 0
                   : 1;
    };
    if (::geteuid() == 0) {
        ::chown(file.c_str(), settingstest::USER_B, settingstest::USER_B);
        const int rc = settingstest::AsUser(settingstest::USER_A, false, attempt);
        if (rc == 125) GTEST_SKIP() << "cannot switch to another user here";
        EXPECT_EQ(rc, 0);
    } else {
        EXPECT_EQ(attempt(), 0);
    }
}

// A name swapped back and forth between a regular file and a link to a FIFO while it is
// read: a check of the name followed by an open of the name opens the FIFO whenever the
// swap falls between the two; deciding on the opened reference never does.
TEST_F(FileIoTest, NameSwappedToAFifoDuringReadsNeverOpensIt) {
    const fs::path fifo = m_dir / "fifo";
    const fs::path name = m_dir / "Setup.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Spit(m_dir / "regular", std::string(56, 'r'));
    fs::create_hard_link(m_dir / "regular", name);
    basetest::OpenWatch watch(fifo.string());
    ASSERT_TRUE(watch.Valid());

    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const fs::path a = m_dir / "a", b = m_dir / "b";
        const fs::path regular = m_dir / "regular";
        while (!stop) {
            ::symlink("fifo", b.c_str());
            ::rename(b.c_str(), name.c_str());  // now the link to the FIFO
            ::link(regular.c_str(), a.c_str());
            ::rename(a.c_str(), name.c_str());  // the regular file again
        }
    });
    int reads = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string bytes, error;
        uint64_t size = 0;
        if (zarn::files::ReadRegularFile(name.string(), 56, &bytes, &size, &error)) {
            ++reads;
            EXPECT_EQ(bytes, std::string(56, 'r'));
        } else {
            EXPECT_TRUE(error == "not a regular file" || error == "no such file") << error;
        }
    }
    stop = true;
    swapper.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(watch.Opens(), 0) << "the FIFO was opened";
}

// A refused save names its reason, opens nothing that is no regular file, and leaves the
// target as it was.
TEST_F(FileIoTest, ARefusedSaveSaysWhyAndChangesNothing) {
    struct SaveCase {
        const char* what;
        std::function<void(const fs::path& dir)> make;  // makes dir/"f"
        std::string path;                               // below dir
        std::string error;
    } cases[] = {
        {"folder", [](const fs::path& d) { fs::create_directory(d / "f"); }, "f", "is a folder"},
        {"FIFO", [](const fs::path& d) { ::mkfifo((d / "f").c_str(), 0600); }, "f",
         "not a regular file"},
        {"link to a device", [](const fs::path& d) { fs::create_symlink("/dev/null", d / "f"); },
         "f", "not a regular file"},
        {"missing folder", [](const fs::path&) {}, "no/f", "no such file"},
        {"empty path", [](const fs::path&) {}, "", "no such file"},
    };
    int n = 0;
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = m_dir / ("s" + std::to_string(n++));
        fs::create_directory(dir);
        c.make(dir);
        const std::string path = c.path.empty() ? "" : (dir / c.path).string();
        basetest::OpenWatch watch((dir / "f").string());
        std::string error;
        EXPECT_FALSE(zarn::files::WriteFileSafely(path, "bytes", &error));
        EXPECT_EQ(error, c.error);
        if (watch.Valid()) {
            EXPECT_EQ(watch.Opens(), 0) << "refused, but opened";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
                  fs::exists(fs::symlink_status(dir / "f")) ? 1 : 0)
            << "something was left in the folder";
    }
}

}  // namespace
