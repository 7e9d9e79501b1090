// One clock for every wait, pause and tick count in the program. The real one is the
// steady clock; tests and the in-process simulated reader use a virtual one, which
// makes a run instant and exact: a sleep or a timed-out read just moves time forward.
#pragma once

#include <cstdint>

namespace zarn {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on an unsigned 32-bit tick counter (wraps like a tick count does).
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

class SteadyClock final : public Clock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

// Time moves only when somebody sleeps or advances it.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint32_t start = 0) : m_now(start) {}
    uint32_t NowMs() override { return m_now; }
    void SleepMs(uint32_t ms) override { m_now += ms; }
    void AdvanceTo(uint32_t t) {
        if (static_cast<int32_t>(t - m_now) > 0) m_now = t;
    }

private:
    uint32_t m_now;
};

// The process-wide clock. SetClock(nullptr) goes back to the steady clock; the caller
// keeps ownership of what it installs.
Clock& GetClock();
void SetClock(Clock* clock);

// Installs a clock for the lifetime of the object (tests).
class ScopedClock {
public:
    explicit ScopedClock(Clock& c) : m_prev(&GetClock()) { SetClock(&c); }
    ~ScopedClock() { SetClock(m_prev); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* m_prev;
};

}  // namespace zarn
