// The options several subcommands share: the link to the reader, the format of a file
// whose name does not say it, and the checks that turn a bad value into a usage error
// naming its option.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/reader_link.h"

namespace cli {

// --usb [NODE], --com N, --port PATH. The values are kept as text and checked by
// Options(), so that a bad one is refused in the program's own words.
class LinkFlags {
public:
    void AddTo(CLI::App* cmd);
    // Throws EXIT_USAGE naming the option for a COM number outside 1 to 200 or not a
    // number, an empty --port or --usb NODE, and more than one link.
    LinkOptions Options() const;

private:
    CLI::App* m_cmd = nullptr;
    std::string m_usbNode;
    std::string m_com;
    std::string m_port;
};

// --format cfg|json: how a file named "-" or without .cfg/.json is read or written.
void AddFormatOption(CLI::App* cmd, std::string* format);

// A number of seconds from `min` to `max` written as a decimal number; EXIT_USAGE naming
// `option` otherwise (NaN and infinities included).
double ParseSeconds(const std::string& option, const std::string& text, double min, double max);

// The subcommands' names, in the order the help lists them.
const std::vector<std::string>& CommandNames();

}  // namespace cli
