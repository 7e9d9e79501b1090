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
// - A read never waits inside ReadFile: once the other end of the line has hung up (a
//   reader pulled from a USB serial adapter, a closed pseudo-terminal under Wine), the
//   line reports "readable" for ever with nothing to read, and a ReadFile that waits with
//   time-outs turns into a busy loop of wake-ups until its deadline. ClearCommError tells
//   how many bytes the driver holds without touching the line: a read takes a byte only
//   when one is queued, with the time-outs that return at once (ReadIntervalTimeout =
//   MAXDWORD, the others 0), and the wait for a byte sleeps in steps of at most 1 ms, so a
//   dead line costs what a quiet one does and a byte still arrives within a millisecond.
// - A port keeps its DCB and time-outs after the last handle closes: the settings and
//   time-outs found at the open are put back before the handle is closed, so that the
//   next program finds the port as we found it.
// - Opening a port moves its modem lines: the listing never opens one. QueryDosDevice
//   tells whether a COM name exists without opening it; whether another program holds
//   it only an open can tell.
#include <windows.h>

#include <cstdio>
#include <string>

#include "link/serial_link.h"

namespace zarn {
namespace {

constexpr DWORD kQueueSize = 2048;
constexpr DWORD kWriteAttemptMs = 50;

std::string ComName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%01d", number);
    return name;
}

SerialOpenError ErrorOf(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_NAME:
            return SerialOpenError::NoDevice;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return SerialOpenError::InUse;
        default:
            return SerialOpenError::Other;
    }
}

// "COM12" of "\\.\COM12"; the name QueryDosDevice knows.
std::string DosName(const std::string& device) {
    const std::string prefix = "\\\\.\\";
    return device.compare(0, prefix.size(), prefix) == 0 ? device.substr(prefix.size()) : device;
}

class Win32SerialPort final : public SerialPort {
public:
    explicit Win32SerialPort(HANDLE h) : m_h(h) {
        m_foundTimeoutsKnown = GetCommTimeouts(m_h, &m_foundTimeouts) != 0;
        SetupComm(m_h, kQueueSize, kQueueSize);  // result not needed: defaults also work
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once
        timeouts.WriteTotalTimeoutConstant = kWriteAttemptMs;
        m_timeoutSet = SetCommTimeouts(m_h, &timeouts) != 0;
    }
    ~Win32SerialPort() override {
        // Pending output would hold the close up; it is dropped, as the next open would.
        PurgeComm(m_h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        if (m_haveFound) SetCommState(m_h, &m_found);
        if (m_foundTimeoutsKnown) SetCommTimeouts(m_h, &m_foundTimeouts);
        CloseHandle(m_h);
    }
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    bool ReadSettings() override {
        m_dcb = DCB{};
        m_dcb.DCBlength = sizeof(DCB);
        m_haveSettings = GetCommState(m_h, &m_dcb) != 0;
        // The first settings read are the ones the port had before this program came.
        if (m_haveSettings && !m_haveFound) {
            m_found = m_dcb;
            m_haveFound = true;
        }
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

    // The time-outs are set once, at the open: every read returns at once (see above).
    bool SetReadTimeout(uint32_t) override { return m_timeoutSet; }

    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        if (!m_timeoutSet) return -1;
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(m_h, &errors, &status)) return -1;
            if (status.cbInQue > 0) {
                DWORD got = 0;
                if (!ReadFile(m_h, byte, 1, &got, nullptr)) return -1;
                if (got == 1) return 1;
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= end) return 0;
            Sleep(1);
        }
    }

private:
    HANDLE m_h;
    DCB m_dcb{};
    bool m_haveSettings = false;
    DCB m_found{};
    bool m_haveFound = false;
    COMMTIMEOUTS m_foundTimeouts{};
    bool m_foundTimeoutsKnown = false;
    bool m_timeoutSet = false;
};

class Win32SerialBackend final : public SerialBackend {
public:
    std::string DeviceOf(int number) override {
        if (number < 1 || number > PORT_COUNT) return {};
        return ComName(number);
    }

    std::unique_ptr<SerialPort> OpenDevice(const std::string& device, OpenFailure* why) override {
        HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            if (why) *why = {ErrorOf(e), device + ": error " + std::to_string(e)};
            return nullptr;
        }
        // A file or another device opens too; only a port answers GetCommState.
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!GetCommState(h, &dcb)) {
            CloseHandle(h);
            if (why) *why = {SerialOpenError::NotATerminal, device + ": not a COM port"};
            return nullptr;
        }
        if (why) *why = {};
        return std::make_unique<Win32SerialPort>(h);
    }

    std::vector<SerialPortInfo> ListPorts() override {
        std::vector<SerialPortInfo> ports;
        for (int n = 1; n <= PORT_COUNT; ++n) {
            const std::string device = ComName(n);
            char target[512];
            if (QueryDosDeviceA(DosName(device).c_str(), target, sizeof target) == 0) continue;
            SerialPortInfo info;
            info.number = n;
            info.device = device;
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
