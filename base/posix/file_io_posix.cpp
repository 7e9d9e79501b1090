// POSIX file access.
//
// Opening: a name is opened first as a bare reference to whatever it leads to (O_PATH,
// which opens no device and never blocks), its type decided with fstat on that reference,
// and only a regular file is then opened for reading or writing, through the reference
// itself (/proc/self/fd/N), so that no second lookup of the name can land on another file.
// Where O_PATH or /proc is missing, the name is opened non-blocking and without becoming a
// controlling terminal, and its type decided on what was opened.
//
// Saving works only on what it opened:
// - an existing file that a sibling can stand in for without anyone noticing (a single
//   name, and a new file beside it can be given its owner, group, mode, ACL, extended
//   attributes and file flags, checked after they were set) is replaced atomically: the
//   sibling, flushed, renamed over it, the folder flushed;
// - anything else, and any replacement that stops half-way (no room, no inode, a refused
//   rename), is rewritten in place: the new bytes over the old ones, flushed, and only then
//   cut to length. When that write fails, the old leading bytes and length are put back.
// A missing file is created with O_EXCL, so that nothing but a new regular file is opened;
// a dangling symbolic link gets its target created the same way.
// SIGXFSZ is held back while a save runs: a write past the file size limit fails with
// EFBIG like any other failed write, and the save cleans up after itself.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "base/file_io.h"

namespace zarn::files {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset(other.m_fd);
            other.m_fd = -1;
        }
        return *this;
    }
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

// A reason code: an errno value, or NOT_REGULAR for something that is no regular file.
constexpr int NOT_REGULAR = -1;

std::string ReasonText(int code) {
    switch (code) {
        case NOT_REGULAR:
            return "not a regular file";
        case ENOENT:
            return "no such file";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EISDIR:
            return "is a folder";
        default: {
            std::string text = std::strerror(code);
            if (!text.empty())
                text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
            return text;
        }
    }
}

bool Fail(std::string* error, int code) {
    if (error) *error = ReasonText(code);
    return false;
}

int TypeReason(mode_t mode) {
    return S_ISDIR(mode) ? EISDIR : NOT_REGULAR;
}

