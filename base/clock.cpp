#include "base/clock.h"

#include <chrono>
#include <thread>

namespace zarn {

uint32_t SteadyClock::NowMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {
SteadyClock g_steadyClock;
Clock* g_clock = &g_steadyClock;
}  // namespace

Clock& GetClock() { return *g_clock; }
void SetClock(Clock* clock) { g_clock = clock ? clock : &g_steadyClock; }

}  // namespace zarn
