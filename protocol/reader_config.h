// The reader's output settings and the two byte images they travel in: the 64-byte write
// image sent to the reader, and the 56-byte read image it answers with (and that a .cfg
// file holds). Images are filled field by field at fixed offsets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace protocol {

enum : uint8_t { TERM_NONE = 0, TERM_CR = 1, TERM_CRLF = 3 };

enum : uint8_t {
    OPT_PREFIX = 0x01,
    OPT_SUFFIX = 0x02,
    OPT_BEEP_OFF = 0x04,
    OPT_TRACK3_TRIM = 0x08,
    OPT_AUTO_OUTPUT_OFF = 0x80,
};

enum : uint8_t {
    CMD_ESC = 0x1B,
    CMD_SET_CONFIG_2 = 0x01,  // CMD_SET_CONFIG is the two bytes 1B 01
    CMD_GET_CONFIG = 0x53,    // 'S'
    CMD_GET_VERSION = 0x56,   // 'V'
    CMD_READ_CARD = 0x41,     // 'A'
};

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;

constexpr size_t CONFIG_WRITE_IMAGE_SIZE = 64;
constexpr size_t CONFIG_READ_IMAGE_SIZE = 56;
constexpr size_t CONFIG_TEXT_FIELD_SIZE = 15;

using ConfigWriteImage = std::array<uint8_t, CONFIG_WRITE_IMAGE_SIZE>;
using ConfigReadImage = std::array<uint8_t, CONFIG_READ_IMAGE_SIZE>;

struct ReaderConfig {
    std::array<uint8_t, 3> trackEnable{};
    std::array<uint8_t, 3> startSentinel{};
    std::array<uint8_t, 3> endSentinel{};
    uint8_t packetTerminator = 0;
    std::array<uint8_t, 3> trackTerminator{};
    uint8_t usbSpeed = 0;
    uint8_t usbHidModeOff = 0;
    uint8_t optionFlags = 0;
    std::array<uint8_t, CONFIG_TEXT_FIELD_SIZE> prefix{};
    std::array<uint8_t, CONFIG_TEXT_FIELD_SIZE> suffix{};
    uint8_t trim3KeepSpaces = 0;
    std::array<uint8_t, 3> trackLength{};
    std::array<uint8_t, 3> trackStart{};

    bool operator==(const ReaderConfig&) const = default;
};

// The USB output speed the tool sends: 0 to USB_SPEED_MAX; unless told otherwise
// USB_SPEED_USB over USB and USB_SPEED_SERIAL over a serial port (the window's trackbar).
constexpr int USB_SPEED_MAX = 7;
constexpr int USB_SPEED_USB = 6;
constexpr int USB_SPEED_SERIAL = 7;

// Write-image offsets.
namespace wimg {
constexpr size_t COMMAND = 0, TRACK_ENABLE = 2, START_SENTINEL = 5, END_SENTINEL = 8,
                 PACKET_TERMINATOR = 11, TRACK_TERMINATOR = 12, USB_SPEED = 15,
                 HEADER_CHECKSUM = 16, USB_HID_MODE_OFF = 17, HEADER_SIZE = 24, OPTION_FLAGS = 24,
                 PREFIX = 25, SUFFIX = 40, TRIM3 = 55, TRACK_LENGTH = 56, TRACK_START = 59;
}
// Read-image offsets. The reader's own bytes (4 at READER_OWN_HEAD, 1 at READER_OWN_TAIL)
// mean nothing to the tool; a settings file keeps them as received.
namespace rimg {
constexpr size_t TRACK_ENABLE = 0, START_SENTINEL = 3, END_SENTINEL = 6, PACKET_TERMINATOR = 9,
                 TRACK_TERMINATOR = 10, READER_OWN_HEAD = 13, OPTION_FLAGS = 17, PREFIX = 18,
                 SUFFIX = 33, TRIM3 = 48, TRACK_LENGTH = 49, TRACK_START = 52, READER_OWN_TAIL = 55;
}

// XOR of the first 16 bytes of a write image.
uint8_t ConfigHeaderChecksum(const uint8_t* header16);
ConfigWriteImage MakeConfigWriteImage(const ReaderConfig& config);
// Every byte value is accepted; usbSpeed and usbHidModeOff come out 0.
ReaderConfig ParseConfigReadImage(const ConfigReadImage& image);
// The reader's side of the same layouts (what the simulated reader answers to 'S', and
// what it makes of a write image it is sent).
// `ownHead` and `ownTail` are the reader's own bytes (rimg::READER_OWN_HEAD and _TAIL).
ConfigReadImage MakeConfigReadImage(const ReaderConfig& config,
                                    const std::array<uint8_t, 4>& ownHead, uint8_t ownTail);
ReaderConfig ParseConfigWriteImage(const ConfigWriteImage& image);

}  // namespace protocol
