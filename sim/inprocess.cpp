// The reader attached in-process through the link's backend seam, on a virtual clock: a
// read with a time-out moves time to the moment the report or byte is ready, or by the
// whole time-out when none comes in time; a failure is instant.
#include "sim/inprocess.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "link/hid_link.h"
#include "link/serial_link.h"
#include "sim/options.h"
#include "sim/reader.h"

namespace sim {
namespace {

constexpr uint32_t SERIAL_BAUD = 9600;

// Shared by the attachments and every handle they gave out, so that a handle kept past
// the simulation fails instead of dangling.
struct World {
    zarn::VirtualClock clock;
    Reader reader;
    bool usbAttached = true;
    uint16_t vendorId = 0x0801;
    uint16_t productId = 0x0005;
    int serialPort = 1;  // 0 = no reader on a COM port
    // Bumped on every attach and detach: handles from before then see an unplugged device.
    unsigned usbGeneration = 0;
    unsigned serialGeneration = 0;
    bool serialOpen = false;

    uint32_t Now() { return clock.NowMs(); }
    bool UsbPresent(unsigned generation) const {
        return usbAttached && generation == usbGeneration && !reader.Vanished();
    }
    bool SerialPresent(unsigned generation) const {
        return serialPort != 0 && generation == serialGeneration && !reader.Vanished();
    }
};

std::string UsbPath(const World& w) {
    char path[40];
    std::snprintf(path, sizeof path, "sim:usb:%04x:%04x", w.vendorId, w.productId);
    return path;
}

class SimHidDevice final : public zarn::HidDevice {
public:
    explicit SimHidDevice(std::shared_ptr<World> world)
        : m_world(std::move(world)), m_generation(m_world->usbGeneration) {
        m_world->reader.UsbOpened(m_world->Now());
    }
    ~SimHidDevice() override { m_world->reader.UsbClosed(m_world->Now()); }

    bool GetAttributes(uint16_t* vendorId, uint16_t* productId) override {
        if (!Present()) return false;
        *vendorId = m_world->vendorId;
        *productId = m_world->productId;
        return true;
    }

    bool GetReportLengths(uint16_t* input, uint16_t* output) override {
        if (!Present()) return false;
        const Reader& r = m_world->reader;
        if (r.InputReportLength() == 0 && r.OutputReportLength() == 0) return false;
        *input = r.InputReportLength();
        *output = r.OutputReportLength();
        return true;
    }

    int Write(const uint8_t* buffer, uint32_t length, uint32_t, bool* completedAtOnce) override {
        *completedAtOnce = true;
        if (!Present()) return 0;
        // The driver takes whole output reports only.
        if (length != ActualLength(m_world->reader.OutputReportLength())) return 0;
        return m_world->reader.UsbWrite(buffer, length, m_world->Now()) ? 1 : 0;
    }

    int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, bool* completedAtOnce) override {
        *completedAtOnce = true;
        if (!Present()) return 0;
        Reader& r = m_world->reader;
        // A buffer that cannot hold a whole input report is refused, as the driver does.
        if (length < ActualLength(r.InputReportLength())) return 0;
        const uint32_t now = m_world->Now();
        uint32_t readyAt = 0;
        const bool queued = r.UsbPeek(&readyAt);
        const int32_t wait = queued ? static_cast<int32_t>(readyAt - now) : 0;
        if (!queued || (timeoutMs != HID_NO_TIMEOUT && wait > static_cast<int32_t>(timeoutMs))) {
            // Nothing would ever come without a time-out: fail rather than hang a script.
            if (timeoutMs != HID_NO_TIMEOUT) m_world->clock.SleepMs(timeoutMs);
            *completedAtOnce = false;
            return 0;
        }
        if (wait > 0) {
            m_world->clock.AdvanceTo(readyAt);
            *completedAtOnce = false;
        }
        const std::vector<uint8_t> report = r.UsbPop(m_world->Now());
        if (report.empty()) return 0;
        std::copy(report.begin(), report.end(), buffer);
        return 1;
    }

private:
    static uint32_t ActualLength(uint16_t length) {
        // Unreadable capabilities hide the length, but the device still has one.
        return length ? length : DEFAULT_REPORT_LENGTH;
    }
    bool Present() const { return m_world->UsbPresent(m_generation); }

    std::shared_ptr<World> m_world;
    unsigned m_generation;
};

class SimHidBackend final : public zarn::HidBackend {
public:
    explicit SimHidBackend(std::shared_ptr<World> world) : m_world(std::move(world)) {}

    std::vector<std::string> EnumerateInterfaces() override {
        if (!m_world->UsbPresent(m_world->usbGeneration)) return {};
        return {UsbPath(*m_world)};
    }

    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string& path,
                                                   std::string* why) override {
        if (!m_world->UsbPresent(m_world->usbGeneration) || path != UsbPath(*m_world)) {
            if (why) *why = "no such device";
            return nullptr;
        }
        return std::make_unique<SimHidDevice>(m_world);
    }

