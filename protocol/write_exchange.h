// The configuration write exchange: carries one 64-byte write image to the reader, as
// eight 8-byte output reports over USB or as 64 single bytes over a COM port. The cores
// take everything as arguments and show nothing.
#pragma once

#include <cstdint>
#include <functional>

#include "protocol/reader_config.h"

namespace protocol {

enum ConfigWriteResult {
    WRITE_DEVICE_NOT_FOUND,
    WRITE_REPORT_FAILED,  // with the number (1 to 8) of the report that failed
    WRITE_NO_REPLY,
    WRITE_ACCEPTED,
    WRITE_REJECTED,
    WRITE_SENT,
    WRITE_PORT_OPEN_FAILED,
    WRITE_BYTE_FAILED,  // serial: a byte of the image did not go out; the rest was not sent
};

struct ConfigWriteOutcome {
    ConfigWriteResult result = WRITE_SENT;
    int report = 0;  // WRITE_REPORT_FAILED only

    bool operator==(const ConfigWriteOutcome&) const = default;
};

constexpr uint32_t REPORT_PAUSE_MS = 17;
constexpr uint32_t WRITE_REPLY_TIMEOUT_MS = 1000;
constexpr int SERIAL_WRITE_REPLY_MAX = 8;
constexpr uint32_t DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS = 850;
constexpr uint32_t FACTORY_SERIAL_REPLY_TIMEOUT_MS = 450;

// USB: opens the reader anew, sends the eight reports 17 ms apart and, with awaitVerdict,
// reads one reply report within 1000 ms; closes the device on every path. Report lengths
// below 9 (or unreadable) end as report 1 failed, with nothing sent.
ConfigWriteOutcome WriteConfigOverHid(const ConfigWriteImage& image, bool awaitVerdict);

// Serial core: opens COM `port` at 9600 8N1, writes the 64 bytes, then reads and drops up to
// 8 reply bytes, each within replyTimeoutMs. The first byte that fails to go out (the port
// vanished, the write deadline passed) ends the exchange as WRITE_BYTE_FAILED without the
// reply wait. `busy` (if given) is called with true once the port is open and with false
// before returning from there. The port stays open.
ConfigWriteOutcome WriteConfigToPort(int port, const ConfigWriteImage& image,
                                     uint32_t replyTimeoutMs,
                                     const std::function<void(bool)>& busy = {});

}  // namespace protocol
