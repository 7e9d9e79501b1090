// The configuration read exchange: asks the reader for its settings with the command 'S'
// and brings back the 56-byte read image, in seven input reports over USB or as 56 single
// bytes over a COM port. The cores take everything as arguments and show nothing; the
// callers stop the receive poll around a serial exchange and decide when it runs again.
#pragma once

#include <cstdint>

#include "protocol/reader_config.h"

namespace protocol {

enum ConfigReadOutcome {
    READ_OK,
    READ_DEVICE_NOT_FOUND,
    READ_REQUEST_FAILED,
    READ_NO_RESPONSE,
    READ_PORT_OPEN_FAILED,
    READ_INCOMPLETE,
};

constexpr int READ_REPLY_REPORTS = 7;
constexpr uint32_t READ_REPORT_TIMEOUT_MS = 350;
constexpr uint32_t READ_SERIAL_BYTE_TIMEOUT_MS = 850;
constexpr uint32_t UPLOAD_REPORT_PAUSE_MS = 17;
constexpr uint32_t SAVE_REPORT_PAUSE_MS = 20;

// USB: opens the reader anew, writes the request report, reads the seven reply reports
// within 350 ms each, waiting pauseMs after each; closes the device on every path. Report
// lengths below 9 (or unreadable) give READ_REQUEST_FAILED with nothing sent. On READ_OK
// all 56 bytes of `image` were written; otherwise only those of the reports received.
ConfigReadOutcome ReadConfigOverHid(uint32_t pauseMs, ConfigReadImage& image);

// Serial core: opens COM `port` at 9600 8N1, writes 'S' and reads 56 bytes, 850 ms each,
// stopping at the first that does not come. The port stays open.
ConfigReadOutcome ReadConfigFromPort(int port, ConfigReadImage& image);

}  // namespace protocol
