#include "protocol/write_exchange.h"

#include "base/clock.h"
#include "link/serial_link.h"
#include "protocol/reader_hid.h"
#include "protocol/reader_serial.h"

namespace protocol {

namespace {

constexpr int WRITE_REPORT_COUNT = static_cast<int>(CONFIG_WRITE_IMAGE_SIZE / REPORT_PAYLOAD_SIZE);

ConfigWriteOutcome ReportFailed(int n) {
    return {WRITE_REPORT_FAILED, n};
}

}  // namespace

ConfigWriteOutcome WriteConfigOverHid(const ConfigWriteImage& image, bool awaitVerdict) {
    ReaderHidSession reader;
    if (!reader.IsOpen()) return {WRITE_DEVICE_NOT_FOUND};
    // A piece that does not fit in one report must not be sent at all.
    if (!reader.PrepareBuffer(awaitVerdict)) return ReportFailed(1);

    // Header block (reports 1 to 3) first, then the body block (4 to 8), in image order.
    for (int k = 0; k < WRITE_REPORT_COUNT; ++k) {
        if (!reader.WritePayload(image.data() + k * REPORT_PAYLOAD_SIZE, REPORT_PAYLOAD_SIZE))
            return ReportFailed(k + 1);
        // The reader needs the time to take each piece, the last one included.
        zarn::GetClock().SleepMs(REPORT_PAUSE_MS);
    }
    if (!awaitVerdict) return {WRITE_SENT};

    if (!reader.ReadReport(WRITE_REPLY_TIMEOUT_MS)) return {WRITE_NO_REPLY};
    return {reader.Payload()[0] == 0 ? WRITE_ACCEPTED : WRITE_REJECTED};
}

ConfigWriteOutcome WriteConfigToPort(int port, const ConfigWriteImage& image,
                                     uint32_t replyTimeoutMs,
                                     const std::function<void(bool)>& busy) {
    if (OpenReaderPort(port) != 0) return {WRITE_PORT_OPEN_FAILED};
    if (busy) busy(true);
    // The reader must not be told it got a configuration it only got part of: the first
    // byte that fails ends the exchange, and the reply wait is pointless then.
    for (uint8_t b : image) {
        if (SerialLink::WriteByte(port, b) != 0) {
            if (busy) busy(false);
            return {WRITE_BYTE_FAILED};
        }
    }
    uint8_t reply = 0;
    for (int i = 0; i < SERIAL_WRITE_REPLY_MAX; ++i) {
        if (SerialLink::ReadByte(port, &reply, replyTimeoutMs) != 0) break;
    }
    if (busy) busy(false);
    return {WRITE_SENT};
}

}  // namespace protocol
