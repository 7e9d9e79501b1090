// The termios serial backend's own helpers, for the listing and its tests.
#pragma once

#include <string>

namespace zarn::posix {

// The device of a COM number: ZARN60_COM<n> when set and not empty; otherwise COM1-32
// are /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31 and COM65-96 /dev/ttyACM0-31. Empty for a
// number that has no device.
std::string SerialDevicePath(int number);

}  // namespace zarn::posix
