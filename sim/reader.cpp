// The simulated reader's core. What it does with its configuration and what it answers
// are written down in sim/README.md; the forms and times follow what the tool relies on.
#include "sim/reader.h"

#include <algorithm>

#include "protocol/factory_images.h"

namespace sim {
namespace {

// Tick counts wrap: the later of two ticks by signed distance.
uint32_t Later(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) > 0 ? a : b;
}

bool Elapsed(uint32_t now, uint32_t since, uint32_t ms) {
    return static_cast<int32_t>(now - since) > static_cast<int32_t>(ms);
}

}  // namespace

protocol::ConfigReadImage ReaderReadImage(const protocol::ConfigWriteImage& kept) {
    // The reader keeps the frame it accepted and dumps it: write bytes 15-18 (speed,
    // checksum, USB HID mode, reserved) land in read bytes 13-16, and the last byte is an
    // XOR over the rest, as a stored block would carry.
    const std::array<uint8_t, 4> middle = {kept[protocol::wimg::USB_SPEED],
                                           kept[protocol::wimg::HEADER_CHECKSUM],
                                           kept[protocol::wimg::USB_HID_MODE_OFF], kept[18]};
    protocol::ConfigReadImage image =
        protocol::MakeConfigReadImage(protocol::ParseConfigWriteImage(kept), middle, 0);
    uint8_t sum = 0;
    for (size_t i = 0; i < 55; ++i) sum ^= image[i];
    image[55] = sum;
    return image;
}

protocol::ConfigWriteImage UsbFactoryImage() {
    return protocol::FactoryWriteImageHid();
}

Reader::Reader() : m_card(DefaultCard()), m_kept(UsbFactoryImage()) {}

void Reader::SetFaults(const Faults& faults) {
    m_faults = faults;
    m_moved = 0;  // a vanish count runs from when it is asked for
}

void Reader::SetReportLengths(uint16_t input, uint16_t output) {
    m_inputLength = input;
    m_outputLength = output;
}

bool Reader::Vanished() const {
    return m_vanished || (m_faults.vanishAfter >= 0 && m_moved >= m_faults.vanishAfter);
}

void Reader::Vanish() {
    // One-shot: plugged in again, it behaves.
    m_vanished = true;
    m_faults.vanishAfter = -1;
    m_usbOut.clear();
    m_serialOut.clear();
    m_usbFrame.clear();
    m_serialFrame.clear();
}

void Reader::Reappear() {
    if (Vanished()) Vanish();
    m_vanished = false;
    m_moved = 0;
}

void Reader::Moved() {
    // Gone once N have moved: the next transfer fails.
    ++m_moved;
}

uint8_t Reader::Noise() {
    // xorshift32: the same garbage on every run.
    m_noise ^= m_noise << 13;
    m_noise ^= m_noise >> 17;
    m_noise ^= m_noise << 5;
    const uint8_t b = static_cast<uint8_t>(m_noise);
    return b ? b : 0xA5;
}

// ---- USB side ----

void Reader::UsbOpened(uint32_t) {
    ++m_usbOpen;
}

void Reader::UsbClosed(uint32_t) {
    if (m_usbOpen > 0) --m_usbOpen;
    if (m_usbOpen == 0) m_usbOut.clear();
}

bool Reader::UsbWrite(const uint8_t* report, size_t length, uint32_t now) {
    if (Vanished()) {
        Vanish();
        return false;
    }
    m_log.usbReports.emplace_back(report, report + length);
    Moved();
    if (Vanished() || m_faults.mode == AnswerMode::Silent) return true;

    Payload payload{};
    for (size_t i = 1; i < length && i <= USB_PAYLOAD_SIZE; ++i) payload[i - 1] = report[i];

    if (!m_usbFrame.empty() && Elapsed(now, m_usbFrameAt, CONFIG_FRAME_GAP_MS)) {
        m_usbFrame.clear();
    }
    if (!m_usbFrame.empty()) {
        m_usbFrame.insert(m_usbFrame.end(), payload.begin(), payload.end());
        m_usbFrameAt = now;
        if (m_usbFrame.size() >= protocol::CONFIG_WRITE_IMAGE_SIZE) {
            std::vector<uint8_t> frame;
            frame.swap(m_usbFrame);
            FinishFrame(frame, true, now);
        }
        return true;
    }
    if (payload[0] == protocol::CMD_ESC && payload[1] == protocol::CMD_SET_CONFIG_2) {
        m_usbFrame.assign(payload.begin(), payload.end());
        m_usbFrameAt = now;
        return true;
    }
    HandleCommand(payload[0], true, now);
    return true;
}

