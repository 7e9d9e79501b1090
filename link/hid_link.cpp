// The HID link over whichever backend is installed: the operating system's (hidraw on
// Linux, SetupAPI/HID on Windows) or a simulated one. The link itself keeps no state
// between calls; a handle is the opened device and nothing else.
#include "link/hid_link.h"

#include <cerrno>
#include <utility>

#include "base/clock.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zarn {

// Defined by the platform backend file (link/linux/, link/win32/, link/web/).
#if defined(__linux__) || defined(_WIN32) || defined(__EMSCRIPTEN__)
HidBackend& PlatformHidBackend();
#else
namespace {
// Platforms without a HID backend yet: nothing is ever present.
class NoHidBackend final : public HidBackend {
public:
    std::vector<std::string> EnumerateInterfaces() override { return {}; }
    std::unique_ptr<HidDevice> OpenInterface(const std::string&, std::string* why) override {
        if (why) *why = "no HID support on this platform";
        return nullptr;
    }
};
}  // namespace

HidBackend& PlatformHidBackend() {
    static NoHidBackend backend;
    return backend;
}
#endif

std::unique_ptr<HidDevice> HidBackend::OpenDevice(const std::string& path, OpenFailure* why) {
    std::string text;
    std::unique_ptr<HidDevice> device = OpenInterface(path, &text);
    if (why) *why = device ? OpenFailure{} : OpenFailure{OpenError::Other, text};
    return device;
}

namespace {
HidBackend* g_hidBackend = nullptr;
thread_local OpenFailure t_lastOpen;

// The reader this program holds across exchanges (HidLink::Hold), with the ids it was
// opened under.
struct HeldReader {
    HidDevice* device = nullptr;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};
HeldReader g_held;

// A handle on the held device: every call goes to it, and closing the handle closes
// nothing.
class HeldHandle final : public HidDevice {
public:
    explicit HeldHandle(HidDevice& device) : m_device(device) {}
    bool GetAttributes(uint16_t* vendorId, uint16_t* productId) override {
        return m_device.GetAttributes(vendorId, productId);
    }
    bool GetReportLengths(uint16_t* input, uint16_t* output) override {
        return m_device.GetReportLengths(input, output);
    }
    int Write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
              bool* completedAtOnce) override {
        return m_device.Write(buffer, length, timeoutMs, completedAtOnce);
    }
    int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
             bool* completedAtOnce) override {
        return m_device.Read(buffer, length, timeoutMs, completedAtOnce);
    }
    void DropPending() override { m_device.DropPending(); }

private:
    HidDevice& m_device;
};

// Two programs on one reader would each read the other's answers: an exchange owns the
// reader from its open to its close, and a second one waits a little for it, on the
// program's clock, then gives up as if no reader were there.
bool HoldWithin(HidDevice& device) {
    Clock& clock = GetClock();
    const uint32_t start = clock.NowMs();
    while (!device.TryHold()) {
        if (clock.NowMs() - start >= HID_HOLD_WAIT_MS) return false;
        clock.SleepMs(HID_HOLD_POLL_MS);
    }
    return true;
}
}  // namespace

HidBackend& OsHidBackend() {
    return PlatformHidBackend();
}

HidBackend& GetHidBackend() {
    return g_hidBackend ? *g_hidBackend : OsHidBackend();
}

void SetHidBackend(HidBackend* backend) {
    g_hidBackend = backend;
}

std::vector<HidInterfaceInfo> DescribeHidInterfaces() {
    HidBackend& backend = GetHidBackend();
    std::vector<HidInterfaceInfo> result;
    for (const std::string& path : backend.EnumerateInterfaces()) {
        HidInterfaceInfo info;
        info.path = path;
        std::string why;
        std::unique_ptr<HidDevice> device = backend.OpenInterface(path, &why);
        if (device) {
            info.openable = true;
            info.haveIds = device->GetAttributes(&info.vendorId, &info.productId);
            if (!device->GetReportLengths(&info.inputLength, &info.outputLength)) {
                info.inputLength = 0;
                info.outputLength = 0;
            }
        } else {
            // What the backend can tell without opening is still worth showing: a
            // reader the user may not open is exactly what they need to recognise.
            HidInterfaceInfo peeked;
            if (backend.PeekInterface(path, &peeked)) {
                info.haveIds = peeked.haveIds;
                info.vendorId = peeked.vendorId;
                info.productId = peeked.productId;
                info.inputLength = peeked.inputLength;
                info.outputLength = peeked.outputLength;
            }
            info.whyNot = why.empty() ? "cannot be opened" : why;
        }
        result.push_back(std::move(info));
    }
    return result;
}

}  // namespace zarn

