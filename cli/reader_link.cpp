#include "cli/reader_link.h"

#include <algorithm>
#include <memory>

#include "base/clock.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "protocol/read_exchange.h"
#include "protocol/reader_hid.h"
#include "protocol/reader_serial.h"
#include "protocol/special_exchange.h"
#include "protocol/write_exchange.h"

namespace cli {
namespace {

// A device given with --port is opened under this COM number, the last one: the exchanges
// address ports by number, and the port table opens this number's device by its name.
constexpr int kPathPort = PORT_COUNT;

constexpr uint32_t kSerialAnswerGapMs = 200;
constexpr uint32_t kVersionFirstByteMs = 1000;
// More than any answer of the reader; a reader that sends more is cut off here.
constexpr size_t kSerialAnswerMaxBytes = 65536;
// A line is quiet when no byte came for this long (some 30 byte times at 9600 baud); a
// reader still talking after kQuietMaxMs is not waited for any longer.
constexpr uint32_t kQuietMs = 30;
constexpr uint32_t kQuietMaxMs = 500;

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

}  // namespace

bool IsReaderInterface(const zarn::HidInterfaceInfo& d) {
    return d.haveIds && protocol::IsReaderId(d.vendorId, d.productId);
}

ReaderLink::ReaderLink(const LinkOptions& options) {
    // A link option that was given names that link, whatever its value: a bad value is
    // refused, never taken for "none given" and the default link.
    const bool com = options.comGiven || options.com != 0;
    const bool port = options.portGiven || !options.port.empty();
    const int chosen = int(options.usb) + int(com) + int(port);
    if (chosen > 1) throw Error(EXIT_USAGE, "choose one link: --usb, --com or --port");
    if (com) {
        if (options.com < 1 || options.com > PORT_COUNT)
            throw Error(EXIT_USAGE, "--com " + std::to_string(options.com) +
                                        ": COM numbers go from 1 to " + std::to_string(PORT_COUNT));
        m_usb = false;
        m_com = options.com;
        m_serialHold = std::make_unique<SerialLink::Hold>(m_com);
        const std::string device = zarn::PortTable::Device(m_com);
        m_where = "COM" + std::to_string(m_com) + (device.empty() ? "" : " (" + device + ")");
    } else if (port) {
        if (options.port.empty()) throw Error(EXIT_USAGE, "--port: no device named");
        m_usb = false;
        m_com = kPathPort;
        m_pathPort = true;
        zarn::PortTable::SetDevice(kPathPort, options.port);
        m_serialHold = std::make_unique<SerialLink::Hold>(m_com);
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
    // The held device came from the backend below: it goes first.
    m_hidHold.reset();
    m_serialHold.reset();
    if (g_nodeBackend) {
        zarn::SetHidBackend(nullptr);
        g_nodeBackend.reset();
    }
    if (m_pathPort) zarn::PortTable::SetDevice(kPathPort, {});
}

void ReaderLink::NoReader() const {
    // The reason is the failed open's own: nothing is enumerated again to guess it.
    const zarn::OpenFailure why = protocol::ReaderHidSession::LastOpenFailure();
    switch (why.error) {
        case zarn::OpenError::None:
        case zarn::OpenError::NoDevice:
            break;
        case zarn::OpenError::InUse:
            throw Error(EXIT_LINK, m_where + ": the reader is in use by another program" +
                                       (why.detail.empty() ? "" : " (" + why.detail + ")"));
        default:
            throw Error(EXIT_LINK,
                        m_where + ": the reader cannot be opened: " + zarn::OpenFailureText(why));
    }
    throw Error(EXIT_LINK, m_where + ": no reader found (vendor 0801 or 0802, product 0005)");
}

void ReaderLink::HoldReader() {
    if (!m_usb || m_hidHold) return;
    auto hold = std::make_unique<protocol::ReaderHidHold>();
    if (!hold->IsHeld()) NoReader();
    m_hidHold = std::move(hold);
}

void ReaderLink::PortOpenFailed() const {
    // The reason is the failed open's own: no other port is opened to guess it.
    zarn::OpenFailure why = SerialLink::LastOpenError(m_com);
    if (why.error == zarn::OpenError::None) why.error = zarn::OpenError::Other;
    throw Error(EXIT_LINK, m_where + ": cannot open the port: " + zarn::OpenFailureText(why));
}

bool ReaderLink::QuietLine(uint32_t maxMs) {
    if (protocol::OpenReaderPort(m_com) != 0) PortOpenFailed();
    zarn::Clock& clock = zarn::GetClock();
    const uint32_t start = clock.NowMs();
    uint8_t byte = 0;
    for (;;) {
        // Only a whole quiet spell counts, and it must fit in the time given.
        if (clock.NowMs() - start + kQuietMs > maxMs) return false;
        if (SerialLink::ReadByte(m_com, &byte, kQuietMs) != 0) return true;
    }
}

void ReaderLink::QuietLineOrFail() {
    if (!QuietLine(kQuietMaxMs))
        throw Error(EXIT_LINK, m_where +
                                   ": the reader keeps sending; its answer could not be told "
                                   "apart from what it sent before");
}

protocol::ConfigReadImage ReaderLink::ReadConfig() {
    HoldReader();
    protocol::ConfigReadImage image{};
    if (!m_usb) QuietLineOrFail();
    const protocol::ConfigReadOutcome outcome =
        m_usb ? protocol::ReadConfigOverHid(protocol::UPLOAD_REPORT_PAUSE_MS, image)
              : protocol::ReadConfigFromPort(m_com, image);
    switch (outcome) {
        case protocol::READ_OK:
            return image;
        case protocol::READ_DEVICE_NOT_FOUND:
            NoReader();
        case protocol::READ_PORT_OPEN_FAILED:
            PortOpenFailed();
        case protocol::READ_REQUEST_FAILED:
            throw Error(EXIT_LINK, m_where + ": the request for the configuration did not go out");
        case protocol::READ_NO_RESPONSE:
            throw Error(EXIT_LINK,
                        m_where + ": the reader did not answer the configuration request");
        case protocol::READ_INCOMPLETE:
            break;
    }
    throw Error(EXIT_LINK, m_where + ": the reader's configuration came back incomplete");
}

void ReaderLink::WriteImage(const protocol::ConfigWriteImage& image, bool factory) {
    HoldReader();
    protocol::ConfigWriteOutcome outcome;
    if (!m_usb) QuietLineOrFail();
    if (m_usb) {
        outcome = protocol::WriteConfigOverHid(image, true);
    } else {
        outcome = protocol::WriteConfigToPort(m_com, image,
                                              factory ? protocol::FACTORY_SERIAL_REPLY_TIMEOUT_MS
                                                      : protocol::DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS);
    }
    switch (outcome.result) {
        case protocol::WRITE_ACCEPTED:
        case protocol::WRITE_SENT:
            return;
        case protocol::WRITE_DEVICE_NOT_FOUND:
            NoReader();
        case protocol::WRITE_PORT_OPEN_FAILED:
            PortOpenFailed();
        case protocol::WRITE_REPORT_FAILED:
            if (outcome.report == 1)
                throw Error(EXIT_LINK, m_where +
                                           ": writing the configuration failed at its "
                                           "first report; nothing was written");
            throw Error(EXIT_LINK, m_where + ": writing the configuration failed at report " +
                                       std::to_string(outcome.report) +
                                       " of 8; the reader may be half written");
        case protocol::WRITE_BYTE_FAILED:
            throw Error(EXIT_LINK, m_where +
                                       ": a byte of the configuration did not go out; "
                                       "the reader may be half written");
        case protocol::WRITE_NO_REPLY:
            throw Error(EXIT_LINK, m_where +
                                       ": the reader did not confirm the configuration; "
                                       "it may be half written");
        case protocol::WRITE_REJECTED:
            break;
    }
    throw Error(EXIT_LINK, m_where + ": the reader refused the configuration");
}

std::string ReaderLink::CollectSerial(uint32_t firstMs) {
    zarn::Clock& clock = zarn::GetClock();
    const uint32_t start = clock.NowMs();
    std::string data;
    while (data.size() < kSerialAnswerMaxBytes) {
        const uint32_t elapsed = clock.NowMs() - start;
        if (elapsed >= firstMs) break;
        const uint32_t left = firstMs - elapsed;
        const uint32_t wait = data.empty() ? left : std::min(left, kSerialAnswerGapMs);
        uint8_t byte = 0;
        if (SerialLink::ReadByte(m_com, &byte, wait) != 0) break;
        data += static_cast<char>(byte);
    }
    return data;
}

std::string ReaderLink::ReadVersion() {
    HoldReader();
    if (!m_usb) {
        // Bytes from before are not the version; a reader that keeps sending gets its
        // request all the same, within the same time.
        const uint32_t start = zarn::GetClock().NowMs();
        QuietLine(kQuietMaxMs);
        if (protocol::SendCommandToPort(m_com, protocol::CMD_GET_VERSION) != protocol::SPECIAL_OK)
            PortOpenFailed();
        const uint32_t spent = zarn::GetClock().NowMs() - start;
        std::string text =
            CollectSerial(kVersionFirstByteMs - std::min(spent, kVersionFirstByteMs));
        if (text.empty())
            throw Error(EXIT_LINK, m_where + ": the reader did not answer the version request");
        return text;
    }
    std::string text;
    switch (protocol::ReadVersionOverHid(&text)) {
        case protocol::SPECIAL_OK:
            return text;
        case protocol::SPECIAL_DEVICE_NOT_FOUND:
            NoReader();
        case protocol::SPECIAL_NO_RESPONSE:
            throw Error(EXIT_LINK, m_where + ": the reader did not answer the version request");
        default:
            throw Error(EXIT_LINK, m_where + ": the version request did not go out");
    }
}

std::string ReaderLink::ReadCard(uint32_t timeoutMs) {
    HoldReader();
    if (!m_usb) {
        const uint32_t start = zarn::GetClock().NowMs();
        QuietLine(std::min(kQuietMaxMs, timeoutMs / 2));
        if (protocol::SendCommandToPort(m_com, protocol::CMD_READ_CARD) != protocol::SPECIAL_OK)
            PortOpenFailed();
        const uint32_t spent = zarn::GetClock().NowMs() - start;
        std::string data = CollectSerial(timeoutMs - std::min(spent, timeoutMs));
        if (data.empty())
            throw Error(EXIT_LINK, m_where + ": no card data within " +
                                       std::to_string(timeoutMs / 1000) + " s");
        return data;
    }
    // Each request waits for what the reader holds; ask again until data comes or the
    // time is up.
    std::string data;
    for (uint32_t waited = 0;;) {
        const protocol::SpecialOutcome outcome = protocol::ReadCardOverHid(&data);
        if (outcome == protocol::SPECIAL_DEVICE_NOT_FOUND) NoReader();
        if (outcome == protocol::SPECIAL_REQUEST_FAILED)
            throw Error(EXIT_LINK, m_where + ": the card request did not go out");
        if (outcome == protocol::SPECIAL_TOO_MANY)
            throw Error(EXIT_LINK, m_where + ": the reader kept sending card data");
        if (!data.empty()) return data;
        waited += protocol::CARD_REPORT_TIMEOUT_MS;
        if (waited >= timeoutMs)
            throw Error(EXIT_LINK, m_where + ": no card data within " +
                                       std::to_string(timeoutMs / 1000) + " s");
    }
}

}  // namespace cli
