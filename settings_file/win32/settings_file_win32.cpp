// Win32 file access for the settings file, with the guarantee of the POSIX version: saving
// never truncates the file it replaces. The bytes go to a new file in the same folder,
// which is flushed and then moved over the target with a write-through replace.
#include <windows.h>

#include <atomic>
#include <string>

#include "settings_file/settings_file.h"

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
    bool Reset() {
        HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return h == INVALID_HANDLE_VALUE || ::CloseHandle(h) != 0;
    }

private:
    HANDLE m_h;
};

bool WriteAll(HANDLE h, const uint8_t* data, size_t size) {
    while (size > 0) {
        DWORD n = 0;
        if (!::WriteFile(h, data, static_cast<DWORD>(size), &n, nullptr) || n == 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

std::string FolderOf(const std::string& path) {
    size_t sep = LastSeparator(path);
    if (sep == std::string::npos) return ".";
    return path.substr(0, sep);
}

std::string NameOf(const std::string& path) {
    size_t sep = LastSeparator(path);
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The file a symbolic link or junction points to, so that a save replaces it and not the
// link; the path unchanged when it does not exist or cannot be resolved.
std::string FinalPath(const std::string& path) {
    Handle h(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) return path;
    char buffer[MAX_PATH * 4];
    DWORD n = ::GetFinalPathNameByHandleA(h.Get(), buffer, sizeof buffer,
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof buffer) return path;
    return std::string(buffer, n);
}

// A fresh file next to `target`, created exclusively.
Handle CreateSibling(const std::string& target, std::string* name, DWORD* error) {
    static std::atomic<unsigned> counter{0};
    const std::string base = FolderOf(target) + "\\." + NameOf(target) + ".";
    *error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = base + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) +
                ".tmp";
        HANDLE h = ::CreateFileA(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return Handle(h);
        *error = ::GetLastError();
        if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) break;
    }
    name->clear();
    return Handle();
}

// Last resort when the folder does not let us create a file but the target itself may be
// written: the original overwrite in place.
bool WriteInPlace(const std::string& target, const ConfigReadImage& image) {
    Handle h(::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return false;
    if (!WriteAll(h.Get(), image.data(), image.size())) return false;
    if (!::FlushFileBuffers(h.Get())) return false;
    return h.Reset();
}

}  // namespace

bool WriteSettingsFile(const std::string& path, const ConfigReadImage& image) {
    if (path.empty()) return false;
    const std::string target = FinalPath(path);

    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        // Read-only is refused as an in-place overwrite would be, for an administrator too.
        if (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY))
            return false;
        // Refuse where an in-place overwrite would have been refused (in use without
        // sharing, no access).
        Handle probe(::CreateFileA(target.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.Valid() || ::GetFileType(probe.Get()) != FILE_TYPE_DISK) return false;
    } else {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    }

    std::string temp;
    DWORD error = ERROR_SUCCESS;
    Handle h = CreateSibling(target, &temp, &error);
    if (!h.Valid()) {
        if (exists && error == ERROR_ACCESS_DENIED) return WriteInPlace(target, image);
        return false;
    }
    bool ok = WriteAll(h.Get(), image.data(), image.size());
    ok = ok && ::FlushFileBuffers(h.Get()) != 0;
    ok = h.Reset() && ok;
    ok = ok && ::MoveFileExA(temp.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

bool ReadSettingsFile(const std::string& path, ConfigReadImage& image) {
    if (path.empty()) return false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    // Read and write access with no sharing, as the file was always opened: a file that
    // cannot be written, or is open elsewhere, cannot be loaded.
    Handle h(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return false;
    // A pipe or a console would block or read something that is no file.
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK) return false;

    ConfigReadImage bytes{};
    size_t got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        if (!::ReadFile(h.Get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n,
                        nullptr))
            return false;
        if (n == 0) break;
        got += n;
    }
    if (got < bytes.size()) return false;
    image = bytes;
    return true;
}
