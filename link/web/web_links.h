// The page's links: readers on USB through WebHID and serial ports through WebSerial, both
// limited to what the user has granted to the page. The page's script finds the granted
// devices at load and follows plugging and unplugging (link/web/web_links.js).
#pragma once

#include <string>

namespace zarn::web {

// Which COM number names which granted serial port, one line per port ("COM1  USB
// 0801:0005"), for the page to show.
std::string SerialPortNames();

}  // namespace zarn::web
