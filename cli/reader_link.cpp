#include "cli/reader_link.h"

#include <cstdlib>
#include <memory>

#include "link/hid_link.h"
#include "link/posix/serial_posix.h"
#include "link/serial_link.h"
#include "protocol/read_exchange.h"
#include "protocol/special_exchange.h"
#include "protocol/write_exchange.h"

namespace cli {
namespace {

// A device path given with --port is served under this COM number, the last one, so that
// the backend that opens numbered ports opens it unchanged.
constexpr int kPathPort = PORT_COUNT;

constexpr uint32_t kSerialAnswerGapMs = 200;
constexpr uint32_t kVersionFirstByteMs = 1000;

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The operating system's HID backend narrowed to one node: --usb NODE then finds the
// reader there and nowhere else.
class OneNodeBackend : public zarn::HidBackend {
public:
    explicit OneNodeBackend(std::string node) : m_node(std::move(node)) {}
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> out;
        for (auto& path : zarn::OsHidBackend().EnumerateInterfaces())
            if (path == m_node || BaseName(path) == m_node) out.push_back(path);
        return out;
    }
    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string& path,
                                                   std::string* why) override {
        return zarn::OsHidBackend().OpenInterface(path, why);
    }
    bool PeekInterface(const std::string& path, zarn::HidInterfaceInfo* info) override {
        return zarn::OsHidBackend().PeekInterface(path, info);
    }

private:
    std::string m_node;
};

std::unique_ptr<OneNodeBackend> g_nodeBackend;

std::string SerialDevice(int com) {
    return zarn::posix::SerialDevicePath(com);
}

}  // namespace

bool IsReaderInterface(const zarn::HidInterfaceInfo& d) {
    return d.haveIds && (d.vendorId == 0x0801 || d.vendorId == 0x0802) && d.productId == 0x0005;
}

ReaderLink::ReaderLink(const LinkOptions& options) {
    const int chosen = int(options.usb) + int(options.com != 0) + int(!options.port.empty());
    if (chosen > 1) throw Error(EXIT_USAGE, "choose one link: --usb, --com or --port");
    if (options.com != 0) {
        if (options.com < 1 || options.com > PORT_COUNT)
            throw Error(EXIT_USAGE, "--com " + std::to_string(options.com) +
                                        ": COM numbers go from 1 to " + std::to_string(PORT_COUNT));
        m_usb = false;
        m_com = options.com;
        const std::string device = SerialDevice(m_com);
        m_where = "COM" + std::to_string(m_com) + (device.empty() ? "" : " (" + device + ")");
    } else if (!options.port.empty()) {
        m_usb = false;
        m_com = kPathPort;
        const std::string name = "ZARN60_COM" + std::to_string(kPathPort);
        ::setenv(name.c_str(), options.port.c_str(), 1);
        m_where = options.port;
    } else {
        m_where = "USB";
        if (!options.usbNode.empty()) {
            g_nodeBackend = std::make_unique<OneNodeBackend>(options.usbNode);
            zarn::SetHidBackend(g_nodeBackend.get());
            m_where = "USB " + options.usbNode;
        }
    }
}

ReaderLink::~ReaderLink() {
    if (g_nodeBackend) {
        zarn::SetHidBackend(nullptr);
        g_nodeBackend.reset();
    }
}

void ReaderLink::NoReader() const {
    // A reader that is present but cannot be opened says why (permission, busy).
    for (const auto& d : zarn::DescribeHidInterfaces()) {
        if (IsReaderInterface(d) && !d.openable)
            throw Error(EXIT_LINK,
                        m_where + ": the reader at " + d.path + " cannot be opened: " + d.whyNot);
    }
    throw Error(EXIT_LINK, m_where + ": no reader found (vendor 0801 or 0802, product 0005)");
}

void ReaderLink::PortOpenFailed() const {
    std::string why = "no such device";
    for (const auto& p : zarn::GetSerialBackend().ListPorts()) {
        if (p.number != m_com) continue;
        why = zarn::SerialOpenErrorText(p.state);
        if (!p.detail.empty()) why += " (" + p.detail + ")";
    }
    throw Error(EXIT_LINK, m_where + ": cannot open the port: " + why);
}

