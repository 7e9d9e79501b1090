#include "protocol/special_exchange.h"

#include "base/clock.h"
#include "link/serial_link.h"
#include "protocol/reader_config.h"
#include "protocol/reader_hid.h"
#include "protocol/reader_serial.h"

namespace protocol {

SpecialOutcome ReadVersionOverHid(std::string* text) {
    text->clear();
    ReaderHidSession reader;
    if (!reader.IsOpen()) return SPECIAL_DEVICE_NOT_FOUND;
    if (!reader.PrepareBuffer()) return SPECIAL_REQUEST_FAILED;
    const uint8_t request = CMD_GET_VERSION;
    if (!reader.WritePayload(&request, 1)) return SPECIAL_REQUEST_FAILED;
    if (!reader.ReadReport(VERSION_REPLY_TIMEOUT_MS)) return SPECIAL_NO_RESPONSE;
    const uint8_t* payload = reader.Payload();
    for (size_t i = 0; i < REPORT_PAYLOAD_SIZE && payload[i] != 0; ++i)
        text->push_back(static_cast<char>(payload[i]));
    return SPECIAL_OK;
}

SpecialOutcome ReadCardOverHid(std::string* data, const std::function<void()>& requestSent) {
    data->clear();
    ReaderHidSession reader;
    if (!reader.IsOpen()) return SPECIAL_DEVICE_NOT_FOUND;
    if (!reader.PrepareBuffer()) return SPECIAL_REQUEST_FAILED;
    const uint8_t request = CMD_READ_CARD;
    if (!reader.WritePayload(&request, 1)) return SPECIAL_REQUEST_FAILED;
    if (requestSent) requestSent();

    // The data carry no length: a silence of 500 ms ends them. Zero bytes are filler.
    for (int n = 0; n < CARD_MAX_REPORTS; ++n) {
        if (!reader.ReadReport(CARD_REPORT_TIMEOUT_MS)) return SPECIAL_OK;
        const uint8_t* payload = reader.Payload();
        for (size_t i = 0; i < REPORT_PAYLOAD_SIZE; ++i)
            if (payload[i] != 0) data->push_back(static_cast<char>(payload[i]));
        zarn::GetClock().SleepMs(CARD_REPORT_PAUSE_MS);
    }
    return SPECIAL_TOO_MANY;
}

SpecialOutcome SendCommandToPort(int port, uint8_t command) {
    if (OpenReaderPort(port) != 0) return SPECIAL_PORT_OPEN_FAILED;
    SerialLink::WriteByte(port, command);
    return SPECIAL_OK;
}

std::string CardDataToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0x0F]);
    }
    return hex;
}

}  // namespace protocol
