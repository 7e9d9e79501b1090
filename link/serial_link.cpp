// The serial link over the port table. The link keeps the rules callers rely on (port
// numbers 1 to 200, reopen on every open, 0/-1 results, the write deadline and the read
// time-out on the program's clock); the backend only opens ports and moves single bytes.
#include "link/serial_link.h"

#include <array>

#include "link/clock.h"

namespace zarn {
namespace {

using Table = std::array<std::unique_ptr<SerialPort>, PORT_COUNT>;

// Never destroyed, so that no port outlives the backend that made it during static
// destruction: the programs close the ports on their way out (PortsLeftAsFound).
Table& Ports() {
    static Table* table = new Table();
    return *table;
}

SerialBackend* g_backend = nullptr;

bool InRange(int port) {
    return port >= 1 && port <= PORT_COUNT;
}

SerialPort* Entry(int port) {
    return InRange(port) ? Ports()[port - 1].get() : nullptr;
}

// Tick counts wrap; a deadline is passed when the signed distance to it is positive.
bool Past(uint32_t now, uint32_t deadline) {
    return static_cast<int32_t>(now - deadline) > 0;
}

}  // namespace

SerialBackend& GetSerialBackend() {
    return g_backend ? *g_backend : OsSerialBackend();
}

void SetSerialBackend(SerialBackend* backend) {
    g_backend = backend;
}

namespace PortTable {

bool IsOpen(int port) {
    return Entry(port) != nullptr;
}

void CloseAll() {
    for (auto& entry : Ports()) entry.reset();
}

}  // namespace PortTable

PortsLeftAsFound::PortsLeftAsFound() {
    RestorePortsOnSignals();
}

PortsLeftAsFound::~PortsLeftAsFound() {
    PortTable::CloseAll();
}

#ifdef _WIN32
// The system closes the handles of an ended process; nothing here changes a line beyond
// what the next opener sets again.
void RestorePortsOnSignals() {}
#endif

const char* SerialOpenErrorText(SerialOpenError e) {
    switch (e) {
        case SerialOpenError::None:
            return "ok";
        case SerialOpenError::NoDevice:
            return "no device";
        case SerialOpenError::InUse:
            return "in use";
        case SerialOpenError::NoPermission:
            return "no permission";
        case SerialOpenError::NotATerminal:
            return "not a terminal";
        case SerialOpenError::Other:
            break;
    }
    return "cannot open";
}

}  // namespace zarn

namespace SerialLink {

int Open(int port, uint32_t baudRate, uint8_t byteSize, uint8_t parity) {
    if (!zarn::InRange(port)) return -1;
    auto& entry = zarn::Ports()[port - 1];
    // The previous handle goes first, so that our own hold never refuses the reopen.
    entry.reset();

    zarn::SerialOpenError error = zarn::SerialOpenError::None;
    entry = zarn::GetSerialBackend().OpenPort(port, &error);
    if (!entry) return -1;
    // Settings that cannot be read leave the handle in the table until the next open.
    if (!entry->ReadSettings()) return -1;
    if (!entry->ApplySettings(baudRate, byteSize, parity)) {
        entry.reset();
        return -1;
    }
    entry->Purge();
    return 0;
}

int WriteByte(int port, int value) {
    zarn::SerialPort* p = zarn::Entry(port);
    if (!p) return -1;
    const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    zarn::Clock& clock = zarn::GetClock();
    const uint32_t deadline = clock.NowMs() + SERIAL_WRITE_DEADLINE_MS;
    for (;;) {
        const uint32_t before = clock.NowMs();
        const int r = p->WriteOne(byte);
        if (r < 0) return -1;
        const uint32_t now = clock.NowMs();
        // Checked before the result: a byte that went out late still counts as a failure.
        if (zarn::Past(now, deadline)) return -1;
        if (r == 1) return 0;
        // A backend that could not wait must not spin on a clock that stands still.
        if (now == before) clock.SleepMs(1);
    }
}

int ReadByte(int port, uint8_t* byte, uint32_t timeoutMs) {
    zarn::SerialPort* p = zarn::Entry(port);
    if (!p || !byte) return -1;
    zarn::Clock& clock = zarn::GetClock();
    const uint32_t deadline = clock.NowMs() + timeoutMs;
    const int r = p->ReadOne(byte, timeoutMs);
    if (r <= 0) return -1;
    // A byte taken after the deadline has left the port but is reported as a failure.
    if (zarn::Past(clock.NowMs(), deadline)) return -1;
    return 0;
}

}  // namespace SerialLink
