// POSIX file access for the settings file, and for any small file saved the same way.
//
// A save opens the path exactly as given (creating it, as an open for writing would), so
// the kernel's rules for symbolic links and permissions decide whether it may be written,
// and from then on works only on what it opened:
// - a file that can be replaced without anyone noticing (a single name, no extended
//   attributes, and a new file beside it can take its owner, group and mode) is replaced
//   atomically: a short-named sibling, flushed, renamed over it, the folder flushed;
// - anything else, and any replacement that stops half-way (no room, no inode, a refused
//   rename), is rewritten in place: the new bytes over the old ones, flushed, and only then
//   cut to length. When that write fails, the old leading bytes and length are put back.
#include "settings_file/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now and tells whether the close succeeded (it can report a failed write).
    bool Reset(int fd = -1) {
        int old = m_fd;
        m_fd = fd;
        return old < 0 || ::close(old) == 0;
    }

private:
    int m_fd;
};

bool WriteAllAt(int fd, const char* data, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// Up to `want` bytes from the start of the file; false on a read error.
bool ReadPrefix(int fd, size_t want, std::string* out) {
    out->assign(want, '\0');
    size_t got = 0;
    while (got < want) {
        ssize_t n = ::pread(fd, out->data() + got, want - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out->resize(got);
    return true;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The new bytes over the old ones, flushed, then the file cut to their length: until the
// bytes are in, the file never gets shorter. A failed write puts back the old length and
// the old bytes it overwrote (when the file could be read).
bool RewriteInPlace(int fd, const struct stat& st, bool canRead, const std::string& bytes) {
    std::string old;
    const size_t overwritten = std::min(static_cast<size_t>(st.st_size), bytes.size());
    const bool haveOld = canRead && ReadPrefix(fd, overwritten, &old);
    if (WriteAllAt(fd, bytes.data(), bytes.size(), 0) && ::fsync(fd) == 0 &&
        ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0)
        return true;
    const bool bytesBack = haveOld && WriteAllAt(fd, old.data(), old.size(), 0);
    if (::ftruncate(fd, st.st_size) == 0 && bytesBack) ::fsync(fd);
    return false;
}

// A fresh file in `dir` with a short name of its own, whatever the length of the name it
// will replace (names near the 255-byte limit must save too).
Fd CreateSibling(int dir, std::string* name) {
    static std::atomic<unsigned> counter{0};
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned salt = static_cast<unsigned>(::getpid()) * 2654435761u ^
                              static_cast<unsigned>(now.tv_nsec) ^ (counter++ * 40503u);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, ".zarn60-%08x", salt);
        *name = buffer;
        int fd =
            ::openat(dir, name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return Fd(fd);
        if (errno != EEXIST) break;
    }
    name->clear();
    return Fd();
}

// Whether renaming a new file over the open one would keep everything about it but its
// bytes: the folder entry is that very file (not a symbolic link to it), it has no other
// name and no extended attributes (ACLs, labels) a new file would lack.
bool Replaceable(int dir, const std::string& name, int fd, const struct stat& st) {
    struct stat entry {};
    if (::fstatat(dir, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISREG(entry.st_mode) || !SameFile(entry, st) || st.st_nlink != 1) return false;
    return ::flistxattr(fd, nullptr, 0) <= 0;
}

// Writes the bytes to a sibling that takes the file's owner, group and mode, and renames
// it over the file. False, with nothing changed, when any step fails.
bool ReplaceBeside(int dir, const std::string& name, const struct stat& st,
                   const std::string& bytes) {
    std::string temp;
    Fd fd = CreateSibling(dir, &temp);
    if (!fd.Valid()) return false;
    // Owner first: a change of owner clears the set-id bits that the mode then restores.
    // Where the new file cannot take all three, the caller rewrites in place instead.
    struct stat fresh {};
    bool ok = ::fstat(fd.Get(), &fresh) == 0;
    if (ok && (fresh.st_uid != st.st_uid || fresh.st_gid != st.st_gid))
        ok = ::fchown(fd.Get(), st.st_uid, st.st_gid) == 0;
    ok = ok && ::fchmod(fd.Get(), st.st_mode & 07777) == 0;
    ok = ok && ::fstat(fd.Get(), &fresh) == 0 && fresh.st_uid == st.st_uid &&
         fresh.st_gid == st.st_gid && (fresh.st_mode & 07777) == (st.st_mode & 07777);
    ok = ok && WriteAllAt(fd.Get(), bytes.data(), bytes.size(), 0);
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Reset() && ok;
    ok = ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dir, temp.c_str(), 0);
        return false;
    }
    ::fsync(dir);
    return true;
}

}  // namespace

bool WriteFileSafely(const std::string& path, const std::string& bytes) {
    if (path.empty()) return false;
    // Only a regular file, or nothing yet, is ever opened: opening a device or a FIFO can
    // act on it (a serial port's control lines) or block.
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    if (existed ? !S_ISREG(before.st_mode) : errno != ENOENT) return false;

    const int flags = O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool canRead = true;
    Fd fd(::open(path.c_str(), O_RDWR | flags, 0666));
    if (!fd.Valid() && errno == EACCES) {
        canRead = false;  // a write-only file: writable, but its old bytes cannot be kept
        fd.Reset(::open(path.c_str(), O_WRONLY | flags, 0666));
    }
    if (!fd.Valid()) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    const std::string name = NameOf(path);
    Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const bool created = !existed && st.st_size == 0 && st.st_uid == ::geteuid();
    if (st.st_size > 0 && dir.Valid() && Replaceable(dir.Get(), name, fd.Get(), st) &&
        ReplaceBeside(dir.Get(), name, st, bytes))
        return true;
    if (RewriteInPlace(fd.Get(), st, canRead, bytes)) {
        if (created && dir.Valid()) ::fsync(dir.Get());  // the new name, too
        return fd.Reset();
    }
    if (created) {
        // Leave no half-written new file: remove the name when it still is this file,
        // otherwise (a target created through a link) empty the file again.
        struct stat entry {};
        if (dir.Valid() && ::fstatat(dir.Get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(entry.st_mode) && SameFile(entry, st))
            ::unlinkat(dir.Get(), name.c_str(), 0);
        else
            ::ftruncate(fd.Get(), 0);
    }
    return false;
}

bool WriteSettingsFile(const std::string& path, const ConfigReadImage& image) {
    return WriteFileSafely(path, std::string(image.begin(), image.end()));
}

bool ReadSettingsFile(const std::string& path, ConfigReadImage& image) {
    if (path.empty()) return false;
    // Refuse anything but a regular file before opening it: opening a terminal for reading
    // and writing can raise a serial port's control lines. The open still gets O_NOCTTY
    // (never our controlling terminal) and O_NONBLOCK (a FIFO swapped in cannot hang us),
    // and what it opened is checked again.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
    // Read and write access, as the file was always opened: a file that cannot be written
    // cannot be loaded.
    Fd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !SameFile(st, before)) return false;

    ConfigReadImage bytes{};
    std::string got;
    if (!ReadPrefix(fd.Get(), bytes.size(), &got) || got.size() < bytes.size()) return false;
    std::copy(got.begin(), got.end(), bytes.begin());
    image = bytes;
    return true;
}
