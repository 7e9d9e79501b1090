// Every operation of the dialog against a reader whose every answer comes from the fuzzer:
// which HID interfaces exist and with what ids and report lengths, whether each transfer
// works, how long it takes and what bytes and how many come back, and the same for each
// COM port byte. Runs on a virtual clock that starts anywhere, so tick-count wrap is
// covered too.
//
// Besides crashes and undefined behaviour it checks what must hold whatever the reader
// does: every operation ends; no HID handle outlives the operation that opened it; report
// buffers are as long as the device's reports and reads always have a time-out; a settings
// file is either left as it was or holds exactly one 56-byte image.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>

#include "base/clock.h"
#include "fuzz/fuzz_support.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "protocol/reader_config.h"

namespace {

// More backend calls than any operation needs by far (the longest, a serial download that
// keeps failing to write, makes a few thousand): beyond this an operation does not end.
constexpr long CALL_BUDGET = 200000;

struct World {
    explicit World(FuzzedDataProvider& f) : fdp(f), clock(f.ConsumeIntegral<uint32_t>()) {}
    FuzzedDataProvider& fdp;
    zarn::VirtualClock clock;
    long calls = 0;
    int openDevices = 0;

    void Count() {
        FUZZ_CHECK(++calls <= CALL_BUDGET, "an operation made %ld backend calls", calls);
    }
    // Milliseconds a transfer takes: mostly short, sometimes past any time-out.
    uint32_t Delay(uint32_t typical) {
        switch (fdp.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return 0;
            case 1:
                return fdp.ConsumeIntegralInRange<uint32_t>(0, 20);
            case 2:
                return fdp.ConsumeIntegralInRange<uint32_t>(0, typical + typical / 2 + 1);
            default:
                return fdp.ConsumeIntegralInRange<uint32_t>(0, 100000);
        }
    }
};

struct Interface {
    uint16_t vendorId = 0, productId = 0;
    bool openable = true, idsReadable = true, lengthsReadable = true;
    uint16_t inputLength = 9, outputLength = 9;
};

uint16_t PickLength(FuzzedDataProvider& fdp) {
    static const uint16_t kLengths[] = {9, 0, 1, 8, 10, 64, 65, 4096};
    const size_t pick = fdp.ConsumeIntegralInRange<size_t>(0, std::size(kLengths));
    if (pick < std::size(kLengths)) return kLengths[pick];
    return fdp.ConsumeIntegralInRange<uint16_t>(0, 1024);
}

class FuzzHidDevice final : public zarn::HidDevice {
public:
    FuzzHidDevice(World& w, const Interface& i) : m_w(w), m_i(i) { ++m_w.openDevices; }
    ~FuzzHidDevice() override { --m_w.openDevices; }

