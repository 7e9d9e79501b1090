// The HID backend on the Windows HID class driver and SetupAPI.
//
// Quirks of the platform this file works around, and why:
// - An interface's device path is only known through SetupDiGetDeviceInterfaceDetailA,
//   whose detail structure has a variable length: ask for the size first, then fetch.
// - Overlapped transfers are the only way to bound a ReadFile on a HID handle. A transfer
//   that does not finish in time is cancelled with CancelIo, and we wait for the
//   cancellation to land before the OVERLAPPED block and the caller's buffer go away;
//   otherwise the driver could complete into freed memory.
// - A transfer that pends and then fails signals its event all the same (Wine's HID class
//   driver completes a write to a vanished device that way): only GetOverlappedResult
//   tells a finished transfer from a failed one.
// - CancelIo cancels only what the calling thread started, which is every transfer of
//   this backend: all of them run on the caller's thread and finish before returning.
// - A HID interface opened without access rights (0) still answers HidD_GetAttributes and
//   HidD_GetPreparsedData; keyboards and mice refuse read/write access but can be listed.
#include <windows.h>
// clang-format off
#include <setupapi.h>
// Some toolchains' HID headers lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/hid_link.h"

namespace zarn {
namespace {

std::string ErrorText(DWORD error) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s;
}

HANDLE OpenPath(const std::string& path, DWORD access,
                DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

bool ReadAttributes(HANDLE h, uint16_t* vendorId, uint16_t* productId) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(h, &attributes)) return false;
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return true;
}

bool ReadCaps(HANDLE h, uint16_t* input, uint16_t* output) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (HidD_GetPreparsedData(h, &preparsed) != TRUE) return false;
    HIDP_CAPS caps{};
    NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) return false;
    *input = caps.InputReportByteLength;
    *output = caps.OutputReportByteLength;
    return true;
}

// The hold's mutex for an interface: in the session's namespace, named after the path
// (case-folded, as the system compares device paths; a backslash may not appear in a name).
std::string HoldName(const std::string& path) {
    std::string name = "Local\\zarn60-hid-hold-";
    for (char c : path) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        name.push_back(c);
    }
    if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
    return name;
}

class Win32HidDevice final : public HidDevice {
public:
    Win32HidDevice(HANDLE h, std::string path) : m_h(h), m_path(std::move(path)) {}
    ~Win32HidDevice() override {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
        if (m_mutex) {
            if (m_held) ReleaseMutex(m_mutex);
            CloseHandle(m_mutex);
        }
    }
    Win32HidDevice(const Win32HidDevice&) = delete;
    Win32HidDevice& operator=(const Win32HidDevice&) = delete;

    bool GetAttributes(uint16_t* vendorId, uint16_t* productId) override {
        return ReadAttributes(m_h, vendorId, productId);
    }
    bool GetReportLengths(uint16_t* input, uint16_t* output) override {
        return ReadCaps(m_h, input, output);
    }
    int Write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
              bool* completedAtOnce) override {
        return Transfer(true, const_cast<uint8_t*>(buffer), length, timeoutMs, completedAtOnce);
    }
    int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, bool* completedAtOnce) override {
        return Transfer(false, buffer, length, timeoutMs, completedAtOnce);
    }
    // Holding the reader is a handle that shares nothing: a second program's open for
    // reading and writing then fails with a sharing violation. Our own shared handle would
    // conflict with it too, so it is given up first; while another program holds the
    // reader, each try finds it busy and the handle stays closed until one succeeds.
    // A named mutex per interface path is taken first: a HID class driver that does not
    // enforce the sharing (Wine's does not) would otherwise give both programs every
    // input report, and each would read the other's answers.
    bool TryHold() override {
        if (m_held) return true;
        if (!m_mutex) {
            m_mutex = CreateMutexA(nullptr, FALSE, HoldName(m_path).c_str());
            if (!m_mutex) return false;
        }
        DWORD waited = WaitForSingleObject(m_mutex, 0);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
        m_h = OpenPath(m_path, GENERIC_READ | GENERIC_WRITE, 0);
        m_held = m_h != INVALID_HANDLE_VALUE;
        if (!m_held) ReleaseMutex(m_mutex);
        return m_held;
    }

private:
    int Transfer(bool write, uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                 bool* completedAtOnce) {
        *completedAtOnce = false;
        // Each transfer has its own event and OVERLAPPED block, for its duration only.
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!event) return 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        DWORD count = 0;
        BOOL done = write ? WriteFile(m_h, buffer, length, &count, &overlapped)
                          : ReadFile(m_h, buffer, length, &count, &overlapped);
        int result = 0;
        if (done) {
            *completedAtOnce = true;
            result = 1;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            // HID_NO_TIMEOUT is INFINITE. A transfer that finishes in time may still have
            // failed (the device went away while the report was on its way): the result is
            // its completion status, not the signalled event.
            if (WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0) {
                DWORD transferred = 0;
                result = GetOverlappedResult(m_h, &overlapped, &transferred, FALSE) ? 1 : 0;
            } else {
                CancelIo(m_h);
                DWORD ignored = 0;
                GetOverlappedResult(m_h, &overlapped, &ignored, TRUE);
            }
        }
        CloseHandle(event);
        return result;
    }

    HANDLE m_h;
    std::string m_path;
    HANDLE m_mutex = nullptr;
    bool m_held = false;
};

class Win32HidBackend final : public HidBackend {
public:
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> paths;
        GUID guid;
        HidD_GetHidGuid(&guid);
        HDEVINFO set =
            SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return paths;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) break;
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
            if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
            std::vector<uint8_t> storage(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
                continue;
            paths.emplace_back(detail->DevicePath);
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    std::unique_ptr<HidDevice> OpenInterface(const std::string& path, std::string* why) override {
        OpenFailure failure;
        std::unique_ptr<HidDevice> device = OpenDevice(path, &failure);
        if (!device && why) *why = failure.detail;
        return device;
    }

    std::unique_ptr<HidDevice> OpenDevice(const std::string& path, OpenFailure* why) override {
        HANDLE h = OpenPath(path, GENERIC_READ | GENERIC_WRITE);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            if (why) {
                // Another program's hold shares nothing: a sharing violation.
                const OpenError kind = e == ERROR_SHARING_VIOLATION ? OpenError::InUse
                                       : e == ERROR_ACCESS_DENIED   ? OpenError::NoPermission
                                       : e == ERROR_FILE_NOT_FOUND  ? OpenError::NoDevice
                                                                    : OpenError::Other;
                *why = {kind, ErrorText(e)};
            }
            return nullptr;
        }
        if (why) *why = {};
        return std::make_unique<Win32HidDevice>(h, path);
    }

    bool PeekInterface(const std::string& path, HidInterfaceInfo* info) override {
        HANDLE h = OpenPath(path, 0);
        if (h == INVALID_HANDLE_VALUE) return false;
        info->haveIds = ReadAttributes(h, &info->vendorId, &info->productId);
        bool caps = ReadCaps(h, &info->inputLength, &info->outputLength);
        CloseHandle(h);
        return info->haveIds || caps;
    }
};

}  // namespace

HidBackend& PlatformHidBackend() {
    static Win32HidBackend backend;
    return backend;
}

}  // namespace zarn
