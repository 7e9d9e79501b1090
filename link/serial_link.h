// The serial link: COM ports by number (1 to 200), one handle per number in the port
// table. A port stays open until the next Open of the same number (which reopens it,
// unless a SerialLink::Hold keeps it). Results: 0 = success, -1 = failure, for every
// operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/open_failure.h"

constexpr int PORT_COUNT = 200;
constexpr uint32_t SERIAL_WRITE_DEADLINE_MS = 3500;

namespace SerialLink {

int Open(int port, uint32_t baudRate, uint8_t byteSize, uint8_t parity);
int WriteByte(int port, int value);
int ReadByte(int port, uint8_t* byte, uint32_t timeoutMs);
// Why the last Open of this port number failed; error None after one that succeeded and
// for a number never opened. A number outside 1 to 200 gives NoDevice.
zarn::OpenFailure LastOpenError(int port);

// A port kept open from one exchange to the next, for a command made of several: while a
// Hold of its number lasts, an Open with the settings the port is open with keeps the
// handle (it only discards what is pending) instead of closing and reopening it. A reopen
// toggles DTR on a real line, which resets some adapters, and leaves a moment in which
// another program could take the port. The first Open under the hold opens as usual; the
// port stays open after the hold, as after any Open.
class Hold {
public:
    explicit Hold(int port);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    int m_port;
};

}  // namespace SerialLink

namespace zarn {

// One opened port, as a backend gives it to the link.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Line settings: baud rate, byte size, parity (0 = none), one stop bit, raw both
    // ways, no CTS/DSR flow control, DTR raised where the line has it; the port's other
    // settings left as they were. False when they cannot be read or applied.
    virtual bool ReadSettings() = 0;
    virtual bool ApplySettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity) = 0;
    // Discards everything pending in both directions.
    virtual void Purge() = 0;
    // One attempt to write a byte, returning in bounded time: 1 written, 0 not yet
    // (the caller tries again until its deadline), -1 error.
    virtual int WriteOne(uint8_t byte) = 0;
    // Sets the port's read time-outs for the next ReadOne with this timeoutMs; false
    // when the port refuses them. A port that waits by itself needs nothing here.
    virtual bool SetReadTimeout(uint32_t /*timeoutMs*/) { return true; }
    // Waits up to timeoutMs for one byte: 1 read, 0 none in time, -1 error.
    virtual int ReadOne(uint8_t* byte, uint32_t timeoutMs) = 0;
};

using SerialOpenError = OpenError;

// A port as a listing sees it, without opening it: opening a line raises its modem lines
// and resets some boards, so a listing only looks.
struct SerialPortInfo {
    int number = 0;
    std::string device;
    // What can be known without opening: NoPermission, InUse (where the system tells, for
    // instance another program's lock), NotATerminal, NoDevice (no hardware behind it).
    // None = present and nothing known stops an open; only an open can tell for sure.
    SerialOpenError state = SerialOpenError::None;
    std::string detail;
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // The device behind a COM number, which OpenDevice opens: a path on POSIX
    // ("/dev/ttyS2"), a name on Windows ("\\.\COM3"). Empty when the number has none,
    // and for a backend that knows its ports by number only (it opens them in OpenPort).
    virtual std::string DeviceOf(int number) {
        (void)number;
        return {};
    }
    // Opens a port by its device. Null when it cannot be opened; *why says why. The
    // default knows no devices by name.
    virtual std::unique_ptr<SerialPort> OpenDevice(const std::string& device, OpenFailure* why);
    // Opens COM `number`; null when it cannot be opened, *error says why. The default
    // opens DeviceOf(number).
    virtual std::unique_ptr<SerialPort> OpenPort(int number, SerialOpenError* error);
    // The numbers whose device exists, with what can be known about them without opening
    // any (see SerialPortInfo).
    virtual std::vector<SerialPortInfo> ListPorts() = 0;
};

SerialBackend& GetSerialBackend();
// nullptr restores the operating system's backend. The caller keeps ownership.
void SetSerialBackend(SerialBackend* backend);
SerialBackend& OsSerialBackend();

// The port table. During a run a port is closed only by opening it again; CloseAll is for
// the ways out of the program (below), tests, and a backend that goes away. Closing a port
// puts back the line settings found at its open and clears its exclusive flag.
namespace PortTable {
bool IsOpen(int port);
// The device COM `port` opens: the one given to SetDevice, else the backend's DeviceOf.
// Empty for a number outside 1 to 200 or without a device.
std::string Device(int port);
// From now on COM `port` opens `device` (a path on POSIX, a name such as "\\.\COM12" on
// Windows) through the backend's OpenDevice; an empty device gives the number back to the
// backend's own. A port open under the number is closed first. False for a number
// outside 1 to 200.
bool SetDevice(int port, const std::string& device);
void CloseAll();
}  // namespace PortTable

// Every port left as the program found it, on every way out: one of these in main closes
// all open ports when it goes out of scope (normal exit, window closed, script end), and
// the signal path below covers SIGINT, SIGTERM and SIGHUP. Construct it after anything
// that installs a backend (a simulation), so that it closes its ports before that goes.
class PortsLeftAsFound {
public:
    PortsLeftAsFound();
    ~PortsLeftAsFound();
    PortsLeftAsFound(const PortsLeftAsFound&) = delete;
    PortsLeftAsFound& operator=(const PortsLeftAsFound&) = delete;
};

// The platform's signal path: on SIGINT, SIGTERM and SIGHUP every line still open gets
// back the settings found at its open and loses its exclusive flag, then the signal ends
// the program as it would have. Signals the program was started to ignore stay ignored.
void RestorePortsOnSignals();

inline const char* SerialOpenErrorText(SerialOpenError e) {
    return OpenErrorText(e);
}

}  // namespace zarn