    bool GetAttributes(uint16_t* vendorId, uint16_t* productId) override {
        m_w.Count();
        if (!m_i.idsReadable || m_w.fdp.ConsumeIntegralInRange(0, 15) == 15) return false;
        *vendorId = m_i.vendorId;
        *productId = m_i.productId;
        return true;
    }
    bool GetReportLengths(uint16_t* input, uint16_t* output) override {
        m_w.Count();
        if (!m_i.lengthsReadable) return false;
        *input = m_i.inputLength;
        *output = m_i.outputLength;
        return true;
    }
    int Write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
              bool* completedAtOnce) override {
        m_w.Count();
        FUZZ_CHECK(buffer != nullptr, "write without a buffer");
        if (m_i.lengthsReadable && m_i.outputLength >= 9)
            FUZZ_CHECK(length == m_i.outputLength, "output report of %u bytes, device's %u", length,
                       m_i.outputLength);
        FUZZ_CHECK(length >= 1 && buffer[0] == 0, "output report without report id 0");
        // Every byte of the report must be readable (ASan sees to that).
        volatile uint8_t sum = 0;
        for (uint32_t k = 0; k < length; ++k) sum = sum ^ buffer[k];
        *completedAtOnce = true;
        switch (m_w.fdp.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return 1;
            case 1:
                return 0;
            default: {
                const uint32_t d = m_w.Delay(1000);
                *completedAtOnce = d == 0;
                if (timeoutMs != HID_NO_TIMEOUT && d > timeoutMs) {
                    m_w.clock.SleepMs(timeoutMs);
                    return 0;
                }
                m_w.clock.SleepMs(d);
                return 1;
            }
        }
    }
    int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, bool* completedAtOnce) override {
        m_w.Count();
        FUZZ_CHECK(buffer != nullptr, "read without a buffer");
        FUZZ_CHECK(timeoutMs != HID_NO_TIMEOUT, "a read without a time-out");
        if (m_i.lengthsReadable && m_i.inputLength >= 9)
            FUZZ_CHECK(length == m_i.inputLength, "input buffer of %u bytes, device's %u", length,
                       m_i.inputLength);
        *completedAtOnce = true;
        switch (m_w.fdp.ConsumeIntegralInRange(0, 3)) {
            case 0:  // nothing in time
                m_w.clock.SleepMs(timeoutMs);
                *completedAtOnce = false;
                return 0;
            case 1:  // the device failed or went away
                return 0;
            default: {
                const uint32_t d = m_w.Delay(timeoutMs);
                if (d > timeoutMs) {
                    m_w.clock.SleepMs(timeoutMs);
                    *completedAtOnce = false;
                    return 0;
                }
                m_w.clock.SleepMs(d);
                *completedAtOnce = d == 0;
                // The driver fills the caller's buffer whatever the report's own length:
                // the bytes that came, zeros after a short one, a long one cut.
                const size_t got = m_w.fdp.ConsumeIntegralInRange<size_t>(0, 2 * length + 2);
                const std::vector<uint8_t> bytes = m_w.fdp.ConsumeBytes<uint8_t>(got);
                std::memset(buffer, 0, length);
                if (!bytes.empty())
                    std::memcpy(buffer, bytes.data(), std::min<size_t>(bytes.size(), length));
                return 1;
            }
        }
    }

private:
    World& m_w;
    const Interface& m_i;
};

class FuzzHidBackend final : public zarn::HidBackend {
public:
    FuzzHidBackend(World& w) : m_w(w) {
        // One reader when the input says nothing else; none is possible too.
        const int count = (1 + w.fdp.ConsumeIntegralInRange(0, 3)) % 4;
        for (int k = 0; k < count; ++k) {
            Interface i;
            static const uint16_t kVendors[] = {0x0801, 0x0802, 0x0800, 0x1801};
            i.vendorId = kVendors[w.fdp.ConsumeIntegralInRange<size_t>(0, 3)];
            i.productId = w.fdp.ConsumeBool() ? 0x0006 : 0x0005;
            i.openable = !w.fdp.ConsumeBool();
            i.idsReadable = !w.fdp.ConsumeBool();
            i.lengthsReadable = !w.fdp.ConsumeBool();
            i.inputLength = PickLength(w.fdp);
            i.outputLength = PickLength(w.fdp);
            m_interfaces.push_back(i);
        }
    }
    std::vector<std::string> EnumerateInterfaces() override {
        m_w.Count();
        std::vector<std::string> paths;
        // An interface may be unplugged at any moment.
        for (size_t k = 0; k < m_interfaces.size(); ++k)
            if (m_w.fdp.ConsumeIntegralInRange(0, 7) != 7) paths.push_back(std::to_string(k));
        return paths;
    }
    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string& path,
                                                   std::string* why) override {
        m_w.Count();
        const size_t k = std::stoul(path);
        FUZZ_CHECK(k < m_interfaces.size(), "unknown interface %s", path.c_str());
        if (!m_interfaces[k].openable) {
            if (why) *why = "no permission";
            return nullptr;
        }
        return std::make_unique<FuzzHidDevice>(m_w, m_interfaces[k]);
    }

private:
    World& m_w;
    std::vector<Interface> m_interfaces;
};

