// The simulated ZARN60: one reader with a USB side and a serial side, independent of any
// transport and of any clock. Every call takes `now`, the caller's millisecond tick
// (uint32, wraps), so the same core runs on the virtual clock in-process, in real time on
// a pseudo-terminal, and behind a FUSE-served hidraw node.
//
// Not thread-safe: an attachment that serves it from several threads holds one lock
// around every call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "protocol/card_format.h"
#include "protocol/reader_config.h"

namespace sim {

// A USB report is ready this long after the request, or after the host took the
// previous one (the host polls the interrupt endpoint every millisecond).
constexpr uint32_t USB_REPORT_DELAY_MS = 1;
// One byte on a 9600 baud 8N1 line: 10 bits.
constexpr uint32_t SERIAL_BYTE_US = 1042;
// A set-configuration frame whose next piece is this late is dropped.
constexpr uint32_t CONFIG_FRAME_GAP_MS = 1000;
// Reports (USB) and bytes (serial) of a USB answer carry 8 payload bytes after report id 0.
constexpr size_t USB_PAYLOAD_SIZE = 8;
constexpr uint16_t DEFAULT_REPORT_LENGTH = 9;

// Serial reply to a set-configuration frame.
constexpr uint8_t SERIAL_CONFIG_ACCEPTED = 0x06;  // ACK
constexpr uint8_t SERIAL_CONFIG_REFUSED = 0x15;   // NAK
// USB verdicts (payload byte 1): 0 accepted, else the reason.
constexpr uint8_t VERDICT_ACCEPTED = 0x00;
constexpr uint8_t VERDICT_REFUSED = 0x01;  // refused on demand (reject fault)
constexpr uint8_t VERDICT_BAD_CHECKSUM = 0x02;
// Filler of the extra reports / bytes the `extra` fault adds to each answer.
constexpr uint8_t EXTRA_BYTE = 0x58;  // 'X'

enum class AnswerMode {
    Normal,
    Silent,   // takes nothing in, answers nothing
    Reject,   // refuses every configuration, answers everything else
    Garbage,  // answers with pseudo-random non-zero bytes of the right length
};

struct Faults {
    AnswerMode mode = AnswerMode::Normal;
    int partial = -1;      // answer only the first N reports (USB) / bytes (serial); -1 = all
    uint32_t slowMs = 0;   // each report / byte this much later
    uint32_t extra = 0;    // N more reports (USB) / bytes (serial) after each answer
    int vanishAfter = -1;  // disappear once N reports / bytes have moved, either way; -1 never
};

// The card model lives in protocol/card_format.h; these names stay usable here.
using protocol::cardfmt::Card;
using protocol::cardfmt::DefaultCard;
using protocol::cardfmt::FormatCardData;
using protocol::cardfmt::ParseCardTracks;

// The read image the reader answers to 'S' for what it keeps: the fields at their read
// offsets; bytes 13-16 are the write image's bytes 15-18 as received (speed, header
// checksum, USB HID mode byte, reserved); byte 55 is the XOR of bytes 0-54.
protocol::ConfigReadImage ReaderReadImage(const protocol::ConfigWriteImage& kept);

// The USB factory configuration the reader starts in: the one the tool sends as the
// factory settings over USB.
protocol::ConfigWriteImage UsbFactoryImage();

class Reader {
public:
    Reader();

    // --- Settings (the `sim ...` commands) ---
    // Replaces all faults; a vanish count starts from here.
    void SetFaults(const Faults& faults);
    const Faults& GetFaults() const { return m_faults; }
    void SetVersion(const std::string& text) { m_version = text; }
    const std::string& Version() const { return m_version; }
    void SetCard(const Card& card) { m_card = card; }
    const Card& CurrentCard() const { return m_card; }
    // Lengths include the report-id byte; 0 = the capabilities cannot be read.
    void SetReportLengths(uint16_t input, uint16_t output);
    uint16_t InputReportLength() const { return m_inputLength; }
    uint16_t OutputReportLength() const { return m_outputLength; }

