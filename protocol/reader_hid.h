// What every USB exchange with the reader shares: finding it under either vendor id,
// holding the device only while the exchange runs, and one report buffer that is large
// enough for the device's reports and for the 8-byte payload framing.
#pragma once

#include <cstdint>
#include <vector>

#include "link/hid_link.h"

namespace protocol {

constexpr uint16_t READER_VENDOR_ID = 0x0801;
constexpr uint16_t READER_VENDOR_ID_2 = 0x0802;
constexpr uint16_t READER_PRODUCT_ID = 0x0005;

// The reader's ids: vendor READER_VENDOR_ID or READER_VENDOR_ID_2, product READER_PRODUCT_ID.
bool IsReaderId(uint16_t vendorId, uint16_t productId);

// Report byte 0 is the report id, bytes 1 to 8 the payload.
constexpr size_t REPORT_PAYLOAD_SIZE = 8;
constexpr size_t MIN_REPORT_LENGTH = 1 + REPORT_PAYLOAD_SIZE;

// The reader held under either vendor id for several exchanges (HidLink::Hold): the
// sessions opened meanwhile use the held device. When neither can be held,
// ReaderHidSession::LastOpenFailure says why, as after a session.
class ReaderHidHold {
public:
    ReaderHidHold();
    ReaderHidHold(const ReaderHidHold&) = delete;
    ReaderHidHold& operator=(const ReaderHidHold&) = delete;
    bool IsHeld() const { return m_hold.IsHeld(); }

private:
    HidLink::Hold m_hold;
};

// One USB exchange: opens the reader under 0801:0005, else 0802:0005, and closes it when
// the session ends, whatever path the exchange took.
class ReaderHidSession {
public:
    ReaderHidSession();
    ~ReaderHidSession();
    ReaderHidSession(const ReaderHidSession&) = delete;
    ReaderHidSession& operator=(const ReaderHidSession&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HID_HANDLE; }
    // Why the last session on this thread found no reader to open: of its two opens'
    // reasons the one that tells more (a reader in use, or one this user may not open,
    // under one vendor id beats "no device" under the other). Error None after a session
    // that opened.
    static zarn::OpenFailure LastOpenFailure();

    // Reads both report lengths and sizes the buffer to hold at least 9, L and N bytes.
    // False when L, or N if input reports will be read, is below 9 (0 included:
    // capabilities unreadable), since then a request or a payload would not fit.
    bool PrepareBuffer(bool readsInput = true);
    uint16_t OutputLength() const { return m_outputLength; }
    uint16_t InputLength() const { return m_inputLength; }

    // Clears the first L bytes, puts report id 0 and up to 8 payload bytes, writes L bytes
    // without a time-out. 1 = written, 0 = failed.
    int WritePayload(const uint8_t* payload, size_t count);
    // Clears the first N bytes and reads one input report of N bytes. 1 = read, 0 = failed
    // or timed out. The payload is then Payload()[0..7].
    int ReadReport(uint32_t timeoutMs);
    const uint8_t* Payload() const { return m_buffer.data() + 1; }

private:
    HidHandle m_handle = INVALID_HID_HANDLE;
    uint16_t m_outputLength = 0;
    uint16_t m_inputLength = 0;
    std::vector<uint8_t> m_buffer;
};

}  // namespace protocol
