// Pseudo-terminal quirks this file works around: a master whose slave has no open file
// reads EIO, so we keep one slave descriptor of our own; the line settings live on the
// slave, so the reader reads them there to tell whether the host talks at 9600 8N1.
#include "sim/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "base/clock.h"
#include "base/posix/ending_signals.h"

namespace sim {
namespace {

constexpr int MAX_WAIT_MS = 50;

uint32_t NowMs() {
    static zarn::SteadyClock clock;
    return clock.NowMs();
}

}  // namespace

const std::vector<int>& StopSignals() {
    // Every ending signal sent from outside but SIGUSR1, which swipes a card, and SIGUSR2,
    // which writes the --log file.
    static const std::vector<int> signals = [] {
        std::vector<int> out;
        for (int sig : zarn::EndingSignals())
            if (!zarn::IsFaultSignal(sig) && sig != SIGUSR1 && sig != SIGUSR2) out.push_back(sig);
        return out;
    }();
    return signals;
}

PtyReader::PtyReader() = default;

PtyReader::~PtyReader() {
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
}

bool PtyReader::Open(std::string* error) {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        *error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_slavePath = name;
    termios t{};
    if (tcgetattr(m_slave, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(m_slave, TCSANOW, &t);
    }
    // The master never blocks the serving loop: a full slave queue just waits.
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    return true;
}

bool PtyReader::LineMatches() const {
    termios t{};
    if (tcgetattr(m_slave, &t) != 0) return true;
    return cfgetospeed(&t) == B9600 && (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB);
}

void PtyReader::TakeHostBytes(uint32_t now) {
    uint8_t buf[256];
    for (;;) {
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n <= 0) return;
        if (!LineMatches()) continue;  // the wrong speed: nothing the reader understands
        for (ssize_t i = 0; i < n; ++i) m_reader.SerialWrite(buf[i], now);
    }
}

void PtyReader::SendDueBytes(uint32_t now) {
    uint32_t readyAt = 0;
    uint8_t byte = 0;
    while (m_reader.SerialPeek(&readyAt, &byte) && static_cast<int32_t>(readyAt - now) <= 0) {
        const bool deliver = LineMatches();
        if (deliver) {
            const ssize_t n = write(m_master, &byte, 1);
            if (n != 1) return;  // the slave's queue is full: try again on the next turn
        }
        m_reader.SerialPop(&byte, now);
    }
}

int PtyReader::Serve(const std::function<bool()>& stop, const std::function<bool()>& swipe,
                     uint32_t swipeEveryMs) {
    if (m_master < 0) return 1;
    uint32_t nextSwipe = NowMs() + swipeEveryMs;
    while (!stop()) {
        uint32_t now = NowMs();
        if (swipe()) m_reader.Swipe(now);
        if (swipeEveryMs > 0 && static_cast<int32_t>(now - nextSwipe) >= 0) {
            m_reader.Swipe(now);
            nextSwipe = now + swipeEveryMs;
        }
        SendDueBytes(now);
        if (m_reader.Vanished()) {
            // Unplugged: hang the line up.
            close(m_master);
            m_master = -1;
            return 3;
        }

        int wait = MAX_WAIT_MS;
        uint32_t readyAt = 0;
        if (m_reader.SerialPeek(&readyAt, nullptr)) {
            const int32_t due = static_cast<int32_t>(readyAt - now);
            wait = due <= 0 ? 1 : std::min(wait, static_cast<int>(due));
        }
        if (swipeEveryMs > 0) {
            const int32_t due = static_cast<int32_t>(nextSwipe - now);
            wait = std::max(0, std::min(wait, static_cast<int>(due)));
        }
        pollfd p{m_master, POLLIN, 0};
        const int r = poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) return 1;
        if (r > 0 && (p.revents & POLLIN)) TakeHostBytes(NowMs());
    }
    return 0;
}

}  // namespace sim