class FuzzSerialPort final : public zarn::SerialPort {
public:
    explicit FuzzSerialPort(World& w) : m_w(w) {}
    bool ReadSettings() override {
        m_w.Count();
        return !m_w.fdp.ConsumeBool();
    }
    bool ApplySettings(uint32_t, uint8_t, uint8_t) override {
        m_w.Count();
        return !m_w.fdp.ConsumeBool();
    }
    void Purge() override { m_w.Count(); }
    int WriteOne(uint8_t) override {
        m_w.Count();
        switch (m_w.fdp.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return 1;
            case 1:  // not yet; a real backend spends some time finding that out
                m_w.clock.SleepMs(m_w.fdp.ConsumeIntegralInRange<uint32_t>(0, 200));
                return 0;
            case 2:
                return -1;
            default:
                m_w.clock.SleepMs(m_w.Delay(1000));
                return 1;
        }
    }
    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        m_w.Count();
        switch (m_w.fdp.ConsumeIntegralInRange(0, 3)) {
            case 0:
                m_w.clock.SleepMs(timeoutMs);
                return 0;
            case 1:
                return -1;
            default: {
                // A byte that arrives a little late is taken off the line all the same.
                const uint32_t d = m_w.Delay(timeoutMs);
                if (d > timeoutMs + 20) {
                    m_w.clock.SleepMs(timeoutMs);
                    return 0;
                }
                m_w.clock.SleepMs(d);
                *byte = m_w.fdp.ConsumeIntegral<uint8_t>();
                return 1;
            }
        }
    }

private:
    World& m_w;
};

