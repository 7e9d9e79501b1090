// The stored factory configurations of the two links, as the reader is sent them.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/reader_config.h"

namespace protocol {

// Header bytes 2 to 15 of the factory images, and body bytes 0 to 31 of the serial one.
extern const std::array<uint8_t, 14> FACTORY_HEADER_HID;
extern const std::array<uint8_t, 14> FACTORY_HEADER_SERIAL;
extern const std::array<uint8_t, 32> FACTORY_BODY_SERIAL;

ConfigWriteImage FactoryWriteImageHid();
ConfigWriteImage FactoryWriteImageSerial();

}  // namespace protocol