ConfigReadImage ReaderLink::ReadConfig() {
    ConfigReadImage image{};
    const ConfigReadOutcome outcome =
        m_usb ? ReadConfigOverHid(UPLOAD_REPORT_PAUSE_MS, image) : ReadConfigFromPort(m_com, image);
    switch (outcome) {
        case READ_OK:
            return image;
        case READ_DEVICE_NOT_FOUND:
            NoReader();
        case READ_PORT_OPEN_FAILED:
        case READ_NO_PORT_NUMBER:
            PortOpenFailed();
        case READ_REQUEST_FAILED:
            throw Error(EXIT_LINK, m_where + ": the request for the configuration did not go out");
        case READ_NO_RESPONSE:
            throw Error(EXIT_LINK,
                        m_where + ": the reader did not answer the configuration request");
        case READ_INCOMPLETE:
            break;
    }
    throw Error(EXIT_LINK, m_where + ": the reader's configuration came back incomplete");
}

void ReaderLink::WriteImage(const ConfigWriteImage& image, bool factory) {
    ConfigWriteOutcome outcome;
    if (m_usb) {
        outcome = WriteConfigOverHid(image, true);
    } else {
        outcome = WriteConfigToPort(
            m_com, image,
            factory ? FACTORY_SERIAL_REPLY_TIMEOUT_MS : DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS);
    }
    switch (outcome.result) {
        case WRITE_ACCEPTED:
        case WRITE_SENT:
            return;
        case WRITE_DEVICE_NOT_FOUND:
            NoReader();
        case WRITE_PORT_OPEN_FAILED:
        case WRITE_NO_PORT_NUMBER:
            PortOpenFailed();
        case WRITE_REPORT_FAILED:
            if (outcome.report == 1)
                throw Error(EXIT_LINK, m_where +
                                           ": writing the configuration failed at its "
                                           "first report; nothing was written");
            throw Error(EXIT_LINK, m_where + ": writing the configuration failed at report " +
                                       std::to_string(outcome.report) +
                                       " of 8; the reader may be half written");
        case WRITE_BYTE_FAILED:
            throw Error(EXIT_LINK, m_where +
                                       ": a byte of the configuration did not go out; "
                                       "the reader may be half written");
        case WRITE_NO_REPLY:
            throw Error(EXIT_LINK, m_where +
                                       ": the reader did not confirm the configuration; "
                                       "it may be half written");
        case WRITE_REJECTED:
            break;
    }
    throw Error(EXIT_LINK, m_where + ": the reader refused the configuration");
}

std::string ReaderLink::CollectSerial(uint32_t firstMs) {
    std::string data;
    uint8_t byte = 0;
    uint32_t wait = firstMs;
    while (SerialLink::ReadByte(m_com, &byte, wait) == 0) {
        data += static_cast<char>(byte);
        wait = kSerialAnswerGapMs;
    }
    return data;
}

std::string ReaderLink::ReadVersion() {
    if (!m_usb) {
        if (SendCommandToPort(m_com, CMD_GET_VERSION) != SPECIAL_OK) PortOpenFailed();
        std::string text = CollectSerial(kVersionFirstByteMs);
        if (text.empty())
            throw Error(EXIT_LINK, m_where + ": the reader did not answer the version request");
        return text;
    }
    std::string text;
    switch (ReadVersionOverHid(&text)) {
        case SPECIAL_OK:
            return text;
        case SPECIAL_DEVICE_NOT_FOUND:
            NoReader();
        case SPECIAL_NO_RESPONSE:
            throw Error(EXIT_LINK, m_where + ": the reader did not answer the version request");
        default:
            throw Error(EXIT_LINK, m_where + ": the version request did not go out");
    }
}

std::string ReaderLink::ReadCard(uint32_t timeoutMs) {
    if (!m_usb) {
        if (SendCommandToPort(m_com, CMD_READ_CARD) != SPECIAL_OK) PortOpenFailed();
        std::string data = CollectSerial(timeoutMs);
        if (data.empty())
            throw Error(EXIT_LINK, m_where + ": no card data within " +
                                       std::to_string(timeoutMs / 1000) + " s");
        return data;
    }
    // Each request waits for what the reader holds; ask again until data comes or the
    // time is up.
    std::string data;
    for (uint32_t waited = 0;;) {
        const SpecialOutcome outcome = ReadCardOverHid(&data);
        if (outcome == SPECIAL_DEVICE_NOT_FOUND) NoReader();
        if (outcome == SPECIAL_REQUEST_FAILED)
            throw Error(EXIT_LINK, m_where + ": the card request did not go out");
        if (outcome == SPECIAL_TOO_MANY)
            throw Error(EXIT_LINK, m_where + ": the reader kept sending card data");
        if (!data.empty()) return data;
        waited += CARD_REPORT_TIMEOUT_MS;
        if (waited >= timeoutMs)
            throw Error(EXIT_LINK, m_where + ": no card data within " +
                                       std::to_string(timeoutMs / 1000) + " s");
    }
}

}  // namespace cli