bool Reader::UsbPeek(uint32_t* readyAt) const {
    if (Vanished() || m_usbOut.empty()) return false;
    const Scheduled& next = m_usbOut.front();
    if (readyAt) *readyAt = next.earliest + next.delay;
    return true;
}

std::vector<uint8_t> Reader::UsbPop(uint32_t now) {
    if (Vanished() || m_usbOut.empty()) return {};
    Scheduled next = std::move(m_usbOut.front());
    m_usbOut.pop_front();
    // The next report is made once the host has taken this one.
    if (!m_usbOut.empty()) m_usbOut.front().earliest = Later(m_usbOut.front().earliest, now);
    const size_t length = m_inputLength ? m_inputLength : DEFAULT_REPORT_LENGTH;
    std::vector<uint8_t> report(length, 0);
    for (size_t i = 1; i < length && i <= next.payload.size(); ++i) {
        report[i] = next.payload[i - 1];
    }
    Moved();
    return report;
}

void Reader::AnswerUsb(std::vector<Payload> reports, uint32_t now) {
    if (m_faults.mode == AnswerMode::Garbage) {
        for (Payload& p : reports) {
            for (uint8_t& b : p) b = Noise();
        }
    }
    for (uint32_t i = 0; i < m_faults.extra; ++i) {
        Payload filler;
        filler.fill(EXTRA_BYTE);
        reports.push_back(filler);
    }
    if (m_faults.partial >= 0 && reports.size() > static_cast<size_t>(m_faults.partial)) {
        reports.resize(m_faults.partial);
    }
    // Nobody has the device open: the reports go nowhere.
    if (m_usbOpen == 0) return;
    for (const Payload& p : reports) {
        Scheduled s;
        s.payload.assign(p.begin(), p.end());
        s.earliest = now;
        s.delay = USB_REPORT_DELAY_MS + m_faults.slowMs;
        m_usbOut.push_back(std::move(s));
    }
}

// ---- Serial side ----

bool Reader::SerialWrite(uint8_t byte, uint32_t now) {
    if (Vanished()) {
        Vanish();
        return false;
    }
    m_log.serialBytes.push_back(byte);
    Moved();
    if (Vanished() || m_faults.mode == AnswerMode::Silent) return true;

    if (!m_serialFrame.empty() && Elapsed(now, m_serialFrameAt, CONFIG_FRAME_GAP_MS)) {
        m_serialFrame.clear();
    }
    if (m_serialFrame.size() == 1 && byte != protocol::CMD_SET_CONFIG_2) {
        // ESC not followed by the set-configuration byte: no frame after all.
        m_serialFrame.clear();
    } else if (!m_serialFrame.empty()) {
        m_serialFrame.push_back(byte);
        m_serialFrameAt = now;
        if (m_serialFrame.size() == protocol::CONFIG_WRITE_IMAGE_SIZE) {
            std::vector<uint8_t> frame;
            frame.swap(m_serialFrame);
            FinishFrame(frame, false, now);
        }
        return true;
    }
    if (byte == protocol::CMD_ESC) {
        m_serialFrame.assign(1, byte);
        m_serialFrameAt = now;
        return true;
    }
    HandleCommand(byte, false, now);
    return true;
}

bool Reader::SerialPeek(uint32_t* readyAt, uint8_t* byte) const {
    if (Vanished() || m_serialOut.empty()) return false;
    if (readyAt) *readyAt = m_serialOut.front().readyAt;
    if (byte) *byte = m_serialOut.front().byte;
    return true;
}

bool Reader::SerialPop(uint8_t* byte, uint32_t) {
    if (Vanished() || m_serialOut.empty()) return false;
    const uint8_t b = m_serialOut.front().byte;
    m_serialOut.pop_front();
    Moved();
    if (byte) *byte = b;
    return true;
}

void Reader::SerialSend(const std::vector<uint8_t>& bytes, uint32_t now) {
    if (Vanished()) return;
    QueueSerial(bytes, 0, now);
}

