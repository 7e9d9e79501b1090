#include "cli/input.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>

#include "base/posix/standard_descriptors.h"
#endif

#include <cerrno>
#include <cstring>

#include "base/file_io.h"
#include "cli/reader_link.h"

namespace cli {
namespace {

// Up to `size` bytes of standard input (in binary mode on Windows: tools/zarn60_main.cpp).
long ReadStdin(char* buffer, size_t size) {
#ifdef _WIN32
    return _read(0, buffer, static_cast<unsigned>(size));
#else
    return static_cast<long>(::read(STDIN_FILENO, buffer, size));
#endif
}

}  // namespace

std::string ReadInput(const std::string& path, size_t maxBytes, uint64_t* size) {
    std::string bytes;
    if (path != "-") {
        std::string why;
        if (!zarn::files::ReadRegularFile(path, maxBytes, &bytes, size, &why))
            throw Error(EXIT_FILE, path + ": cannot read: " + why);
        return bytes;
    }
#ifndef _WIN32
    // Opened on /dev/null at start: what the caller gave was no input at all.
    if (zarn::StandardInputWasClosed())
        throw Error(EXIT_FILE, "standard input: cannot read: it is closed");
#endif
    // Standard input is whatever the caller connected; it is read up to one byte past the
    // limit, so that a longer input is known without being kept.
    char buffer[4096];
    while (bytes.size() <= maxBytes) {
        const size_t want = std::min(sizeof buffer, maxBytes + 1 - bytes.size());
        const long n = ReadStdin(buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw Error(EXIT_FILE,
                        "standard input: cannot read: " + std::string(std::strerror(errno)));
        if (n == 0) break;
        bytes.append(buffer, size_t(n));
    }
    *size = bytes.size();
    if (bytes.size() > maxBytes) bytes.resize(maxBytes);
    return bytes;
}

}  // namespace cli
