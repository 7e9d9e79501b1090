// The serial link over the port table. The link keeps the rules callers rely on (port
// numbers 1 to 200, reopen on every open, 0/-1 results, the write deadline and the read
// time-out on the program's clock); the backend only opens ports and moves single bytes.
#include "link/serial_link.h"

#include <array>

#include "base/clock.h"

namespace zarn {
namespace {

using Table = std::array<std::unique_ptr<SerialPort>, PORT_COUNT>;

// Never destroyed, so that no port outlives the backend that made it during static
// destruction: the programs close the ports on their way out (PortsLeftAsFound).
Table& Ports() {
    static Table* table = new Table();
    return *table;
}

// Per number: the device given to PortTable::SetDevice (empty: the backend's own), and why
// the last open failed.
struct EntryInfo {
    std::string device;
    OpenFailure lastOpen;
    // While a SerialLink::Hold lasts: the settings the port was opened with.
    bool held = false;
    bool settingsKnown = false;
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;
    uint8_t parity = 0;
};
std::array<EntryInfo, PORT_COUNT>& Infos() {
    static auto* infos = new std::array<EntryInfo, PORT_COUNT>();
    return *infos;
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

std::unique_ptr<SerialPort> SerialBackend::OpenDevice(const std::string& device, OpenFailure* why) {
    if (why) *why = {OpenError::NoDevice, device + ": this link opens its ports by number only"};
    return nullptr;
}

std::unique_ptr<SerialPort> SerialBackend::OpenPort(int number, SerialOpenError* error) {
    const std::string device = DeviceOf(number);
    OpenFailure why{OpenError::NoDevice, {}};
    std::unique_ptr<SerialPort> port = device.empty() ? nullptr : OpenDevice(device, &why);
    if (error) *error = port ? OpenError::None : why.error;
    return port;
}

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

std::string Device(int port) {
    if (!InRange(port)) return {};
    const std::string& given = Infos()[port - 1].device;
    return given.empty() ? GetSerialBackend().DeviceOf(port) : given;
}

bool SetDevice(int port, const std::string& device) {
    if (!InRange(port)) return false;
    Ports()[port - 1].reset();
    const bool held = Infos()[port - 1].held;
    Infos()[port - 1] = EntryInfo{};
    Infos()[port - 1].device = device;
    Infos()[port - 1].held = held;
    return true;
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

const char* OpenErrorText(OpenError e) {
    switch (e) {
        case OpenError::None:
            return "ok";
        case OpenError::NoDevice:
            return "no device";
        case OpenError::InUse:
            return "in use";
        case OpenError::NoPermission:
            return "no permission";
        case OpenError::NotATerminal:
            return "not a terminal";
        case OpenError::Other:
            break;
    }
    return "cannot open";
}

std::string OpenFailureText(const OpenFailure& failure) {
    std::string text = OpenErrorText(failure.error);
    if (!failure.detail.empty()) text += " (" + failure.detail + ")";
    return text;
}

}  // namespace zarn

namespace SerialLink {

int Open(int port, uint32_t baudRate, uint8_t byteSize, uint8_t parity) {
    if (!zarn::InRange(port)) return -1;
    auto& entry = zarn::Ports()[port - 1];
    zarn::EntryInfo& info = zarn::Infos()[port - 1];
    // Held and open with these settings: the same line, only emptied.
    if (entry && info.held && info.settingsKnown && info.baudRate == baudRate &&
        info.byteSize == byteSize && info.parity == parity) {
        entry->Purge();
        info.lastOpen = {};
        return 0;
    }
    // The previous handle goes first, so that our own hold never refuses the reopen.
    entry.reset();
    info.settingsKnown = false;

    zarn::SerialBackend& backend = zarn::GetSerialBackend();
    zarn::OpenFailure why{zarn::OpenError::NoDevice, {}};
    if (!info.device.empty()) {
        entry = backend.OpenDevice(info.device, &why);
    } else if (const std::string device = backend.DeviceOf(port); !device.empty()) {
        entry = backend.OpenDevice(device, &why);
    } else {
        entry = backend.OpenPort(port, &why.error);
        if (!entry && why.error == zarn::OpenError::None) why.error = zarn::OpenError::Other;
    }
    if (!entry) {
        info.lastOpen = why;
        return -1;
    }
    // Settings that cannot be read leave the handle in the table until the next open.
    if (!entry->ReadSettings()) {
        info.lastOpen = {zarn::OpenError::Other, "its line settings cannot be read"};
        return -1;
    }
    if (!entry->ApplySettings(baudRate, byteSize, parity)) {
        entry.reset();
        info.lastOpen = {zarn::OpenError::Other, "its line settings cannot be applied"};
        return -1;
    }
    entry->Purge();
    info.lastOpen = {};
    info.settingsKnown = true;
    info.baudRate = baudRate;
    info.byteSize = byteSize;
    info.parity = parity;
    return 0;
}

Hold::Hold(int port) : m_port(port) {
    if (zarn::InRange(port)) zarn::Infos()[port - 1].held = true;
}

Hold::~Hold() {
    if (zarn::InRange(m_port)) zarn::Infos()[m_port - 1].held = false;
}

zarn::OpenFailure LastOpenError(int port) {
    if (!zarn::InRange(port))
        return {zarn::OpenError::NoDevice,
                "COM numbers go from 1 to " + std::to_string(PORT_COUNT)};
    return zarn::Infos()[port - 1].lastOpen;
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
    // The time-outs are set apart from the wait: setting them may take longer than a
    // short time-out itself, and that time is not the byte's.
    if (!p->SetReadTimeout(timeoutMs)) return -1;
    // A byte that has left the port is handed over even when the read ran past the
    // time-out: reporting it as missing would lose it for good.
    return p->ReadOne(byte, timeoutMs) == 1 ? 0 : -1;
}

}  // namespace SerialLink