    // The 64-byte image it last accepted (at start: the USB factory image), its record,
    // and what it answers to 'S'.
    const protocol::ConfigWriteImage& KeptImage() const { return m_kept; }
    protocol::ReaderConfig KeptConfig() const { return protocol::ParseConfigWriteImage(m_kept); }
    protocol::ConfigReadImage ReadImage() const { return ReaderReadImage(m_kept); }

    // --- Presence ---
    // Gone after the vanish fault struck: every transfer fails until Reappear().
    bool Vanished() const;
    // Plugged in again: present, the vanish count starts over, pending answers dropped.
    void Reappear();

    // --- USB side ---
    // Input reports go to the open handles only (as a HID driver does): while none is
    // open, and when the last one closes, pending reports are dropped.
    void UsbOpened(uint32_t now);
    void UsbClosed(uint32_t now);
    // The host wrote this output report (report id included). False when it cannot be
    // delivered (vanished).
    bool UsbWrite(const uint8_t* report, size_t length, uint32_t now);
    // Whether an input report is queued, and the tick at which it is ready.
    bool UsbPeek(uint32_t* readyAt) const;
    // Takes the next input report (call once it is ready): report id 0, payload, zeros up
    // to the input report length (9 when that is 0, cut when it is shorter). Empty when
    // nothing is queued or the reader vanished.
    std::vector<uint8_t> UsbPop(uint32_t now);

    // --- Serial side ---
    // A byte from the host. False when the reader vanished.
    bool SerialWrite(uint8_t byte, uint32_t now);
    // The next byte the reader sends and the tick at which it is on the line.
    bool SerialPeek(uint32_t* readyAt, uint8_t* byte) const;
    // Takes the next byte (call once it is ready). False when none or vanished.
    bool SerialPop(uint8_t* byte, uint32_t now);
    // Sends these bytes now, as they are (`sim send`).
    void SerialSend(const std::vector<uint8_t>& bytes, uint32_t now);

    // A card passes through the slot: it becomes the card in place, and with automatic
    // output on the formatted data goes out on the serial side (and to an open USB handle).
    void Swipe(uint32_t now);

    // --- What it received (`sim log`) ---
    struct Received {
        std::vector<std::vector<uint8_t>> usbReports;  // as written
        std::vector<uint8_t> serialBytes;
    };
    // Everything since the last call, then forgets it.
    Received TakeLog();

private:
    struct Scheduled {
        std::vector<uint8_t> payload;  // USB: 8 payload bytes
        uint32_t earliest = 0;         // the request, or when the host took the previous report
        uint32_t delay = 0;            // ready this long after `earliest`
    };
    struct SerialOut {
        uint8_t byte;
        uint32_t readyAt;
    };

    using Payload = std::array<uint8_t, USB_PAYLOAD_SIZE>;

    // Counts one report or byte moved (the vanish fault counts them).
    void Moved();
    void Vanish();
    void HandleCommand(uint8_t command, bool usb, uint32_t now);
    void FinishFrame(const std::vector<uint8_t>& frame, bool usb, uint32_t now);
    // Apply the answer faults and queue an answer on one side.
    void AnswerUsb(std::vector<Payload> reports, uint32_t now);
    void AnswerSerial(std::vector<uint8_t> bytes, uint32_t now);
    void QueueSerial(const std::vector<uint8_t>& bytes, uint32_t slowMs, uint32_t now);
    uint8_t Noise();

    Faults m_faults;
    std::string m_version = "V2.10";
    Card m_card;
    uint16_t m_inputLength = DEFAULT_REPORT_LENGTH;
    uint16_t m_outputLength = DEFAULT_REPORT_LENGTH;
    protocol::ConfigWriteImage m_kept{};

    bool m_vanished = false;
    int m_moved = 0;
    uint32_t m_noise = 0x2545F491u;

    int m_usbOpen = 0;
    std::deque<Scheduled> m_usbOut;
    std::vector<uint8_t> m_usbFrame;
    uint32_t m_usbFrameAt = 0;

    std::deque<SerialOut> m_serialOut;
    uint32_t m_lineStart = 0;  // burst start tick, line time since then, last byte's tick
    uint64_t m_lineUs = 0;
    uint32_t m_lineEnd = 0;
    std::vector<uint8_t> m_serialFrame;
    uint32_t m_serialFrameAt = 0;

    Received m_log;
};

}  // namespace sim
