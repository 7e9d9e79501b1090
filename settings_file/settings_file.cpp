// POSIX file access for the settings file. Saving never truncates the file it replaces:
// it writes a sibling file, fsyncs it and renames it into place, then fsyncs the folder so
// that the rename itself survives a crash.
#include "settings_file/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
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
    bool Reset() {
        int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
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

// A fresh file next to `target`, created exclusively with the given mode (the umask
// applies, as it would to the target itself).
Fd CreateSibling(const std::string& target, mode_t mode, std::string* name) {
    static std::atomic<unsigned> counter{0};
    const std::string base = FolderOf(target) + "/." + NameOf(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = base + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return Fd(fd);
        if (errno != EEXIST) break;
    }
    name->clear();
    return Fd();
}

void SyncFolder(const std::string& target) {
    Fd dir(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
}

// Last resort when the folder does not let us create a file but the target itself may be
// written: the original overwrite in place.
bool WriteInPlace(const std::string& target, const ConfigReadImage& image) {
    Fd fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd.Valid()) return false;
    if (!WriteAll(fd.Get(), image.data(), image.size())) return false;
    if (::fsync(fd.Get()) != 0) return false;
    return fd.Reset();
}

}  // namespace

bool WriteSettingsFile(const std::string& path, const ConfigReadImage& image) {
    if (path.empty()) return false;

    // Replace what a symbolic link points to, not the link.
    std::string target = path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;

    mode_t mode = 0666;
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) return false;
        // Refuse where an in-place overwrite would have been refused.
        Fd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
        if (!probe.Valid()) return false;
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return false;
    }

    std::string temp;
    Fd fd = CreateSibling(target, mode, &temp);
    if (!fd.Valid()) {
        if (exists && (errno == EACCES || errno == EPERM)) return WriteInPlace(target, image);
        return false;
    }
    bool ok = true;
    if (exists) {
        // Keep the replaced file's owner and permissions (best effort for the owner).
        if (::fchmod(fd.Get(), mode) != 0) ok = false;
        const bool ownerKept = ::fchown(fd.Get(), st.st_uid, st.st_gid) == 0;
        (void)ownerKept;
    }
    ok = ok && WriteAll(fd.Get(), image.data(), image.size());
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Reset() && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(target);
    return true;
}

bool ReadSettingsFile(const std::string& path, ConfigReadImage& image) {
    if (path.empty()) return false;
    // Read and write access, as the file was always opened: a file that cannot be written
    // cannot be loaded. O_NONBLOCK keeps a FIFO from hanging the dialog.
    Fd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    ConfigReadImage bytes{};
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < bytes.size()) return false;
    image = bytes;
    return true;
}
