// The simulated reader on a pseudo-terminal, in real time: the tool opens the slave side
// as it would a COM port, and the reader's bytes go out at 9600 baud line time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/reader.h"

namespace sim {

// The signals that stop zarn60-sim in order (the line hung up, the served trees unmounted
// and removed) instead of ending it where it stands: every catchable signal whose default
// ends a program, but the faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS) and
// SIGUSR1, which swipes a card, and SIGUSR2, which writes the --log file.
const std::vector<int>& StopSignals();

class PtyReader {
public:
    PtyReader();
    ~PtyReader();
    PtyReader(const PtyReader&) = delete;
    PtyReader& operator=(const PtyReader&) = delete;

    // Makes the pseudo-terminal (slave in raw mode at 9600 8N1). False with *error.
    bool Open(std::string* error);
    // The device path the tool opens (ZARN60_COM<n>=...).
    const std::string& SlavePath() const { return m_slavePath; }
    Reader& GetReader() { return m_reader; }

    // Serves until stop() says so (asked at least every 50 ms and after every signal
    // that interrupts the wait). swipe() is asked as often; true swipes the card once.
    // swipeEveryMs > 0 also swipes on that period. Returns 0 when stopped, 3 when the
    // reader vanished (the line is hung up then), 1 on an error.
    int Serve(const std::function<bool()>& stop, const std::function<bool()>& swipe,
              uint32_t swipeEveryMs);

private:
    // Whether the line is at the reader's settings; otherwise bytes do not get through.
    bool LineMatches() const;
    void TakeHostBytes(uint32_t now);
    void SendDueBytes(uint32_t now);

    Reader m_reader;
    int m_master = -1;
    int m_slave = -1;  // held open so that the line stays up between the tool's opens
    std::string m_slavePath;
};

}  // namespace sim
