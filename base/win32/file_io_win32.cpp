// Win32 file access, with the guarantees of the POSIX version. Paths arrive as UTF-8 and are
// opened as UTF-16 with the W functions, so that names the ANSI code page cannot spell work;
// a path whose full form is too long for the classic limit (some 260 characters) is opened
// by that full form behind the \\?\ prefix. Reserved device names ("COM1", "nul.cfg",
// "\\.\COM1") are refused before anything is opened; everything else is decided on the
// opened handle: only a disk file that is no folder is read or written.
//
// A save opens the path as given (links followed by the system, no sharing, created when
// missing) and decides from what it opened: a file with a single name that is no link is
// replaced with ReplaceFile (which keeps its attributes and security); anything else, or a
// replacement the system refuses, is rewritten in place, never cut short before the new
// bytes are in.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cwchar>
#include <string>

#include "base/file_io.h"
#include "base/win32/long_path.h"
#include "base/win32/utf16.h"

namespace zarn::files {

// Paths from this length on are opened by their full form behind \\?\: the classic limit
// is MAX_PATH (260) for a file and 12 less for a folder.
constexpr size_t kClassicLimit = MAX_PATH - 12;

std::wstring LongPathForm(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    const DWORD need = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) return path;
    std::wstring full(need, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return path;
    full.resize(got);
    if (full.size() < kClassicLimit) return path;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

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

// The UTF-8 path as the W functions take it; false when it is no UTF-8.
bool SystemPath(const std::string& path, std::wstring* out) {
    if (!zarn::win32::Utf8ToUtf16(path, out)) return false;
    *out = LongPathForm(*out);
    return true;
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

bool Seek(HANDLE h, uint64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != 0;
}

bool WriteAllAt(HANDLE h, const char* data, size_t size, uint64_t offset) {
    if (!Seek(h, offset)) return false;
    while (size > 0) {
        DWORD n = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!::WriteFile(h, data, ask, &n, nullptr) || n == 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

// Up to `want` bytes from the start of the file; false on a read error. The buffer grows
// with what is read, so a generous `want` costs a small file nothing.
bool ReadPrefix(HANDLE h, size_t want, std::string* out) {
    out->clear();
    if (!Seek(h, 0)) return false;
    size_t got = 0;
    while (got < want) {
        if (got == out->size()) out->resize(std::min(want, std::max<size_t>(2 * got, 4096)));
        DWORD n = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(out->size() - got, 1u << 30));
        if (!::ReadFile(h, out->data() + got, ask, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    out->resize(got);
    return true;
}

bool CutAt(HANDLE h, uint64_t size) {
    return Seek(h, size) && ::SetEndOfFile(h) != 0;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t sep = path.find_last_of(L"/\\");
    if (sep == std::wstring::npos) return L".";
    return path.substr(0, sep);
}

uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Whether the opened handle is a disk file that is no folder; *info describes it.
bool IsRegular(HANDLE h, BY_HANDLE_FILE_INFORMATION* info, std::string* error) {
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, info))
        return Fail(error, "not a regular file");
    if (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(error, "is a folder");
    return true;
}

// The reason an open failed: a folder cannot be opened without backup semantics, and is
// named as such rather than "permission denied".
bool OpenFailed(const std::wstring& path, DWORD code, std::string* error) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, "is a folder");
    return Fail(error, ErrorText(code));
}

// The new bytes over the old ones, flushed, then the file cut to their length; a failed
// write puts back the old length and the old bytes it overwrote (when readable).
bool RewriteInPlace(HANDLE h, uint64_t oldSize, bool canRead, const std::string& bytes) {
    std::string old;
    const size_t overwritten = static_cast<size_t>(std::min<uint64_t>(oldSize, bytes.size()));
    const bool haveOld = canRead && ReadPrefix(h, overwritten, &old);
    if (WriteAllAt(h, bytes.data(), bytes.size(), 0) && ::FlushFileBuffers(h) &&
        CutAt(h, bytes.size()) && ::FlushFileBuffers(h))
        return true;
    const bool bytesBack = haveOld && WriteAllAt(h, old.data(), old.size(), 0);
    if (CutAt(h, oldSize) && bytesBack) ::FlushFileBuffers(h);
    return false;
}

// The bytes in a fresh, flushed file with a short name beside `target`; its name, or an
// empty string when it could not be made.
std::wstring WriteSibling(const std::wstring& target, const std::string& bytes) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[40];
        std::swprintf(name, sizeof name / sizeof name[0], L"\\.zarn60-%lx-%x.tmp",
                      ::GetCurrentProcessId(), counter++);
        const std::wstring temp = LongPathForm(FolderOf(target) + name);
        Handle h(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.Valid()) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return std::wstring();
        }
        const bool ok = WriteAllAt(h.Get(), bytes.data(), bytes.size(), 0) &&
                        ::FlushFileBuffers(h.Get()) && h.Reset();
        if (ok) return temp;
        h.Reset();
        ::DeleteFileW(temp.c_str());
        return std::wstring();
    }
    return std::wstring();
}

// The path opened with read and write access and no sharing, or write access alone when
// reading is refused; invalid when it cannot be opened.
HANDLE OpenForSave(const std::wstring& path, DWORD disposition, bool* canRead) {
    *canRead = true;
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        *canRead = false;
        h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return h;
}

}  // namespace

