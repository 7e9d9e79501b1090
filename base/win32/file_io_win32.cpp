// Win32 file access. Paths are byte strings in the system's ANSI code page, opened with the
// -A functions. Reserved device names ("COM1", "nul.cfg", "\\.\COM1") are refused before
// anything is opened; everything else is decided on the opened handle: only a disk file
// that is no folder is read.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "base/file_io.h"

namespace zarn::files {
namespace {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
    bool Reset(HANDLE h = INVALID_HANDLE_VALUE) {
        HANDLE old = m_h;
        m_h = h;
        return old == INVALID_HANDLE_VALUE || ::CloseHandle(old) != 0;
    }

private:
    HANDLE m_h;
};

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

std::string ErrorText(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return "no such file";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "permission denied";
        default:
            return "system error " + std::to_string(error);
    }
}

size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

// "\\.\COM1", or a reserved device name in any folder and with any extension ("COM1",
// "nul.cfg"): opening one reaches a device, not a file.
bool IsDeviceName(const std::string& path) {
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
    const size_t sep = LastSeparator(path);
    std::string base = path.substr(sep == std::string::npos ? 0 : sep + 1);
    if (base.size() >= 2 && base[1] == ':') base.erase(0, 2);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == ':')) base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// Up to `want` bytes from the start of the file; false on a read error.
bool ReadPrefix(HANDLE h, size_t want, std::string* out) {
    out->assign(want, '\0');
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) return false;
    size_t got = 0;
    while (got < want) {
        DWORD n = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(want - got, 1u << 30));
        if (!::ReadFile(h, out->data() + got, ask, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    out->resize(got);
    return true;
}

}  // namespace

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    if (path.empty()) return Fail(error, "no such file");
    if (IsDeviceName(path)) return Fail(error, "not a regular file");
    Handle h(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) {
        const DWORD code = ::GetLastError();
        // A folder cannot be opened without backup semantics; say so rather than "denied".
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Fail(error, "is a folder");
        return Fail(error, ErrorText(code));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.Get(), &info))
        return Fail(error, "not a regular file");
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(error, "is a folder");
    std::string got;
    if (!ReadPrefix(h.Get(), maxBytes, &got)) return Fail(error, ErrorText(::GetLastError()));
    if (bytes) *bytes = std::move(got);
    if (fileSize) *fileSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

}  // namespace zarn::files
