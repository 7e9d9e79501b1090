// The stored factory configurations, one per link. They differ in the speed byte and in
// the body block, which over the serial link carries two unused "x00" texts.
#include "protocol/factory_images.h"

namespace protocol {

// All tracks on, sentinels % ; + and ? ? ?, no packet terminator, CR LF after each track,
// then the speed: 6 over USB, 7 over the serial port.
const std::array<uint8_t, 14> FACTORY_HEADER_HID = {0x01, 0x01, 0x01, 0x25, 0x3B, 0x2B, 0x3F,
                                                    0x3F, 0x3F, 0x00, 0x03, 0x03, 0x03, 0x06};
const std::array<uint8_t, 14> FACTORY_HEADER_SERIAL = {0x01, 0x01, 0x01, 0x25, 0x3B, 0x2B, 0x3F,
                                                       0x3F, 0x3F, 0x00, 0x03, 0x03, 0x03, 0x07};
// Flags 0, then "x00" at positions 7 to 9 of the prefix and 9 to 11 of the suffix; with
// no flag set the reader does not output them.
const std::array<uint8_t, 32> FACTORY_BODY_SERIAL = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x30, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x30, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00};

namespace {

// The stored bytes taken field by field at their write-image places (header bytes 2 to 15,
// body bytes 0 to 31), so that MakeConfigWriteImage lays them out and adds the checksum.
ReaderConfig FactoryConfig(const std::array<uint8_t, 14>& header, const uint8_t* body32) {
    ReaderConfig cfg{};
    auto h = [&header](size_t imageOffset) { return header[imageOffset - wimg::TRACK_ENABLE]; };
    for (size_t t = 0; t < 3; ++t) {
        cfg.trackEnable[t] = h(wimg::TRACK_ENABLE + t);
        cfg.startSentinel[t] = h(wimg::START_SENTINEL + t);
        cfg.endSentinel[t] = h(wimg::END_SENTINEL + t);
        cfg.trackTerminator[t] = h(wimg::TRACK_TERMINATOR + t);
    }
    cfg.packetTerminator = h(wimg::PACKET_TERMINATOR);
    cfg.usbSpeed = h(wimg::USB_SPEED);
    cfg.usbHidModeOff = 1;
    if (body32 != nullptr) {
        auto b = [body32](size_t imageOffset) { return body32[imageOffset - wimg::OPTION_FLAGS]; };
        cfg.optionFlags = b(wimg::OPTION_FLAGS);
        for (size_t i = 0; i < CONFIG_TEXT_FIELD_SIZE; ++i) {
            cfg.prefix[i] = b(wimg::PREFIX + i);
            cfg.suffix[i] = b(wimg::SUFFIX + i);
        }
        cfg.trim3KeepSpaces = b(wimg::TRIM3);
    }
    return cfg;
}

}  // namespace

ConfigWriteImage FactoryWriteImageHid() {
    return MakeConfigWriteImage(FactoryConfig(FACTORY_HEADER_HID, nullptr));
}

ConfigWriteImage FactoryWriteImageSerial() {
    return MakeConfigWriteImage(FactoryConfig(FACTORY_HEADER_SERIAL, FACTORY_BODY_SERIAL.data()));
}

}  // namespace protocol
