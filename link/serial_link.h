// The serial link: COM ports by number (1 to 200), one handle per number in the port
// table. A port stays open until the next Open of the same number. Results: 0 = success,
// -1 = failure, for every operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int PORT_COUNT = 200;
constexpr uint32_t SERIAL_WRITE_DEADLINE_MS = 3500;

namespace SerialLink {

int Open(int port, uint32_t baudRate, uint8_t byteSize, uint8_t parity);
int WriteByte(int port, int value);
int ReadByte(int port, uint8_t* byte, uint32_t timeoutMs);

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
    // Waits up to timeoutMs for one byte: 1 read, 0 none in time, -1 error.
    virtual int ReadOne(uint8_t* byte, uint32_t timeoutMs) = 0;
};

enum class SerialOpenError { None, NoDevice, InUse, NoPermission, NotATerminal, Other };

struct SerialPortInfo {
    int number = 0;
    std::string device;
    SerialOpenError state = SerialOpenError::None;  // None = could be opened
    std::string detail;
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // Null when the port cannot be opened; *error says why.
    virtual std::unique_ptr<SerialPort> OpenPort(int number, SerialOpenError* error) = 0;
    // The numbers whose device exists, with the device and whether it can be opened.
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

const char* SerialOpenErrorText(SerialOpenError e);

}  // namespace zarn
