// The reader's one-byte commands of the "Special operation" group: the version query 'V'
// and the card read 'A'. Over USB the cores read the answer themselves; over a COM port
// they only send the command, and the receive poll shows what comes back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace protocol {

enum SpecialOutcome {
    SPECIAL_OK,
    SPECIAL_DEVICE_NOT_FOUND,
    SPECIAL_REQUEST_FAILED,
    SPECIAL_NO_RESPONSE,  // version: no reply report in time
    SPECIAL_TOO_MANY,     // card: the reader kept sending for the whole report budget
    SPECIAL_PORT_OPEN_FAILED,
};

constexpr uint32_t VERSION_REPLY_TIMEOUT_MS = 350;
constexpr uint32_t CARD_REPORT_TIMEOUT_MS = 500;
constexpr uint32_t CARD_REPORT_PAUSE_MS = 20;
constexpr int CARD_MAX_REPORTS = 99;

// USB: request 'V', one reply report within 350 ms; *text is the payload up to the first
// zero byte (all eight bytes when none is zero).
SpecialOutcome ReadVersionOverHid(std::string* text);

// USB: request 'A', then input reports until one does not come within 500 ms, at most 99,
// 20 ms after each; *data receives the non-zero payload bytes in order. `requestSent` (if
// given) runs once the request went out, before the first read.
SpecialOutcome ReadCardOverHid(std::string* data, const std::function<void()>& requestSent = {});

// Serial: opens COM `port` at 9600 8N1 and writes the command byte (its result is not
// examined). SPECIAL_OK or SPECIAL_PORT_OPEN_FAILED. The port stays open.
SpecialOutcome SendCommandToPort(int port, uint8_t command);

// Two upper-case hex digits per byte, no separators.
std::string CardDataToHex(const std::string& bytes);

}  // namespace protocol
