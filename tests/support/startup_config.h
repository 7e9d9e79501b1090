// The dialog's start-up settings, written out independently of the code under test: all
// tracks, % ; + and ? sentinels, CR LF after each track, speed 6, USB HID mode off.
#pragma once

#include "protocol/reader_config.h"

namespace testsupport {

inline ReaderConfig StartupConfig() {
    ReaderConfig c;
    c.trackEnable = {1, 1, 1};
    c.startSentinel = {'%', ';', '+'};
    c.endSentinel = {'?', '?', '?'};
    c.packetTerminator = TERM_NONE;
    c.trackTerminator = {TERM_CRLF, TERM_CRLF, TERM_CRLF};
    c.usbSpeed = 6;
    c.usbHidModeOff = 1;
    return c;
}

}  // namespace testsupport
