#include "protocol/read_exchange.h"

#include "base/clock.h"
#include "link/serial_link.h"
#include "protocol/reader_hid.h"
#include "protocol/reader_serial.h"

namespace protocol {

ConfigReadOutcome ReadConfigOverHid(uint32_t pauseMs, ConfigReadImage& image) {
    ReaderHidSession reader;
    if (!reader.IsOpen()) return READ_DEVICE_NOT_FOUND;
    if (!reader.PrepareBuffer()) return READ_REQUEST_FAILED;

    const uint8_t request = CMD_GET_CONFIG;
    if (!reader.WritePayload(&request, 1)) return READ_REQUEST_FAILED;

    for (int k = 0; k < READ_REPLY_REPORTS; ++k) {
        if (!reader.ReadReport(READ_REPORT_TIMEOUT_MS)) return READ_NO_RESPONSE;
        const uint8_t* payload = reader.Payload();
        for (size_t i = 0; i < REPORT_PAYLOAD_SIZE; ++i)
            image[k * REPORT_PAYLOAD_SIZE + i] = payload[i];
        zarn::GetClock().SleepMs(pauseMs);
    }
    return READ_OK;
}

ConfigReadOutcome ReadConfigFromPort(int port, ConfigReadImage& image) {
    if (OpenReaderPort(port) != 0) return READ_PORT_OPEN_FAILED;
    // A failed request write goes on to the reply wait, which then times out.
    SerialLink::WriteByte(port, CMD_GET_CONFIG);
    for (uint8_t& b : image) {
        if (SerialLink::ReadByte(port, &b, READ_SERIAL_BYTE_TIMEOUT_MS) != 0)
            return READ_INCOMPLETE;
    }
    return READ_OK;
}

}  // namespace protocol