// `path` opened with `access` (O_RDONLY, O_RDWR, O_WRONLY) when it is a regular file, with
// *st what the opened file is; otherwise invalid, with *code the reason. Nothing but a
// regular file is ever opened for reading or writing.
Fd OpenRegular(const std::string& path, int access, struct stat* st, int* code) {
    *code = 0;
#ifdef O_PATH
    Fd ref(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!ref.Valid() || ::fstat(ref.Get(), st) != 0) {
        *code = errno;
        return Fd();
    }
    if (!S_ISREG(st->st_mode)) {
        *code = TypeReason(st->st_mode);
        return Fd();
    }
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", ref.Get());
    // Non-blocking, so that a lease another program holds refuses the open instead of
    // holding it up; the flag is cleared below.
    Fd fd(::open(self, access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    const bool noProc = !fd.Valid() && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0;
    if (!noProc) {
        if (!fd.Valid()) {
            *code = errno;
            return Fd();
        }
        const int flags = ::fcntl(fd.Get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
            *code = errno;
            return Fd();
        }
        return fd;
    }
    const struct stat seen = *st;
#endif
    Fd opened(::open(path.c_str(), access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!opened.Valid() || ::fstat(opened.Get(), st) != 0) {
        *code = errno;
        return Fd();
    }
    if (!S_ISREG(st->st_mode)) {
        *code = TypeReason(st->st_mode);
        return Fd();
    }
#ifdef O_PATH
    if (st->st_dev != seen.st_dev || st->st_ino != seen.st_ino) {
        *code = NOT_REGULAR;
        return Fd();
    }
#endif
    const int flags = ::fcntl(opened.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *code = errno;
        return Fd();
    }
    return opened;
}

bool WriteAllAt(int fd, const char* data, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// Up to `want` bytes from the start of the file; false on a read error. The buffer grows
// with what is read, so a generous `want` costs a small file nothing.
bool ReadPrefix(int fd, size_t want, std::string* out) {
    out->clear();
    size_t got = 0;
    while (got < want) {
        if (got == out->size()) out->resize(std::min(want, std::max<size_t>(2 * got, 4096)));
        ssize_t n = ::pread(fd, out->data() + got, out->size() - got, static_cast<off_t>(got));
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

// Holds SIGXFSZ back on this thread while it lives, so that a write past the file size
// limit fails with EFBIG instead of ending the process; a SIGXFSZ raised meanwhile is
// dropped (it only reported a write that failed and was handled).
class NoFileSizeSignal {
public:
    NoFileSizeSignal() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
        sigset_t pending;
        m_wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    }
    ~NoFileSizeSignal() {
        sigset_t pending;
        if (!m_wasPending && sigismember(&m_old, SIGXFSZ) == 0 && sigpending(&pending) == 0 &&
            sigismember(&pending, SIGXFSZ) == 1) {
            const struct timespec noWait {};
            sigtimedwait(&m_set, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    NoFileSizeSignal(const NoFileSizeSignal&) = delete;
    NoFileSizeSignal& operator=(const NoFileSizeSignal&) = delete;

private:
    sigset_t m_set;
    sigset_t m_old;
    bool m_wasPending = false;
};

// The new bytes over the old ones, flushed, then the file cut to their length: until the
// bytes are in, the file never gets shorter. A failed write puts back the old length and
// the old bytes it overwrote (when the file could be read). *code says why it failed.
bool RewriteInPlace(int fd, const struct stat& st, bool canRead, const std::string& bytes,
                    int* code) {
    std::string old;
    const size_t overwritten = std::min(static_cast<size_t>(st.st_size), bytes.size());
    const bool haveOld = canRead && ReadPrefix(fd, overwritten, &old);
    if (WriteAllAt(fd, bytes.data(), bytes.size(), 0) && ::fsync(fd) == 0 &&
        ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0)
        return true;
    *code = errno;
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

using Xattrs = std::map<std::string, std::string>;

// Every extended attribute of the open file, ACLs included; false when they cannot all be
// read. A file system without extended attributes has none.
bool ReadXattrs(int fd, Xattrs* out) {
    out->clear();
    std::string names;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t n = ::flistxattr(fd, nullptr, 0);
        if (n < 0) return errno == ENOTSUP;
        names.assign(static_cast<size_t>(n), '\0');
        n = n > 0 ? ::flistxattr(fd, names.data(), names.size()) : 0;
        if (n < 0 && errno == ERANGE) continue;
        if (n < 0) return false;
        names.resize(static_cast<size_t>(n));
        break;
    }
    for (size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.empty()) continue;
        std::string value;
        bool read = false;
        for (int attempt = 0; attempt < 4 && !read; ++attempt) {
            ssize_t n = ::fgetxattr(fd, name.c_str(), nullptr, 0);
            if (n < 0) return false;
            value.assign(static_cast<size_t>(n), '\0');
            n = n > 0 ? ::fgetxattr(fd, name.c_str(), value.data(), value.size()) : 0;
            if (n < 0 && errno == ERANGE) continue;
            if (n < 0) return false;
            value.resize(static_cast<size_t>(n));
            read = true;
        }
        if (!read) return false;
        (*out)[name] = value;
    }
    return true;
}

// The flags chattr shows (no-dump, no-copy-on-write, ...); 0 where the file system has none.
int FileFlags(int fd) {
    int flags = 0;
#ifdef FS_IOC_GETFLAGS
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return 0;
    flags &= FS_FL_USER_VISIBLE;
#else
    (void)fd;
#endif
    return flags;
}

// Gives the fresh sibling `fd` the owner, group, mode, ACL, extended attributes and flags
// of the old file, and tells whether they now match exactly. A new file can inherit an ACL
// from its folder's default ACL or a label: what the old file lacks is removed.
bool MakeIdentical(int oldFd, const struct stat& st, int fd) {
    Xattrs want, have;
    if (!ReadXattrs(oldFd, &want) || !ReadXattrs(fd, &have)) return false;
    // Owner first: a change of owner clears the set-id bits that the mode then restores.
    struct stat fresh {};
    if (::fstat(fd, &fresh) != 0) return false;
    if ((fresh.st_uid != st.st_uid || fresh.st_gid != st.st_gid) &&
        ::fchown(fd, st.st_uid, st.st_gid) != 0)
        return false;
    for (const auto& [name, value] : have)
        if (!want.count(name) && ::fremovexattr(fd, name.c_str()) != 0) return false;
    for (const auto& [name, value] : want) {
        const auto it = have.find(name);
        if ((it == have.end() || it->second != value) &&
            ::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    // The mode last: with an ACL it sets the mask from the group bits, as the old file has.
    if (::fchmod(fd, st.st_mode & 07777) != 0) return false;
    if (::fstat(fd, &fresh) != 0 || !ReadXattrs(fd, &have)) return false;
    return fresh.st_uid == st.st_uid && fresh.st_gid == st.st_gid &&
           (fresh.st_mode & 07777) == (st.st_mode & 07777) && have == want &&
           FileFlags(fd) == FileFlags(oldFd);
}

// Writes the bytes to a sibling made identical to the file, and renames it over the file.
// False, with nothing changed and no sibling left, when any step fails.
bool ReplaceBeside(int dir, const std::string& name, int oldFd, const struct stat& st,
                   const std::string& bytes) {
    // The folder entry must be the file that was opened, not a link to it and not something
    // put there since; checked again just before the rename.
    struct stat entry {};
    const auto entryIsFile = [&] {
        return ::fstatat(dir, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(entry.st_mode) && SameFile(entry, st);
    };
    if (!entryIsFile()) return false;
    std::string temp;
    Fd fd = CreateSibling(dir, &temp);
    if (!fd.Valid()) return false;
    bool ok = MakeIdentical(oldFd, st, fd.Get());
    ok = ok && WriteAllAt(fd.Get(), bytes.data(), bytes.size(), 0);
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Reset() && ok;
    ok = ok && entryIsFile();
    ok = ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dir, temp.c_str(), 0);
        return false;
    }
    ::fsync(dir);
    return true;
}

// What a save writes to: the opened regular file, and the folder entry that names it.
struct Target {
    Fd fd;
    struct stat st {};
    bool canRead = true;
    bool created = false;
    Fd dir;            // the folder of `name`
    std::string name;  // the entry in `dir`: the path's own name, or what a link made
};

Fd OpenFolder(const std::string& path) {
    return Fd(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Opens the existing regular file at `path` for writing (and reading when allowed), or
// creates it with O_EXCL, following a dangling symbolic link to create its target.
bool OpenTarget(const std::string& path, Target* t, int* code) {
    std::string current = path;
    for (int step = 0; step < 40; ++step) {
        t->fd = OpenRegular(current, O_RDWR, &t->st, code);
        if (!t->fd.Valid() && *code == EACCES) {
            t->canRead = false;  // writable but not readable: the old bytes cannot be kept
            t->fd = OpenRegular(current, O_WRONLY, &t->st, code);
        }
        if (t->fd.Valid()) {
            t->dir = OpenFolder(path);
            t->name = NameOf(path);
            return true;
        }
        // The kernel already refused a link it will not follow (EACCES); only a missing
        // file, or a link to a missing file, is created.
        if (*code != ENOENT) return false;
        t->canRead = true;
        t->fd = Fd(::open(current.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (t->fd.Valid()) {
            if (::fstat(t->fd.Get(), &t->st) != 0) {
                *code = errno;
                return false;
            }
            t->created = true;
            t->dir = OpenFolder(current);
            t->name = NameOf(current);
            return true;
        }
        if (errno != EEXIST) {
            *code = errno;
            return false;
        }
        // The name exists now: either something appeared (look again), or it is a
        // dangling link, whose target is then created in the same way.
        char target[4096];
        const ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        current = target[0] == '/' ? std::string(target) : FolderOf(current) + "/" + target;
    }
    *code = ELOOP;
    return false;
}

}  // namespace

bool ReadRegularFile(const std::string& path, Access access, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    if (path.empty()) return Fail(error, ENOENT);
    struct stat st {};
    int code = 0;
    Fd fd = OpenRegular(path, access == Access::READ_WRITE ? O_RDWR : O_RDONLY, &st, &code);
    if (!fd.Valid()) return Fail(error, code);
    std::string got;
    if (!ReadPrefix(fd.Get(), maxBytes, &got)) return Fail(error, errno);
    if (bytes) *bytes = std::move(got);
    if (fileSize) *fileSize = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    return ReadRegularFile(path, Access::READ, maxBytes, bytes, fileSize, error);
}

bool WriteFileSafely(const std::string& path, const std::string& bytes, std::string* error) {
    if (path.empty()) return Fail(error, ENOENT);
    NoFileSizeSignal holdBack;
    Target t;
    int code = 0;
    if (!OpenTarget(path, &t, &code)) return Fail(error, code);

    if (!t.created && t.st.st_size > 0 && t.st.st_nlink == 1 && t.dir.Valid() &&
        ReplaceBeside(t.dir.Get(), t.name, t.fd.Get(), t.st, bytes))
        return true;
    if (RewriteInPlace(t.fd.Get(), t.st, t.canRead, bytes, &code)) {
        if (t.created && t.dir.Valid()) ::fsync(t.dir.Get());  // the new name, too
        if (t.fd.Reset()) return true;
        return Fail(error, errno);
    }
    if (t.created) {
        // Leave no half-written new file: remove the name when it still is this file,
        // otherwise empty the file again.
        struct stat entry {};
        if (t.dir.Valid() &&
            ::fstatat(t.dir.Get(), t.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(entry.st_mode) && SameFile(entry, t.st))
            ::unlinkat(t.dir.Get(), t.name.c_str(), 0);
        else
            ::ftruncate(t.fd.Get(), 0);
    }
    return Fail(error, code);
}

}  // namespace zarn::files
