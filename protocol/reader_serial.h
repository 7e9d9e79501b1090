// The reader's serial line: 9600 baud, 8 data bits, no parity, one stop bit. Everything
// that opens a COM port to talk to the reader opens it through OpenReaderPort, so the line
// settings are written here once.
#pragma once

#include "link/serial_link.h"

namespace protocol {

constexpr int READER_BAUD_RATE = 9600;
constexpr int READER_DATA_BITS = 8;
constexpr int READER_PARITY = 0;  // none

// SerialLink::Open of COM `port` with the reader's line settings: 0 when it is open, -1
// when not (why: SerialLink::LastOpenError(port)).
inline int OpenReaderPort(int port) {
    return SerialLink::Open(port, READER_BAUD_RATE, READER_DATA_BITS, READER_PARITY);
}

}  // namespace protocol
