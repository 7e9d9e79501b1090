#include "protocol/reader_hid.h"

#include <algorithm>
#include <cstring>

namespace protocol {

namespace {
thread_local zarn::OpenFailure t_lastOpenFailure;
}

bool IsReaderId(uint16_t vendorId, uint16_t productId) {
    return (vendorId == READER_VENDOR_ID || vendorId == READER_VENDOR_ID_2) &&
           productId == READER_PRODUCT_ID;
}

ReaderHidSession::ReaderHidSession() {
    m_handle = HidLink::Open(READER_VENDOR_ID, READER_PRODUCT_ID);
    if (m_handle != INVALID_HID_HANDLE) {
        t_lastOpenFailure = {};
        return;
    }
    const zarn::OpenFailure first = HidLink::LastOpenError();
    m_handle = HidLink::Open(READER_VENDOR_ID_2, READER_PRODUCT_ID);
    const zarn::OpenFailure second = HidLink::LastOpenError();
    if (m_handle != INVALID_HID_HANDLE)
        t_lastOpenFailure = {};
    else
        t_lastOpenFailure = second.error == zarn::OpenError::NoDevice ? first : second;
}

ReaderHidHold::ReaderHidHold() {
    if (m_hold.Take(READER_VENDOR_ID, READER_PRODUCT_ID)) {
        t_lastOpenFailure = {};
        return;
    }
    const zarn::OpenFailure first = HidLink::LastOpenError();
    const bool held = m_hold.Take(READER_VENDOR_ID_2, READER_PRODUCT_ID);
    const zarn::OpenFailure second = HidLink::LastOpenError();
    if (held)
        t_lastOpenFailure = {};
    else
        t_lastOpenFailure = second.error == zarn::OpenError::NoDevice ? first : second;
}

zarn::OpenFailure ReaderHidSession::LastOpenFailure() {
    return t_lastOpenFailure;
}

ReaderHidSession::~ReaderHidSession() {
    if (m_handle != INVALID_HID_HANDLE) HidLink::Close(m_handle);
}

bool ReaderHidSession::PrepareBuffer(bool readsInput) {
    m_outputLength = HidLink::OutputReportLength(m_handle);
    m_inputLength = readsInput ? HidLink::InputReportLength(m_handle) : 0;
    if (m_outputLength < MIN_REPORT_LENGTH) return false;
    if (readsInput && m_inputLength < MIN_REPORT_LENGTH) return false;
    m_buffer.assign(std::max<size_t>({MIN_REPORT_LENGTH, m_outputLength, m_inputLength}), 0);
    return true;
}

int ReaderHidSession::WritePayload(const uint8_t* payload, size_t count) {
    count = std::min(count, REPORT_PAYLOAD_SIZE);
    std::fill(m_buffer.begin(), m_buffer.begin() + m_outputLength, 0);
    m_buffer[0] = 0;  // report id
    if (count > 0) std::memcpy(m_buffer.data() + 1, payload, count);
    uint32_t written = 0;
    return HidLink::WriteReport(m_handle, m_buffer.data(), m_outputLength, &written,
                                HID_NO_TIMEOUT) == 1
               ? 1
               : 0;
}

int ReaderHidSession::ReadReport(uint32_t timeoutMs) {
    std::fill(m_buffer.begin(), m_buffer.begin() + m_inputLength, 0);
    uint32_t read = 0;
    return HidLink::ReadReport(m_handle, m_buffer.data(), m_inputLength, &read, timeoutMs) == 1 ? 1
                                                                                                : 0;
}

}  // namespace protocol
