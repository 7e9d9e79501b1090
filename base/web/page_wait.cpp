#include "base/web/page_wait.h"

#include <emscripten.h>

extern "C" {
// base/web/page_wait.js
void zarn_page_sleep(uint32_t ms);
}

namespace zarn::web {

namespace {
int g_inFlight = 0;
}  // namespace

bool WaitInFlight() { return g_inFlight > 0; }

PageWait::PageWait() { ++g_inFlight; }
PageWait::~PageWait() { --g_inFlight; }

void SleepMs(uint32_t ms) {
    if (WaitInFlight()) {
        // Nothing the page could deliver arrives before the outer wait ends; the time
        // still passes, so that a caller that checks the clock sees its deadline come.
        const double end = emscripten_get_now() + ms;
        while (emscripten_get_now() < end) {
        }
        return;
    }
    const PageWait wait;
    zarn_page_sleep(ms);
}

uint32_t NowMs() {
    return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
}

}  // namespace zarn::web
