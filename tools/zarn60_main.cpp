// zarn60: the reader from the command line. The subcommands live in cli/, one file each.
#include "cli/app.h"

#ifndef _WIN32
#include "base/posix/standard_descriptors.h"
#endif

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// clang-format off
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

#include "base/win32/utf16.h"

namespace {

// The console's output code page, put back when the program ends.
class ConsoleUtf8 {
public:
    ConsoleUtf8() {
        DWORD mode = 0;
        const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
                             GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
        if (!console) return;
        m_old = GetConsoleOutputCP();
        if (m_old != CP_UTF8 && !SetConsoleOutputCP(CP_UTF8)) m_old = 0;
    }
    ~ConsoleUtf8() {
        if (m_old != 0 && m_old != CP_UTF8) SetConsoleOutputCP(m_old);
    }
    ConsoleUtf8(const ConsoleUtf8&) = delete;
    ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

private:
    UINT m_old = 0;
};

}  // namespace

// The arguments as UTF-16, so that a file name the ANSI code page cannot spell arrives
// whole; the program works in UTF-8. Standard input and output carry the bytes as they are
// (a .cfg is binary, documents end lines with LF as on every platform); what it prints is
// UTF-8, and a console is told so for the run.
int main() {
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!wide) {
        std::fputs("zarn60: cannot read the command line\n", stderr);
        return 1;
    }
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(zarn::win32::Utf16ToUtf8(wide[i]));
    LocalFree(wide);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    const ConsoleUtf8 console;
    return cli::Main(argc, argv.data());
}

#else

int main(int argc, char** argv) {
    zarn::OpenStandardDescriptorsAndSay("zarn60");
    return cli::Main(argc, argv);
}

#endif
