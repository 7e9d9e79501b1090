// The dialog's start-up settings, written out independently of the code under test: all
// tracks, % ; + and ? sentinels, CR LF after each track, speed 6, USB HID mode off.
#pragma once

#include "protocol/reader_config.h"

namespace testsupport {

inline protocol::ReaderConfig StartupConfig() {
    protocol::ReaderConfig c;
    c.trackEnable = {1, 1, 1};
    c.startSentinel = {'%', ';', '+'};
    c.endSentinel = {'?', '?', '?'};
    c.packetTerminator = protocol::TERM_NONE;
    c.trackTerminator = {protocol::TERM_CRLF, protocol::TERM_CRLF, protocol::TERM_CRLF};
    c.usbSpeed = 6;
    c.usbHidModeOff = 1;
    return c;
}

}  // namespace testsupport
