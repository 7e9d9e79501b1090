// base/win32's paths under Wine or Windows: UTF-8 names the ANSI code page cannot spell, and
// paths past the classic 260-character limit in every form a caller may give (absolute,
// relative, forward slashes, "..", an existing file replaced). Each file is then looked up
// by its own full \\?\ name, so a file that landed elsewhere (or under a mangled name) fails.
//
//   zarn60-file-paths-test.exe FOLDER     (an empty folder; prints one line a case)
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/win32/long_path.h"
#include "base/win32/utf16.h"

namespace {

int g_failed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = {}) {
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    if (!ok) ++g_failed;
}

std::wstring Wide(const std::string& utf8) {
    std::wstring w;
    zarn::win32::Utf8ToUtf16(utf8, &w);
    return w;
}

// The file's bytes read through its full \\?\ name, or "(missing)".
std::string BytesAt(const std::wstring& full) {
    HANDLE h = CreateFileW((L"\\\\?\\" + full).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(missing)";
    char buffer[256];
    DWORD n = 0;
    ReadFile(h, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(h);
    return std::string(buffer, n);
}

// Names beginning ".zarn60-" (the save's temporary siblings) in the folder.
int Temporaries(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((L"\\\\?\\" + folder + L"\\.zarn60-*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 1;
    while (FindNextFileW(h, &data)) ++n;
    FindClose(h);
    return n;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) {
        std::fputs("usage: zarn60-file-paths-test.exe FOLDER\n", stderr);
        return 2;
    }
    const std::wstring root = argv[1];
    const std::string root8 = zarn::win32::Utf16ToUtf8(root);
    const std::string part(60, 'd');
    std::wstring deep = root;
    std::string deep8 = root8;
    for (int i = 1; i <= 5; ++i) {
        deep += L"\\" + Wide(part) + std::to_wstring(i);
        deep8 += "\\" + part + std::to_string(i);
        CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    }
    const std::string name = "\xE8\xAF\xBB\xE5\x8D\xA1\xE5\x99\xA8 \xC3\xA9.cfg";  // 读卡器 é.cfg

    // Each: how the caller names the file, and where it must land (relative to root).
    SetCurrentDirectoryW(root.c_str());
    std::string slashed = root8 + "/" + part + "1/" + part + "2/" + part + "3/../" + part + "3/" +
                          part + "4/" + part + "5/slashes.cfg";
    std::string relative;
    for (int i = 1; i <= 5; ++i) relative += part + std::to_string(i) + "\\";
    const struct {
        std::string what, path;
        std::wstring lands;
    } cases[] = {
        {"a name outside the code page", root8 + "\\" + name, root + L"\\" + Wide(name)},
        {"an absolute path over 260 characters", deep8 + "\\" + name, deep + L"\\" + Wide(name)},
        {"forward slashes and .. over 260 characters", slashed, deep + L"\\slashes.cfg"},
        {"a relative path over 260 characters", relative + "relative.cfg",
         deep + L"\\relative.cfg"},
        {"a path given with \\\\?\\", "\\\\?\\" + deep8 + "\\prefixed.cfg",
         deep + L"\\prefixed.cfg"},
    };
    for (const auto& c : cases) {
        std::string why;
        const bool written = zarn::files::WriteFileSafely(c.path, "first", &why);
        // A second save replaces the file through a sibling.
        const bool replaced = written && zarn::files::WriteFileSafely(c.path, "second!", &why);
        std::string bytes;
        uint64_t size = 0;
        const bool read =
            replaced && zarn::files::ReadRegularFile(c.path, zarn::files::Access::READ_WRITE, 64,
                                                     &bytes, &size, &why);
        const std::string there = BytesAt(c.lands);
        const std::wstring folder = c.lands.substr(0, c.lands.find_last_of(L'\\'));
        Check(read && bytes == "second!" && size == 7 && there == "second!" &&
                  Temporaries(folder) == 0,
              c.what, read ? "found " + there : why);
    }

    // The names the W functions get. Wine takes long paths without the prefix, so the files
    // above would land without it; Windows does not, and these pin the form it needs.
    const std::wstring d(60, L'd');
    const std::wstring longTail = L"\\" + d + L"1\\" + d + L"2\\" + d + L"3\\" + d + L"4\\x.cfg";
    const struct {
        const char* what;
        std::wstring given, expected;
    } forms[] = {
        {"a short relative path stays as it is", L"a\\..\\b.cfg", L"a\\..\\b.cfg"},
        {"a short absolute path stays as it is", L"C:/a/b.cfg", L"C:/a/b.cfg"},
        {"a long one gets \\\\?\\ and its slashes and .. resolved",
         L"C:/zz/../" + longTail.substr(1), L"\\\\?\\C:" + longTail},
        {"a long relative one gets its full form", longTail.substr(1),
         L"\\\\?\\" + root + longTail},
        {"a long share path gets \\\\?\\UNC\\", L"\\\\host\\share" + longTail,
         L"\\\\?\\UNC\\host\\share" + longTail},
        {"a path with \\\\?\\ stays as it is", L"\\\\?\\C:\\a/../b", L"\\\\?\\C:\\a/../b"},
        {"a device stays as it is", L"\\\\.\\COM12", L"\\\\.\\COM12"},
    };
    for (const auto& f : forms) {
        const std::wstring got = zarn::files::LongPathForm(f.given);
        Check(got == f.expected, f.what, zarn::win32::Utf16ToUtf8(got));
    }

    // Refusals keep their reasons at any length.
    std::string why;
    std::string bytes;
    uint64_t size = 0;
    Check(!zarn::files::ReadRegularFile(deep8, 64, &bytes, &size, &why) && why == "is a folder",
          "a folder over 260 characters is refused as one", why);
    why.clear();
    Check(
        !zarn::files::WriteFileSafely(deep8 + "\\none\\x.cfg", "x", &why) && why == "no such file",
        "a missing folder over 260 characters", why);
    why.clear();
    Check(
        !zarn::files::WriteFileSafely(root8 + "\\\xFF\xFE.cfg", "x", &why) && why == "no such file",
        "a name that is no UTF-8 names no file", why);
    std::printf("%d failed\n", g_failed);
    return g_failed == 0 ? 0 : 1;
}
