// The signals whose default action ends a POSIX program (terminate or core dump) and that a
// program can catch. SIGKILL and SIGSTOP cannot be caught; SIGCHLD, SIGCONT, SIGURG and
// SIGWINCH are ignored by default and SIGTSTP, SIGTTIN and SIGTTOU only stop the program.
#pragma once

#include <csignal>
#include <vector>

namespace zarn {

inline const std::vector<int>& EndingSignals() {
    static const std::vector<int> signals = {
        SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
        SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
        SIGXCPU,   SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
        SIGSTKFLT,
#endif
#ifdef SIGIO
        SIGIO,
#endif
#ifdef SIGPWR
        SIGPWR,
#endif
    };
    return signals;
}

// Raised by the program's own faulty instruction, not sent from outside.
inline bool IsFaultSignal(int sig) {
    return sig == SIGILL || sig == SIGTRAP || sig == SIGBUS || sig == SIGFPE || sig == SIGSEGV ||
           sig == SIGSYS;
}

}  // namespace zarn
