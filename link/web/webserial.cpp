// The serial backend of the page, over WebSerial. COM numbers name the ports the user has
// granted, in the order the page first saw them (a port keeps its number while the page
// lives, also when it is unplugged and plugged in again). The page reads an open port all
// the time into a queue; ReadOne takes from it, waiting on the event loop up to its
// time-out, and WriteOne waits until the port's writer has taken its byte, so that a port
// pulled out fails the write as on the desktop rather than the reply wait after it. The
// line settings are given when the port opens, so applying other settings opens it again
// with them. A handle closed leaves the browser's port open, emptied, for the next open
// with the same settings: every exchange opens its port anew, and the browser takes
// milliseconds to close and open one.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "base/web/page_wait.h"
#include "link/serial_link.h"
#include "link/web/web_links.h"

extern "C" {
// link/web/web_links.js
char* zarn_serial_list();  // "N present vendor product\n"..., malloc'd
int zarn_serial_open(int number, int baudRate, int dataBits, int parity);  // 0 ok, 1 gone, 2 failed
void zarn_serial_close(int number);  // let go; the browser's port may stay open
void zarn_serial_purge(int number);
// Waits up to timeoutMs for the port's writer to take the byte (timeoutMs < 0: hands it
// over without waiting): 1 taken, -1 refused, timed out or the port is gone.
int zarn_serial_write(int number, int byte, int timeoutMs);
// 1 a byte, 0 none in time, -1 the port is gone.
int zarn_serial_read(int number, uint8_t* byte, int timeoutMs);
}

namespace zarn {

namespace {

struct PagePort {
    int number = 0;
    bool present = false;
    unsigned vendorId = 0, productId = 0;
};

std::vector<PagePort> ListPagePorts() {
    std::vector<PagePort> list;
    char* text = zarn_serial_list();
    std::istringstream in(text ? text : "");
    std::free(text);
    PagePort p;
    int present = 0;
    while (in >> p.number >> present >> p.vendorId >> p.productId) {
        p.present = present != 0;
        list.push_back(p);
    }
    return list;
}

constexpr std::string_view kPrefix = "webserial:";

class PageSerialPort final : public SerialPort {
public:
    explicit PageSerialPort(int number) : m_number(number) {}
    ~PageSerialPort() override { zarn_serial_close(m_number); }

    bool ReadSettings() override { return true; }
    bool ApplySettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity) override {
        if (web::WaitInFlight()) return false;
        const web::PageWait wait;
        return zarn_serial_open(m_number, static_cast<int>(baudRate), byteSize, parity) == 0;
    }
    void Purge() override { zarn_serial_purge(m_number); }
    int WriteOne(uint8_t byte) override {
        if (web::WaitInFlight()) return zarn_serial_write(m_number, byte, -1);
        const web::PageWait wait;
        return zarn_serial_write(m_number, byte, static_cast<int>(SERIAL_WRITE_DEADLINE_MS));
    }
    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        if (web::WaitInFlight()) return zarn_serial_read(m_number, byte, 0);
        const web::PageWait wait;
        return zarn_serial_read(m_number, byte, static_cast<int>(std::min<uint32_t>(timeoutMs, 1u << 30)));
    }

private:
    int m_number;
};

class PageSerialBackend final : public SerialBackend {
public:
    std::string DeviceOf(int number) override {
        for (const PagePort& p : ListPagePorts())
            if (p.number == number) return std::string(kPrefix) + std::to_string(number);
        return {};
    }
    std::unique_ptr<SerialPort> OpenDevice(const std::string& device, OpenFailure* why) override {
        const int number =
            device.rfind(kPrefix, 0) == 0 ? std::atoi(device.c_str() + kPrefix.size()) : 0;
        for (const PagePort& p : ListPagePorts()) {
            if (p.number != number) continue;
            if (!p.present) break;
            // Opened with the line's usual settings; ApplySettings gives the caller's.
            int r = 2;
            if (!web::WaitInFlight()) {
                const web::PageWait wait;
                r = zarn_serial_open(number, 9600, 8, 0);
            }
            if (r == 0) return std::make_unique<PageSerialPort>(number);
            if (why)
                *why = r == 1 ? OpenFailure{OpenError::NoDevice, "the port was unplugged"}
                              : OpenFailure{OpenError::InUse, "the browser could not open it"};
            return nullptr;
        }
        if (why) *why = {OpenError::NoDevice, "no such port"};
        return nullptr;
    }
    std::vector<SerialPortInfo> ListPorts() override {
        std::vector<SerialPortInfo> ports;
        for (const PagePort& p : ListPagePorts()) {
            SerialPortInfo info;
            info.number = p.number;
            info.device = std::string(kPrefix) + std::to_string(p.number);
            if (!p.present) {
                info.state = SerialOpenError::NoDevice;
                info.detail = "unplugged";
            }
            ports.push_back(info);
        }
        return ports;
    }
};

}  // namespace

SerialBackend& OsSerialBackend() {
    static PageSerialBackend backend;
    return backend;
}

// A page has no signals; the browser closes its ports with it.
void RestorePortsOnSignals() {}

namespace web {

std::string SerialPortNames() {
    std::string text;
    for (const PagePort& p : ListPagePorts()) {
        char ids[48] = "";
        if (p.vendorId || p.productId)
            std::snprintf(ids, sizeof ids, "USB %04x:%04x", p.vendorId, p.productId);
        else
            std::snprintf(ids, sizeof ids, "serial port");
        text += "COM" + std::to_string(p.number) + "  " + ids + (p.present ? "" : " (unplugged)") + "\n";
    }
    return text;
}

}  // namespace web

}  // namespace zarn
