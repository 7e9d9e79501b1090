// The serial backend on the Win32 communications functions.
//
// Quirks of the platform this file works around, and why:
// - COM10 and above exist only in the device namespace: every port is opened as
//   "\\.\COM<n>", which works for COM1-9 too.
// - A COM port opened without sharing refuses every other opener with ERROR_ACCESS_DENIED,
//   not a sharing violation: the listing reports that as "in use".
// - A synchronous WriteFile without write time-outs waits as long as flow control holds
//   the line: a write time-out is set at open so that each attempt returns in bounded
//   time and the link's own deadline decides.
// - ReadIntervalTimeout = ReadTotalTimeoutMultiplier = MAXDWORD with a constant between 0
//   and MAXDWORD is the one combination that returns at once when a byte waits and
//   otherwise waits up to the constant; a constant of 0 or MAXDWORD means something else,
//   so 0 asks for an immediate return and MAXDWORD is clamped.
#include <windows.h>

#include <cstdio>
#include <string>

#include "link/serial_link.h"

namespace zarn {
namespace {

constexpr DWORD kQueueSize = 2048;
constexpr DWORD kWriteAttemptMs = 50;

HANDLE OpenCom(int number, DWORD* error) {
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%01d", number);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    *error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return h;
}

SerialOpenError ErrorOf(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return SerialOpenError::NoDevice;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return SerialOpenError::InUse;
        default:
            return SerialOpenError::Other;
    }
}

class Win32SerialPort final : public SerialPort {
public:
    explicit Win32SerialPort(HANDLE h) : m_h(h) {
        SetupComm(m_h, kQueueSize, kQueueSize);  // result not needed: defaults also work
        m_timeouts.ReadIntervalTimeout = MAXDWORD;
        m_timeouts.WriteTotalTimeoutConstant = kWriteAttemptMs;
        SetCommTimeouts(m_h, &m_timeouts);
    }
    ~Win32SerialPort() override { CloseHandle(m_h); }
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    bool ReadSettings() override {
        m_dcb = DCB{};
        m_dcb.DCBlength = sizeof(DCB);
        m_haveSettings = GetCommState(m_h, &m_dcb) != 0;
        return m_haveSettings;
    }

    bool ApplySettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity) override {
        if (!m_haveSettings && !ReadSettings()) return false;
        DCB dcb = m_dcb;
        dcb.BaudRate = baudRate;
        dcb.ByteSize = byteSize;
        dcb.Parity = parity;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = 1;
        dcb.fParity = 1;
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        return SetCommState(m_h, &dcb) != 0;
    }

    void Purge() override {
        PurgeComm(m_h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }

    int WriteOne(uint8_t byte) override {
        if (!SetupComm(m_h, kQueueSize, kQueueSize)) return -1;
        DWORD written = 0;
        if (!WriteFile(m_h, &byte, 1, &written, nullptr) && GetLastError() != ERROR_IO_INCOMPLETE)
            return -1;
        return written == 1 ? 1 : 0;
    }

    bool SetReadTimeout(uint32_t timeoutMs) override {
        DWORD constant = timeoutMs >= MAXDWORD ? MAXDWORD - 1 : timeoutMs;
        m_timeouts.ReadIntervalTimeout = MAXDWORD;
        m_timeouts.ReadTotalTimeoutMultiplier = constant ? MAXDWORD : 0;
        m_timeouts.ReadTotalTimeoutConstant = constant;
        m_timeoutSet = SetCommTimeouts(m_h, &m_timeouts) != 0;
        m_timeoutFor = timeoutMs;
        return m_timeoutSet;
    }

    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        if ((!m_timeoutSet || m_timeoutFor != timeoutMs) && !SetReadTimeout(timeoutMs)) return -1;
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        for (;;) {
            DWORD got = 0;
            if (ReadFile(m_h, byte, 1, &got, nullptr)) return got == 1 ? 1 : 0;
            if (GetLastError() != ERROR_IO_INCOMPLETE) return -1;
            if (GetTickCount64() > end) return 0;
        }
    }

private:
    HANDLE m_h;
    DCB m_dcb{};
    bool m_haveSettings = false;
    COMMTIMEOUTS m_timeouts{};
    bool m_timeoutSet = false;
    uint32_t m_timeoutFor = 0;
};

class Win32SerialBackend final : public SerialBackend {
public:
    std::unique_ptr<SerialPort> OpenPort(int number, SerialOpenError* error) override {
        DWORD e = 0;
        HANDLE h = OpenCom(number, &e);
        if (error) *error = h == INVALID_HANDLE_VALUE ? ErrorOf(e) : SerialOpenError::None;
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<Win32SerialPort>(h);
    }

    std::vector<SerialPortInfo> ListPorts() override {
        std::vector<SerialPortInfo> ports;
        for (int n = 1; n <= PORT_COUNT; ++n) {
            DWORD e = 0;
            HANDLE h = OpenCom(n, &e);
            SerialPortInfo info;
            info.number = n;
            info.device = "\\\\.\\COM" + std::to_string(n);
            if (h != INVALID_HANDLE_VALUE) {
                DCB dcb{};
                dcb.DCBlength = sizeof(DCB);
                if (!GetCommState(h, &dcb)) info.state = SerialOpenError::NotATerminal;
                CloseHandle(h);
            } else {
                info.state = ErrorOf(e);
                if (info.state == SerialOpenError::NoDevice) continue;
                info.detail = "error " + std::to_string(e);
            }
            ports.push_back(info);
        }
        return ports;
    }
};

}  // namespace

SerialBackend& OsSerialBackend() {
    static Win32SerialBackend backend;
    return backend;
}

}  // namespace zarn