class FuzzSerialBackend final : public zarn::SerialBackend {
public:
    explicit FuzzSerialBackend(World& w) : m_w(w) {}
    std::unique_ptr<zarn::SerialPort> OpenPort(int number, zarn::SerialOpenError* error) override {
        m_w.Count();
        FUZZ_CHECK(number >= 1 && number <= PORT_COUNT, "open of COM%d", number);
        const int kind = m_w.fdp.ConsumeIntegralInRange(0, 4);
        if (kind == 0) return std::make_unique<FuzzSerialPort>(m_w);
        if (error) *error = static_cast<zarn::SerialOpenError>(kind);
        return nullptr;
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override { return {}; }

private:
    World& m_w;
};

// Puts the backends and the clock in place for one input and takes them away again.
class Installed {
public:
    Installed(World& w, FuzzHidBackend& hid, FuzzSerialBackend& serial) : m_clock(w.clock) {
        zarn::SetHidBackend(&hid);
        zarn::SetSerialBackend(&serial);
    }
    ~Installed() {
        zarn::PortTable::CloseAll();
        zarn::SetHidBackend(nullptr);
        zarn::SetSerialBackend(nullptr);
    }

private:
    zarn::ScopedClock m_clock;
};

constexpr int OPTION_CLICKS[] = {
    IDC_OUTPUT_TRACK1,  IDC_OUTPUT_TRACK2, IDC_OUTPUT_TRACK3, IDC_END_TRACK1,
    IDC_END_TRACK2,     IDC_END_TRACK3,    IDC_END_PACKET,    IDC_DISABLE_SS,
    IDC_DISABLE_ES,     IDC_PREFIX_CHECK,  IDC_SUFFIX_CHECK,  IDC_DISABLE_AUTO_OUTPUT,
    IDC_TRIM_NO_CHANGE, IDC_TRIM_SPACES,   IDC_BEEP_ON,       IDC_BEEP_OFF,
    IDC_TRACK1_CRLF,    IDC_TRACK1_CR,     IDC_TRACK2_CRLF,   IDC_TRACK2_CR,
    IDC_TRACK3_CRLF,    IDC_TRACK3_CR,     IDC_PACKET_CRLF,   IDC_PACKET_CR,
    IDC_STX_NO,         IDC_STX_YES};
constexpr int OPTION_EDITS[] = {IDC_TRACK1_SS,    IDC_TRACK2_SS,    IDC_TRACK3_SS,   IDC_TRACK1_ES,
                                IDC_TRACK2_ES,    IDC_TRACK3_ES,    IDC_PREFIX,      IDC_SUFFIX,
                                IDC_TRIM_COUNT,   IDC_TRACK1_END,   IDC_TRACK2_END,  IDC_TRACK3_END,
                                IDC_TRACK1_START, IDC_TRACK2_START, IDC_TRACK3_START};

template <size_t N>
int Pick(FuzzedDataProvider& fdp, const int (&ids)[N]) {
    return ids[fdp.ConsumeIntegralInRange<size_t>(0, N - 1)];
}

// A settings file is replaced whole or not at all.
void CheckSettingsFile(const std::string& path, const std::optional<std::vector<uint8_t>>& before,
                       const std::string& status) {
    const auto after = fuzz::ReadWholeFile(path);
    if (after == before) return;
    FUZZ_CHECK(after && after->size() == protocol::CONFIG_READ_IMAGE_SIZE,
               "settings file of %zu bytes after a save", after ? after->size() : 0);
    FUZZ_CHECK(status == "Save CFG file Setup.cfg Ok", "file changed, status \"%s\"",
               status.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    World world(fdp);
    FuzzHidBackend hid(world);
    FuzzSerialBackend serial(world);
    Installed installed(world, hid, serial);
    fuzz::FreshDialog d;
    const std::string cfgPath = fuzz::ScratchDir() + "/exchanges.cfg";
    ::unlink(cfgPath.c_str());

    for (int op = 0; op < 48 && fdp.remaining_bytes() > 0; ++op) {
        world.calls = 0;
        const auto fileBefore = fuzz::ReadWholeFile(cfgPath);
        const int which = fdp.ConsumeIntegralInRange(0, 17);
        switch (which) {
            case 0:
                d.dlg.UserClick(IDC_USB);
                break;
            case 1:
                d.dlg.UserClick(IDC_SERIAL_PORT);
                break;
            case 2:
                d.dlg.UserType(IDC_COM, fdp.ConsumeRandomLengthString(5));
                break;
            case 3:
                d.dlg.UserClick(IDC_OPEN);
                break;
            case 4:
                d.dlg.UserClick(IDC_DOWNLOAD);
                break;
            case 5:
                d.dlg.UserClick(IDC_FACTORY);
                break;
            case 6:
                d.dlg.UserClick(IDC_UPLOAD);
                break;
            case 7:
            case 8:
                d.host.fileAnswers.clear();
                d.host.fileAnswers.push_back(fdp.ConsumeIntegralInRange(0, 7) == 7
                                                 ? std::optional<std::string>()
                                                 : std::optional<std::string>(cfgPath));
                d.dlg.UserClick(which == 7 ? IDC_SAVE_FILE : IDC_LOAD_FILE);
                break;
            case 9:
                d.dlg.UserClick(IDC_GET_VERSION);
                break;
            case 10:
                d.dlg.UserClick(IDC_READ_CARD);
                break;
            case 11: {
                // Timer 1 as the window runs it: each tick when it is due.
                const int ticks = fdp.ConsumeIntegralInRange(1, 64);
                for (int k = 0; k < ticks && d.dlg.TimerPeriod() != 0; ++k) {
                    world.clock.SleepMs(d.dlg.TimerPeriod());
                    d.dlg.TimerTick();
                }
                break;
            }
            case 12:
                d.dlg.UserClick(IDC_CLEAR);
                break;
            case 13:
                d.dlg.UserType(Pick(fdp, OPTION_EDITS), fdp.ConsumeRandomLengthString(18));
                break;
            case 14:
                d.dlg.UserPaste(Pick(fdp, OPTION_EDITS), fdp.ConsumeRandomLengthString(18));
                break;
            case 15:
                d.dlg.UserSetSlider(IDC_USB_SPEED, fdp.ConsumeIntegralInRange(-2, 9));
                break;
            default:
                d.dlg.UserClick(Pick(fdp, OPTION_CLICKS));
                break;
        }
        FUZZ_CHECK(world.openDevices == 0, "%d HID handles still open after operation %d",
                   world.openDevices, which);
        CheckSettingsFile(cfgPath, fileBefore, d.dlg.GetText(IDC_TEST_BOX));
        FUZZ_CHECK(!d.dlg.InHandler(), "a handler is still running");
    }
    return 0;
}