namespace HidLink {

HidHandle Open(uint16_t vendorId, uint16_t productId) {
    return OpenInstance(vendorId, productId, 1);
}

HidHandle OpenInstance(uint16_t vendorId, uint16_t productId, uint16_t instance) {
    using zarn::OpenError;
    using zarn::OpenFailure;
    OpenFailure& last = zarn::t_lastOpen;
    if (instance == 0) {
#ifdef _WIN32
        SetLastError(ERROR_INVALID_PARAMETER);
#endif
        errno = EINVAL;
        last = {OpenError::Other, "instance 0"};
        return INVALID_HID_HANDLE;
    }
    // The reader this program holds is handed out as it is: waiting for our own hold would
    // only time out.
    if (zarn::g_held.device && instance == 1 && zarn::g_held.vendorId == vendorId &&
        zarn::g_held.productId == productId) {
        zarn::g_held.device->DropPending();
        last = {};
        return new zarn::HeldHandle(*zarn::g_held.device);
    }
    zarn::HidBackend& backend = zarn::GetHidBackend();
    unsigned remaining = instance;
    // No interface with the ids, unless one that could not be opened shows them.
    OpenFailure failure{OpenError::NoDevice, {}};
    for (const std::string& path : backend.EnumerateInterfaces()) {
        // Interfaces that cannot be opened, or whose ids cannot be read, are skipped;
        // every interface opened here and not returned is closed again at once.
        OpenFailure why;
        std::unique_ptr<zarn::HidDevice> device = backend.OpenDevice(path, &why);
        if (!device) {
            // What the backend can learn without opening tells whether this was the reader:
            // then its failure is the reason, not "no device".
            zarn::HidInterfaceInfo peeked;
            if (failure.error == OpenError::NoDevice && backend.PeekInterface(path, &peeked) &&
                peeked.haveIds && peeked.vendorId == vendorId && peeked.productId == productId) {
                failure = why;
                if (failure.error == OpenError::None) failure.error = OpenError::Other;
                failure.detail = path + (failure.detail.empty() ? "" : ": " + failure.detail);
            }
            continue;
        }
        uint16_t vid = 0, pid = 0;
        if (!device->GetAttributes(&vid, &pid) || vid != vendorId || pid != productId) continue;
        if (--remaining == 0) {
            if (!zarn::HoldWithin(*device)) {
                last = {OpenError::InUse, path + ": another program holds it"};
                return INVALID_HID_HANDLE;
            }
            last = {};
            return device.release();
        }
    }
    last = failure;
    return INVALID_HID_HANDLE;
}

uint16_t InputReportLength(HidHandle handle) {
    if (handle == INVALID_HID_HANDLE) return 0;
    uint16_t input = 0, output = 0;
    if (!handle->GetReportLengths(&input, &output)) return 0;
    return input;
}

uint16_t OutputReportLength(HidHandle handle) {
    if (handle == INVALID_HID_HANDLE) return 0;
    uint16_t input = 0, output = 0;
    if (!handle->GetReportLengths(&input, &output)) return 0;
    return output;
}

int WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* written,
                uint32_t timeoutMs) {
    if (handle == INVALID_HID_HANDLE || buffer == nullptr) return 0;
    bool atOnce = false;
    int result = handle->Write(buffer, length, timeoutMs, &atOnce);
    if (result != 1) return 0;
    // As with an overlapped transfer, the count is known only when it finished at once.
    if (atOnce && written) *written = length;
    return 1;
}

int ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* read,
               uint32_t timeoutMs) {
    if (handle == INVALID_HID_HANDLE || buffer == nullptr) return 0;
    bool atOnce = false;
    int result = handle->Read(buffer, length, timeoutMs, &atOnce);
    if (result != 1) return 0;
    if (atOnce && read) *read = length;
    return 1;
}

void Close(HidHandle handle) {
    delete handle;
}

zarn::OpenFailure LastOpenError() {
    return zarn::t_lastOpen;
}

bool Hold::Take(uint16_t vendorId, uint16_t productId) {
    if (m_device || zarn::g_held.device) {
        zarn::t_lastOpen = {zarn::OpenError::Other, "this program holds a reader already"};
        return false;
    }
    HidHandle handle = OpenInstance(vendorId, productId, 1);
    if (handle == INVALID_HID_HANDLE) return false;
    m_device = handle;
    zarn::g_held = {handle, vendorId, productId};
    return true;
}

void Hold::Release() {
    if (!m_device) return;
    if (zarn::g_held.device == m_device) zarn::g_held = {};
    delete m_device;
    m_device = nullptr;
}

}  // namespace HidLink
