// The HID backend of the page, over WebHID. An interface is a device the user granted
// ("webhid:N", N the page's number for it); its reports are 8 bytes with report id 0, the
// link's buffers carry the id in front as on every platform. Input reports are queued by
// the page from the moment a handle holds the device; a read takes the next one, waiting
// on the event loop up to its time-out. A report written is handed to the browser at once,
// as hidraw takes it, so the pauses between reports are the exchange's own; a report the
// browser could not send fails the next transfer. An unplugged device fails every transfer
// at once.
#include <emscripten.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/web/page_wait.h"
#include "link/hid_link.h"

extern "C" {
// link/web/web_links.js
char* zarn_hid_list();  // "N vendor product input output\n"..., malloc'd
int zarn_hid_open(int device);  // 0 opened, 1 gone, 2 refused
void zarn_hid_release(int device);
// Hands a report to the browser: 1 taken, 0 the reader is gone or its last report failed.
int zarn_hid_send(int device, int reportId, const uint8_t* data, int length);
// The next input report (id byte first) into buffer: its length, 0 none in time, -1 gone.
int zarn_hid_receive(int device, uint8_t* buffer, int length, int timeoutMs);
}

namespace zarn {

namespace {

struct PageHid {
    int number = 0;
    uint16_t vendorId = 0, productId = 0, input = 0, output = 0;
};

std::vector<PageHid> ListPageHid() {
    std::vector<PageHid> list;
    char* text = zarn_hid_list();
    std::istringstream in(text ? text : "");
    std::free(text);
    PageHid d;
    while (in >> d.number >> d.vendorId >> d.productId >> d.input >> d.output) list.push_back(d);
    return list;
}

int NumberOf(const std::string& path) {
    constexpr std::string_view prefix = "webhid:";
    if (path.rfind(prefix, 0) != 0) return 0;
    return std::atoi(path.c_str() + prefix.size());
}

class PageHidDevice final : public HidDevice {
public:
    explicit PageHidDevice(const PageHid& d) : m_d(d) {}
    ~PageHidDevice() override { zarn_hid_release(m_d.number); }

    bool GetAttributes(uint16_t* vendorId, uint16_t* productId) override {
        *vendorId = m_d.vendorId;
        *productId = m_d.productId;
        return true;
    }
    bool GetReportLengths(uint16_t* input, uint16_t* output) override {
        *input = m_d.input;
        *output = m_d.output;
        return m_d.input > 0 && m_d.output > 0;
    }
    int Write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
              bool* completedAtOnce) override {
        (void)timeoutMs;  // taken at once, as hidraw takes a report
        *completedAtOnce = false;
        if (length < 1) return 0;
        const int r = zarn_hid_send(m_d.number, buffer[0], buffer + 1, static_cast<int>(length - 1));
        *completedAtOnce = r == 1;
        return r == 1 ? 1 : 0;
    }
    int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, bool* completedAtOnce) override {
        *completedAtOnce = false;
        if (length < m_d.input) return 0;  // never a report into a buffer too small for it
        int r;
        if (web::WaitInFlight()) {
            r = zarn_hid_receive(m_d.number, buffer, static_cast<int>(length), 0);
        } else {
            const web::PageWait wait;
            r = zarn_hid_receive(m_d.number, buffer, static_cast<int>(length), Ms(timeoutMs));
        }
        *completedAtOnce = r > 0;
        return r > 0 ? 1 : 0;
    }

private:
    static int Ms(uint32_t timeoutMs) {
        return timeoutMs == HID_NO_TIMEOUT ? -1 : static_cast<int>(std::min<uint32_t>(timeoutMs, 1u << 30));
    }
    PageHid m_d;
};

class PageHidBackend final : public HidBackend {
public:
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> paths;
        for (const PageHid& d : ListPageHid()) paths.push_back("webhid:" + std::to_string(d.number));
        return paths;
    }
    std::unique_ptr<HidDevice> OpenInterface(const std::string& path, std::string* why) override {
        OpenFailure failure;
        auto device = OpenDevice(path, &failure);
        if (!device && why) *why = failure.detail;
        return device;
    }
    std::unique_ptr<HidDevice> OpenDevice(const std::string& path, OpenFailure* why) override {
        const int number = NumberOf(path);
        for (const PageHid& d : ListPageHid()) {
            if (d.number != number) continue;
            int r = 2;
            if (!web::WaitInFlight()) {
                const web::PageWait wait;
                r = zarn_hid_open(number);
            }
            if (r == 0) return std::make_unique<PageHidDevice>(d);
            if (why)
                *why = r == 1 ? OpenFailure{OpenError::NoDevice, "the reader was unplugged"}
                              : OpenFailure{OpenError::Other, "the browser refused to open it"};
            return nullptr;
        }
        if (why) *why = {OpenError::NoDevice, "no such device"};
        return nullptr;
    }
    bool PeekInterface(const std::string& path, HidInterfaceInfo* info) override {
        for (const PageHid& d : ListPageHid()) {
            if (d.number != NumberOf(path)) continue;
            info->haveIds = true;
            info->vendorId = d.vendorId;
            info->productId = d.productId;
            info->inputLength = d.input;
            info->outputLength = d.output;
            return true;
        }
        return false;
    }
};

}  // namespace

HidBackend& PlatformHidBackend() {
    static PageHidBackend backend;
    return backend;
}

}  // namespace zarn
