#include "cli/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "link/serial_link.h"

namespace cli {

void LinkFlags::AddTo(CLI::App* cmd) {
    m_cmd = cmd;
    cmd->add_option("--usb", m_usbNode,
                    "the reader on USB; NODE (e.g. /dev/hidraw3) picks one, else the first "
                    "with vendor 0801 or 0802 (the default link)")
        ->expected(0, 1)
        ->type_name("[NODE]");
    cmd->add_option("--com", m_com, "the reader on serial port COM N, 1 to 200 (9600 8N1)")
        ->type_name("N");
    cmd->add_option("--port", m_port, "the reader on this serial device")->type_name("PATH");
}

LinkOptions LinkFlags::Options() const {
    LinkOptions o;
    const bool usb = m_cmd->count("--usb") > 0;
    const bool com = m_cmd->count("--com") > 0;
    const bool port = m_cmd->count("--port") > 0;
    o.comGiven = com;
    o.portGiven = port;
    if (int(usb) + int(com) + int(port) > 1)
        throw Error(EXIT_USAGE, "choose one link: --usb, --com or --port");
    if (com) {
        // Digits only: "3x", " 3", "+3" and "0x3" are not port numbers.
        const std::string range = "COM numbers go from 1 to " + std::to_string(PORT_COUNT);
        bool digits = !m_com.empty() && m_com.size() <= 4;
        for (char c : m_com) digits = digits && c >= '0' && c <= '9';
        const long n = digits ? std::strtol(m_com.c_str(), nullptr, 10) : 0;
        if (!digits || n < 1 || n > PORT_COUNT)
            throw Error(EXIT_USAGE, "--com " + m_com + ": " + range);
        o.com = static_cast<int>(n);
    }
    if (port) {
        if (m_port.empty()) throw Error(EXIT_USAGE, "--port: give the path of a serial device");
        o.port = m_port;
    }
    if (usb) {
        o.usb = true;
        o.usbNode = m_usbNode;
    }
    return o;
}

void AddFormatOption(CLI::App* cmd, std::string* format) {
    cmd->add_option("--format", *format,
                    "cfg or json: the format of a file named - (standard input or output) "
                    "or without .cfg or .json")
        ->type_name("cfg|json");
}

double ParseSeconds(const std::string& option, const std::string& text, double min, double max) {
    char* end = nullptr;
    errno = 0;
    const double v = text.empty() ? NAN : std::strtod(text.c_str(), &end);
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", min, max);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v) || v < min || v > max)
        throw Error(EXIT_USAGE, option + " " + text + ": give a number of seconds from " + range);
    return v;
}

const std::vector<std::string>& CommandNames() {
    static const std::vector<std::string> names = {
        "list",   "show",   "apply", "save",    "factory", "version", "read-card",
        "decode", "encode", "diff",  "preview", "schema",  "help"};
    return names;
}

}  // namespace cli