bool ReadRegularFile(const std::string& path, Access access, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    if (path.empty()) return Fail(error, "no such file");
    if (IsDeviceName(path)) return Fail(error, "not a regular file");
    std::wstring wide;
    if (!SystemPath(path, &wide)) return Fail(error, "no such file");
    // Reading alone shares with other readers; reading and writing shares with nobody, so a
    // file open elsewhere is refused.
    const bool write = access == Access::READ_WRITE;
    Handle h(::CreateFileW(wide.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0),
                           write ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return OpenFailed(wide, ::GetLastError(), error);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!IsRegular(h.Get(), &info, error)) return false;
    // Read-only is refused for writing as Windows refuses it, also where the file system
    // underneath would let an administrator write.
    if (write && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return Fail(error, "permission denied");
    std::string got;
    if (!ReadPrefix(h.Get(), maxBytes, &got)) return Fail(error, ErrorText(::GetLastError()));
    if (bytes) *bytes = std::move(got);
    if (fileSize) *fileSize = SizeOf(info);
    return true;
}

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    return ReadRegularFile(path, Access::READ, maxBytes, bytes, fileSize, error);
}

bool WriteFileSafely(const std::string& path, const std::string& bytes, std::string* error) {
    if (path.empty()) return Fail(error, "no such file");
    if (IsDeviceName(path)) return Fail(error, "not a regular file");
    std::wstring wide;
    if (!SystemPath(path, &wide)) return Fail(error, "no such file");
    // Read-only is refused as Windows refuses to open it for writing, also where the file
    // system underneath would let an administrator write; a folder is named as such.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, "is a folder");
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return Fail(error, "permission denied");

    bool canRead = true;
    Handle h(OpenForSave(wide, OPEN_ALWAYS, &canRead));
    if (!h.Valid()) return OpenFailed(wide, ::GetLastError(), error);
    const bool created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!IsRegular(h.Get(), &info, error)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return Fail(error, "permission denied");
    const uint64_t size = SizeOf(info);

    // A replacement would turn a link into a file, or part a file from its other names.
    const bool isLink =
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
    if (!created && size > 0 && !isLink && info.nNumberOfLinks == 1) {
        const std::wstring temp = WriteSibling(wide, bytes);
        if (!temp.empty()) {
            h.Reset();  // ReplaceFile needs the file unshared
            if (::ReplaceFileW(wide.c_str(), temp.c_str(), nullptr, 0, nullptr, nullptr))
                return true;
            ::DeleteFileW(temp.c_str());
            // Refused: write in place, into the very file that was opened.
            BY_HANDLE_FILE_INFORMATION again{};
            h.Reset(OpenForSave(wide, OPEN_EXISTING, &canRead));
            if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &again) ||
                !SameFile(info, again))
                return Fail(error, "the file changed during the save");
        }
    }
    if (RewriteInPlace(h.Get(), size, canRead, bytes)) {
        if (h.Reset()) return true;
        return Fail(error, ErrorText(::GetLastError()));
    }
    const DWORD code = ::GetLastError();
    if (created) {
        h.Reset();
        if (!isLink) ::DeleteFileW(wide.c_str());
    }
    return Fail(error, ErrorText(code));
}

}  // namespace zarn::files