void Reader::QueueSerial(const std::vector<uint8_t>& bytes, uint32_t slowMs, uint32_t now) {
    // Bytes follow each other on the line at 9600 baud; a burst starts when the line is
    // idle, otherwise it queues behind what is still going out. Nothing queued means idle
    // whatever the last burst's tick says: ticks wrap, and a stale one (the 0 of a reader
    // started in the upper half of the tick range) would read as up to 24 days ahead.
    if (m_serialOut.empty() || !Elapsed(m_lineEnd, now, 0)) {
        m_lineStart = now;
        m_lineUs = 0;
    }
    for (uint8_t b : bytes) {
        m_lineUs += SERIAL_BYTE_US + static_cast<uint64_t>(slowMs) * 1000;
        const uint32_t readyAt = m_lineStart + static_cast<uint32_t>((m_lineUs + 999) / 1000);
        m_serialOut.push_back({b, readyAt});
        m_lineEnd = readyAt;
    }
}

void Reader::AnswerSerial(std::vector<uint8_t> bytes, uint32_t now) {
    if (m_faults.mode == AnswerMode::Garbage) {
        for (uint8_t& b : bytes) b = Noise();
    }
    bytes.insert(bytes.end(), m_faults.extra, EXTRA_BYTE);
    if (m_faults.partial >= 0 && bytes.size() > static_cast<size_t>(m_faults.partial)) {
        bytes.resize(m_faults.partial);
    }
    QueueSerial(bytes, m_faults.slowMs, now);
}

// ---- Answers ----

namespace {

std::vector<std::array<uint8_t, USB_PAYLOAD_SIZE>> ToReports(const uint8_t* data, size_t n) {
    std::vector<std::array<uint8_t, USB_PAYLOAD_SIZE>> reports;
    for (size_t at = 0; at < n; at += USB_PAYLOAD_SIZE) {
        std::array<uint8_t, USB_PAYLOAD_SIZE> p{};
        std::copy(data + at, data + std::min(n, at + USB_PAYLOAD_SIZE), p.begin());
        reports.push_back(p);
    }
    return reports;
}

}  // namespace

void Reader::HandleCommand(uint8_t command, bool usb, uint32_t now) {
    std::vector<uint8_t> answer;
    switch (command) {
        case protocol::CMD_GET_CONFIG: {
            const protocol::ConfigReadImage image = ReadImage();
            answer.assign(image.begin(), image.end());
            break;
        }
        case protocol::CMD_GET_VERSION:
            answer.assign(m_version.begin(), m_version.end());
            // Over USB the text travels in one report, ended by a zero byte when shorter.
            if (usb) answer.resize(USB_PAYLOAD_SIZE, 0);
            break;
        case protocol::CMD_READ_CARD: {
            const std::string data = FormatCardData(KeptConfig(), m_card);
            if (data.empty()) return;  // nothing readable: it stays silent
            answer.assign(data.begin(), data.end());
            break;
        }
        default:
            return;  // unknown requests go unanswered
    }
    if (usb) {
        AnswerUsb(ToReports(answer.data(), answer.size()), now);
    } else {
        AnswerSerial(std::move(answer), now);
    }
}

void Reader::FinishFrame(const std::vector<uint8_t>& frame, bool usb, uint32_t now) {
    protocol::ConfigWriteImage image;
    std::copy(frame.begin(), frame.begin() + protocol::CONFIG_WRITE_IMAGE_SIZE, image.begin());
    uint8_t verdict = VERDICT_ACCEPTED;
    if (m_faults.mode == AnswerMode::Reject) {
        verdict = VERDICT_REFUSED;
    } else if (protocol::ConfigHeaderChecksum(image.data()) !=
               image[protocol::wimg::HEADER_CHECKSUM]) {
        verdict = VERDICT_BAD_CHECKSUM;
    } else {
        m_kept = image;
    }
    if (usb) {
        Payload p{};
        p[0] = verdict;
        AnswerUsb({p}, now);
    } else {
        AnswerSerial({verdict == VERDICT_ACCEPTED ? SERIAL_CONFIG_ACCEPTED : SERIAL_CONFIG_REFUSED},
                     now);
    }
}

void Reader::Swipe(uint32_t now) {
    if (Vanished() || m_faults.mode == AnswerMode::Silent) return;
    const protocol::ReaderConfig config = KeptConfig();
    if (config.optionFlags & protocol::OPT_AUTO_OUTPUT_OFF) return;
    const std::string data = FormatCardData(config, m_card);
    if (data.empty()) return;
    AnswerSerial(std::vector<uint8_t>(data.begin(), data.end()), now);
    std::vector<uint8_t> bytes(data.begin(), data.end());
    AnswerUsb(ToReports(bytes.data(), bytes.size()), now);
}

Reader::Received Reader::TakeLog() {
    Received taken;
    std::swap(taken, m_log);
    return taken;
}

}  // namespace sim