    bool PeekInterface(const std::string& path, zarn::HidInterfaceInfo* info) override {
        if (!m_world->UsbPresent(m_world->usbGeneration) || path != UsbPath(*m_world)) {
            return false;
        }
        info->haveIds = true;
        info->vendorId = m_world->vendorId;
        info->productId = m_world->productId;
        info->inputLength = m_world->reader.InputReportLength();
        info->outputLength = m_world->reader.OutputReportLength();
        return true;
    }

private:
    std::shared_ptr<World> m_world;
};

class SimSerialPort final : public zarn::SerialPort {
public:
    explicit SimSerialPort(std::shared_ptr<World> world)
        : m_world(std::move(world)), m_generation(m_world->serialGeneration) {
        m_world->serialOpen = true;
    }
    ~SimSerialPort() override {
        if (m_generation == m_world->serialGeneration) m_world->serialOpen = false;
    }

    bool ReadSettings() override { return Present(); }

    bool ApplySettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity) override {
        if (!Present()) return false;
        // The reader talks 9600 8N1 only; other settings open fine but nothing gets through.
        m_understood = baudRate == SERIAL_BAUD && byteSize == 8 && parity == 0;
        return true;
    }

    void Purge() override {
        // Drops what already arrived; what is still on its way comes in later.
        Reader& r = m_world->reader;
        uint32_t readyAt = 0;
        while (Present() && r.SerialPeek(&readyAt, nullptr) &&
               static_cast<int32_t>(readyAt - m_world->Now()) <= 0) {
            uint8_t b;
            r.SerialPop(&b, m_world->Now());
        }
    }

    int WriteOne(uint8_t byte) override {
        if (!Present()) return -1;
        if (!m_understood) return 1;
        return m_world->reader.SerialWrite(byte, m_world->Now()) ? 1 : -1;
    }

    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        if (!Present()) return -1;
        Reader& r = m_world->reader;
        for (;;) {
            uint32_t readyAt = 0;
            const uint32_t now = m_world->Now();
            if (!r.SerialPeek(&readyAt, nullptr)) break;
            const int32_t wait = static_cast<int32_t>(readyAt - now);
            if (wait > static_cast<int32_t>(timeoutMs)) break;
            if (wait > 0) {
                m_world->clock.AdvanceTo(readyAt);
                timeoutMs -= static_cast<uint32_t>(wait);
            }
            if (!r.SerialPop(byte, m_world->Now())) return -1;
            if (m_understood) return 1;
            // A byte at the wrong line speed is lost; keep waiting for the rest.
        }
        m_world->clock.SleepMs(timeoutMs);
        return 0;
    }

private:
    bool Present() const { return m_world->SerialPresent(m_generation); }

    std::shared_ptr<World> m_world;
    unsigned m_generation;
    bool m_understood = true;
};

class SimSerialBackend final : public zarn::SerialBackend {
public:
    explicit SimSerialBackend(std::shared_ptr<World> world) : m_world(std::move(world)) {}

    std::unique_ptr<zarn::SerialPort> OpenPort(int number, zarn::SerialOpenError* error) override {
        if (number != m_world->serialPort || !m_world->SerialPresent(m_world->serialGeneration)) {
            if (error) *error = zarn::SerialOpenError::NoDevice;
            return nullptr;
        }
        if (m_world->serialOpen) {
            if (error) *error = zarn::SerialOpenError::InUse;
            return nullptr;
        }
        if (error) *error = zarn::SerialOpenError::None;
        return std::make_unique<SimSerialPort>(m_world);
    }

    std::vector<zarn::SerialPortInfo> ListPorts() override {
        if (!m_world->SerialPresent(m_world->serialGeneration)) return {};
        zarn::SerialPortInfo info;
        info.number = m_world->serialPort;
        info.device = "sim:COM" + std::to_string(m_world->serialPort);
        info.state =
            m_world->serialOpen ? zarn::SerialOpenError::InUse : zarn::SerialOpenError::None;
        return {info};
    }

private:
    std::shared_ptr<World> m_world;
};

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

// What follows the first word and one blank, as typed (version texts may hold blanks).
std::string RestAfterFirstWord(const std::string& text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) return {};
    const size_t end = text.find(' ', start);
    if (end == std::string::npos) return {};
    return text.substr(end + 1);
}

}  // namespace

struct InProcessSimulation::Impl {
    std::shared_ptr<World> world = std::make_shared<World>();
    SimHidBackend hid{world};
    SimSerialBackend serial{world};
    zarn::Clock* previousClock = nullptr;
    zarn::HidBackend* previousHid = nullptr;
    zarn::SerialBackend* previousSerial = nullptr;
};

