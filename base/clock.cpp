#include "base/clock.h"

#include <chrono>
#include <thread>

#ifdef __EMSCRIPTEN__
#include "base/web/page_wait.h"
#endif

namespace zarn {

#ifdef __EMSCRIPTEN__
// In the page a sleep must give the event loop back to the browser: nothing else runs
// the reader's answers, the timers or the user's clicks.
uint32_t SteadyClock::NowMs() { return web::NowMs(); }

void SteadyClock::SleepMs(uint32_t ms) { web::SleepMs(ms); }
#else
uint32_t SteadyClock::NowMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
#endif

namespace {
SteadyClock g_steadyClock;
Clock* g_clock = &g_steadyClock;
}  // namespace

Clock& GetClock() { return *g_clock; }
void SetClock(Clock* clock) { g_clock = clock ? clock : &g_steadyClock; }

}  // namespace zarn
