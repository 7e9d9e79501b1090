// Descriptors 0, 1 and 2 open before a program opens anything. A program started with one
// of them closed would hand that number to the next file it opens: a serial port taking
// descriptor 1 receives everything the program prints. Each of our mains calls
// OpenStandardDescriptors first, and the closed ones are opened on /dev/null.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zarn {

// Bit n set: descriptor n was closed at start and is now /dev/null.
inline unsigned& ReopenedStandardDescriptors() {
    static unsigned mask = 0;
    return mask;
}

inline bool StandardInputWasClosed() {
    return (ReopenedStandardDescriptors() & 1u) != 0;
}

// Opens /dev/null on each of 0, 1 and 2 that is closed, and returns the mask above. When
// /dev/null cannot be opened the program ends at once (status 1): going on would let the
// next open take a standard descriptor.
inline unsigned OpenStandardDescriptors() {
    unsigned& mask = ReopenedStandardDescriptors();
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lower ones are open by now, so the lowest free number is this one.
        int opened = ::open("/dev/null", (fd == 0 ? O_RDONLY : O_WRONLY) | O_NOCTTY);
        if (opened >= 0 && opened != fd) {
            const int moved = ::dup2(opened, fd);
            ::close(opened);
            opened = moved;
        }
        if (opened != fd) ::_exit(1);
        mask |= 1u << fd;
    }
    return mask;
}

// Calls OpenStandardDescriptors and, when standard output was closed but standard error
// is there, says on standard error that `program`'s output goes nowhere.
inline unsigned OpenStandardDescriptorsAndSay(const char* program) {
    const unsigned mask = OpenStandardDescriptors();
    if ((mask & 2u) != 0 && (mask & 4u) == 0) {
        static const char tail[] = ": standard output was closed; its output is discarded\n";
        const char* p = program;
        size_t n = 0;
        while (p[n] != '\0') ++n;
        // Plain writes: nothing of stdio's is set up yet, and nothing here may fail loudly.
        if (::write(2, program, n) < 0 || ::write(2, tail, sizeof tail - 1) < 0) return mask;
    }
    return mask;
}

}  // namespace zarn