InProcessSimulation::InProcessSimulation() : m_impl(std::make_unique<Impl>()) {
    m_impl->previousClock = &zarn::GetClock();
    m_impl->previousHid = &zarn::GetHidBackend();
    m_impl->previousSerial = &zarn::GetSerialBackend();
    // Ports opened before now belong to another backend.
    zarn::PortTable::CloseAll();
    zarn::SetClock(&m_impl->world->clock);
    zarn::SetHidBackend(&m_impl->hid);
    zarn::SetSerialBackend(&m_impl->serial);
}

InProcessSimulation::~InProcessSimulation() {
    // Our ports must not outlive the backend that made them.
    zarn::PortTable::CloseAll();
    zarn::SetSerialBackend(
        m_impl->previousSerial == &zarn::OsSerialBackend() ? nullptr : m_impl->previousSerial);
    zarn::SetHidBackend(m_impl->previousHid == &zarn::OsHidBackend() ? nullptr
                                                                     : m_impl->previousHid);
    zarn::SetClock(m_impl->previousClock);
}

zarn::VirtualClock& InProcessSimulation::Clock() {
    return m_impl->world->clock;
}

bool InProcessSimulation::Command(const std::string& args, std::ostream& out, std::string* error) {
    World& w = *m_impl->world;
    Reader& r = w.reader;
    const std::vector<std::string> words = Words(args);
    std::string scratch;
    if (!error) error = &scratch;
    auto fail = [&](const std::string& why) {
        *error = why;
        return false;
    };
    if (words.empty()) return fail("sim: missing command");
    const std::string& cmd = words[0];
    const size_t n = words.size();
    long value = 0;

    if (cmd == "usb" && n >= 2 && words[1] == "attach" && n <= 3) {
        uint16_t vid = 0x0801;
        if (n == 3) {
            const std::string& t = words[2];
            if (t.empty() || t.size() > 4 ||
                t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                return fail("sim usb attach: not a hexadecimal vendor id: " + t);
            }
            vid = static_cast<uint16_t>(std::stoul(t, nullptr, 16));
        }
        w.usbAttached = true;
        w.vendorId = vid;
        ++w.usbGeneration;
        r.Reappear();
        return true;
    }
    if (cmd == "usb" && n == 2 && words[1] == "detach") {
        w.usbAttached = false;
        ++w.usbGeneration;
        return true;
    }
    if (cmd == "serial" && n == 3 && words[1] == "attach") {
        if (!ParseNumber(words[2], 1, PORT_COUNT, &value)) {
            return fail("sim serial attach: not a COM number from 1 to 200: " + words[2]);
        }
        w.serialPort = static_cast<int>(value);
        ++w.serialGeneration;
        w.serialOpen = false;
        r.Reappear();
        return true;
    }
    if (cmd == "serial" && n == 2 && words[1] == "detach") {
        w.serialPort = 0;
        ++w.serialGeneration;
        w.serialOpen = false;
        return true;
    }
    if (cmd == "mode" && (n == 2 || n == 3)) {
        Faults f;
        if (!ParseMode(words[1], n == 3 ? words[2] : std::string(), n == 3, &f, error)) {
            return false;
        }
        r.SetFaults(f);
        return true;
    }
    if (cmd == "reports" && n == 3) {
        long in = 0, outLen = 0;
        if (!ParseNumber(words[1], 0, 4096, &in) || !ParseNumber(words[2], 0, 4096, &outLen)) {
            return fail("sim reports: two lengths from 0 to 4096");
        }
        r.SetReportLengths(static_cast<uint16_t>(in), static_cast<uint16_t>(outLen));
        return true;
    }
    if (cmd == "version") {
        if (n < 2) return fail("sim version: missing text");
        r.SetVersion(RestAfterFirstWord(args));
        return true;
    }
    if (cmd == "card") {
        const std::string tracks = n < 2 ? std::string() : RestAfterFirstWord(args);
        if (std::count(tracks.begin(), tracks.end(), '|') > 2) {
            return fail("sim card: at most three tracks: " + tracks);
        }
        r.SetCard(ParseCardTracks(tracks));
        return true;
    }
    if (cmd == "swipe" && n == 1) {
        r.Swipe(w.Now());
        return true;
    }
    if (cmd == "send" && n >= 2) {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(RestAfterFirstWord(args), &bytes)) {
            return fail("sim send: not hexadecimal bytes: " + RestAfterFirstWord(args));
        }
        r.SerialSend(bytes, w.Now());
        return true;
    }
    if (cmd == "config" && n == 1) {
        const protocol::ConfigWriteImage& image = r.KeptImage();
        out << "sim config " << HexBytes(image.data(), image.size()) << "\n";
        return true;
    }
    if (cmd == "readimage" && n == 1) {
        const protocol::ConfigReadImage image = r.ReadImage();
        out << "sim readimage " << HexBytes(image.data(), image.size()) << "\n";
        return true;
    }
    if (cmd == "log" && n == 1) {
        out << ReceivedText(r.TakeLog());
        return true;
    }
    return fail("unknown sim command: " + args);
}

}  // namespace sim
