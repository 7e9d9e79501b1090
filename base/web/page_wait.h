// Waiting in the page: a WebAssembly program blocks nobody's thread but the page's own, so
// every wait hands the event loop back to the browser (ASYNCIFY) and the program carries
// on where it stopped once the wait is over. Only one such wait can be in flight: while it
// is (a handler waits in a message box and a timer tick comes through), nested waits do not
// yield; they return as soon as nothing more can be learnt without the event loop.
#pragma once

#include <cstdint>

namespace zarn::web {

// True while a wait of the page is in flight (the program is paused in it).
bool WaitInFlight();

// Marks a yielding call to the page for its lifetime. Construct it only when
// WaitInFlight() is false.
class PageWait {
public:
    PageWait();
    ~PageWait();
    PageWait(const PageWait&) = delete;
    PageWait& operator=(const PageWait&) = delete;
};

// Sleeps `ms` milliseconds and lets the page run meanwhile: to the millisecond, without
// the 4 ms a browser adds to timers set from timers. Nested in another wait: returns at
// once after moving nothing (the page cannot run then anyway).
void SleepMs(uint32_t ms);

// Milliseconds from the page's start (performance.now()), as a wrapping tick count.
uint32_t NowMs();

}  // namespace zarn::web
