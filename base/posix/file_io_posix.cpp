// POSIX file access. A file is opened first as a bare reference to whatever the name
// leads to (O_PATH, which opens no device and never blocks), its type decided with fstat on
// that reference, and only a regular file is then opened for reading, through the
// reference itself (/proc/self/fd/N), so that no second lookup of the name can land on
// another file. Where O_PATH is missing, the file is opened non-blocking and without
// becoming a controlling terminal, and its type decided on what was opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/file_io.h"

namespace zarn::files {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    bool Reset(int fd = -1) {
        int old = m_fd;
        m_fd = fd;
        return old < 0 || ::close(old) == 0;
    }

private:
    int m_fd;
};

std::string ErrnoText(int error) {
    switch (error) {
        case ENOENT:
            return "no such file";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EISDIR:
            return "is a folder";
        default: {
            std::string text = std::strerror(error);
            if (!text.empty())
                text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
            return text;
        }
    }
}

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// The reason a file of this type is not read.
std::string TypeText(mode_t mode) {
    return S_ISDIR(mode) ? "is a folder" : "not a regular file";
}

// `path` opened with `access` (O_RDONLY, O_RDWR) when it is a regular file; *st is what
// the opened file is. Nothing but a regular file is ever opened for reading or writing.
Fd OpenRegular(const std::string& path, int access, struct stat* st, std::string* error) {
    if (path.empty()) {
        Fail(error, "no such file");
        return Fd();
    }
#ifdef O_PATH
    Fd ref(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!ref.Valid()) {
        Fail(error, ErrnoText(errno));
        return Fd();
    }
    if (::fstat(ref.Get(), st) != 0) {
        Fail(error, ErrnoText(errno));
        return Fd();
    }
    if (!S_ISREG(st->st_mode)) {
        Fail(error, TypeText(st->st_mode));
        return Fd();
    }
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", ref.Get());
    Fd fd(::open(self, access | O_CLOEXEC | O_NOCTTY));
    if (fd.Valid() || errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0) {
        if (!fd.Valid()) Fail(error, ErrnoText(errno));
        return fd;
    }
    // No /proc: fall through to a non-blocking open of the name, checked below to be the
    // same file.
    const struct stat seen = *st;
#endif
    Fd opened(::open(path.c_str(), access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!opened.Valid()) {
        Fail(error, ErrnoText(errno));
        return Fd();
    }
    if (::fstat(opened.Get(), st) != 0) {
        Fail(error, ErrnoText(errno));
        return Fd();
    }
    if (!S_ISREG(st->st_mode)) {
        Fail(error, TypeText(st->st_mode));
        return Fd();
    }
#ifdef O_PATH
    if (st->st_dev != seen.st_dev || st->st_ino != seen.st_ino) {
        Fail(error, "not a regular file");
        return Fd();
    }
#endif
    // Reads of a regular file never block; the flag only stays out of the way.
    const int flags = ::fcntl(opened.Get(), F_GETFL);
    if (flags >= 0) ::fcntl(opened.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return opened;
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

}  // namespace

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    struct stat st {};
    Fd fd = OpenRegular(path, O_RDONLY, &st, error);
    if (!fd.Valid()) return false;
    std::string got;
    if (!ReadPrefix(fd.Get(), maxBytes, &got)) return Fail(error, ErrnoText(errno));
    if (bytes) *bytes = std::move(got);
    if (fileSize) *fileSize = static_cast<uint64_t>(st.st_size);
    return true;
}

}  // namespace zarn::files
