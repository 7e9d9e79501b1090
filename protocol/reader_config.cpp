#include "protocol/reader_config.h"

#include <algorithm>

namespace protocol {

namespace {

template <size_t N>
void Put(uint8_t* image, size_t offset, const std::array<uint8_t, N>& field) {
    std::copy(field.begin(), field.end(), image + offset);
}

template <size_t N>
void Get(const uint8_t* image, size_t offset, std::array<uint8_t, N>* field) {
    std::copy(image + offset, image + offset + N, field->begin());
}

}  // namespace

uint8_t ConfigHeaderChecksum(const uint8_t* header16) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 16; ++i) sum ^= header16[i];
    return sum;
}

ConfigWriteImage MakeConfigWriteImage(const ReaderConfig& config) {
    ConfigWriteImage image{};  // reserved bytes stay 0
    uint8_t* p = image.data();
    p[wimg::COMMAND] = CMD_ESC;
    p[wimg::COMMAND + 1] = CMD_SET_CONFIG_2;
    Put(p, wimg::TRACK_ENABLE, config.trackEnable);
    Put(p, wimg::START_SENTINEL, config.startSentinel);
    Put(p, wimg::END_SENTINEL, config.endSentinel);
    p[wimg::PACKET_TERMINATOR] = config.packetTerminator;
    Put(p, wimg::TRACK_TERMINATOR, config.trackTerminator);
    p[wimg::USB_SPEED] = config.usbSpeed;
    p[wimg::HEADER_CHECKSUM] = ConfigHeaderChecksum(p);
    p[wimg::USB_HID_MODE_OFF] = config.usbHidModeOff;

    p[wimg::OPTION_FLAGS] = config.optionFlags;
    Put(p, wimg::PREFIX, config.prefix);
    Put(p, wimg::SUFFIX, config.suffix);
    p[wimg::TRIM3] = config.trim3KeepSpaces;
    Put(p, wimg::TRACK_LENGTH, config.trackLength);
    Put(p, wimg::TRACK_START, config.trackStart);
    return image;
}

ReaderConfig ParseConfigReadImage(const ConfigReadImage& image) {
    ReaderConfig config;  // usbSpeed and usbHidModeOff have no place here: they stay 0
    const uint8_t* p = image.data();
    Get(p, rimg::TRACK_ENABLE, &config.trackEnable);
    Get(p, rimg::START_SENTINEL, &config.startSentinel);
    Get(p, rimg::END_SENTINEL, &config.endSentinel);
    config.packetTerminator = p[rimg::PACKET_TERMINATOR];
    Get(p, rimg::TRACK_TERMINATOR, &config.trackTerminator);
    config.optionFlags = p[rimg::OPTION_FLAGS];
    Get(p, rimg::PREFIX, &config.prefix);
    Get(p, rimg::SUFFIX, &config.suffix);
    config.trim3KeepSpaces = p[rimg::TRIM3];
    Get(p, rimg::TRACK_LENGTH, &config.trackLength);
    Get(p, rimg::TRACK_START, &config.trackStart);
    return config;
}

ConfigReadImage MakeConfigReadImage(const ReaderConfig& config,
                                    const std::array<uint8_t, 4>& ownHead, uint8_t ownTail) {
    ConfigReadImage image{};
    uint8_t* p = image.data();
    Put(p, rimg::TRACK_ENABLE, config.trackEnable);
    Put(p, rimg::START_SENTINEL, config.startSentinel);
    Put(p, rimg::END_SENTINEL, config.endSentinel);
    p[rimg::PACKET_TERMINATOR] = config.packetTerminator;
    Put(p, rimg::TRACK_TERMINATOR, config.trackTerminator);
    Put(p, rimg::READER_OWN_HEAD, ownHead);
    p[rimg::OPTION_FLAGS] = config.optionFlags;
    Put(p, rimg::PREFIX, config.prefix);
    Put(p, rimg::SUFFIX, config.suffix);
    p[rimg::TRIM3] = config.trim3KeepSpaces;
    Put(p, rimg::TRACK_LENGTH, config.trackLength);
    Put(p, rimg::TRACK_START, config.trackStart);
    p[rimg::READER_OWN_TAIL] = ownTail;
    return image;
}

ReaderConfig ParseConfigWriteImage(const ConfigWriteImage& image) {
    ReaderConfig config;
    const uint8_t* p = image.data();
    Get(p, wimg::TRACK_ENABLE, &config.trackEnable);
    Get(p, wimg::START_SENTINEL, &config.startSentinel);
    Get(p, wimg::END_SENTINEL, &config.endSentinel);
    config.packetTerminator = p[wimg::PACKET_TERMINATOR];
    Get(p, wimg::TRACK_TERMINATOR, &config.trackTerminator);
    config.usbSpeed = p[wimg::USB_SPEED];
    config.usbHidModeOff = p[wimg::USB_HID_MODE_OFF];
    config.optionFlags = p[wimg::OPTION_FLAGS];
    Get(p, wimg::PREFIX, &config.prefix);
    Get(p, wimg::SUFFIX, &config.suffix);
    config.trim3KeepSpaces = p[wimg::TRIM3];
    Get(p, wimg::TRACK_LENGTH, &config.trackLength);
    Get(p, wimg::TRACK_START, &config.trackStart);
    return config;
}

}  // namespace protocol
