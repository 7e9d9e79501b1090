#include "sim/options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

std::string HexBytes(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i) text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string ReceivedText(const Reader::Received& received) {
    std::string text;
    for (const auto& report : received.usbReports) {
        text += "sim rx usb " + HexBytes(report.data(), report.size()) + "\n";
    }
    if (!received.serialBytes.empty()) {
        text += "sim rx serial " +
                HexBytes(received.serialBytes.data(), received.serialBytes.size()) + "\n";
    }
    return text;
}

bool AppendReceived(const std::string& path, Reader* reader) {
    const std::string text = ReceivedText(reader->TakeLog()) + "sim log end\n";
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
    out.flush();
    return out.good();
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
    std::istringstream in(text);
    std::string token;
    std::vector<uint8_t> out;
    while (in >> token) {
        if (token.size() > 2) return false;
        for (char c : token) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        }
        out.push_back(static_cast<uint8_t>(std::strtoul(token.c_str(), nullptr, 16)));
    }
    *bytes = std::move(out);
    return true;
}

bool ParseNumber(const std::string& text, long min, long max, long* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

bool ParseMode(const std::string& name, const std::string& arg, bool haveArg, Faults* faults,
               std::string* error) {
    Faults f;
    long n = 0;
    auto needNumber = [&](long max) {
        if (haveArg && ParseNumber(arg, 0, max, &n)) return true;
        *error = "sim mode " + name + " needs a number";
        return false;
    };
    if (name == "normal" || name == "silent" || name == "reject" || name == "garbage") {
        if (haveArg) {
            *error = "sim mode " + name + " takes no argument";
            return false;
        }
        f.mode = name == "silent"    ? AnswerMode::Silent
                 : name == "reject"  ? AnswerMode::Reject
                 : name == "garbage" ? AnswerMode::Garbage
                                     : AnswerMode::Normal;
    } else if (name == "partial") {
        if (!needNumber(100000)) return false;
        f.partial = static_cast<int>(n);
    } else if (name == "slow") {
        if (!needNumber(600000)) return false;
        f.slowMs = static_cast<uint32_t>(n);
    } else if (name == "extra") {
        if (!needNumber(1000)) return false;
        f.extra = static_cast<uint32_t>(n);
    } else if (name == "vanish") {
        if (!needNumber(100000)) return false;
        f.vanishAfter = static_cast<int>(n);
    } else {
        *error = "unknown sim mode: " + name;
        return false;
    }
    *faults = f;
    return true;
}

namespace {

bool ParseHexId(const std::string& text, uint16_t* id) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    *id = static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

}  // namespace

const char* SimUsageText() {
    return "usage: zarn60-sim --serial [--com N] [options]\n"
           "       zarn60-sim --usb [--vid 0801|0802] [options]\n"
           "\n"
           "A simulated ZARN60 card reader.\n"
           "  --serial          serve the reader on a pseudo-terminal; prints\n"
           "                    ZARN60_COM<N>=<device path> (export it, then open COM N)\n"
           "  --com N           the COM number to print (1 to 200, default 3)\n"
           "  --usb             serve the reader as a hidraw node (needs FUSE); prints\n"
           "                    ZARN60_SYSFS_ROOT=... and ZARN60_DEV_ROOT=...\n"
           "  --vid HEX         USB vendor id (default 0801), product id is 0005\n"
           "  --reports IN OUT  USB input and output report lengths (default 9 9;\n"
           "                    0 = capabilities unreadable)\n"
           "  --mode M          normal, silent (answers nothing), reject (refuses\n"
           "                    configurations) or garbage (answers random bytes)\n"
           "  --partial N       answer only the first N reports (USB) or bytes (serial)\n"
           "  --slow MS         each report or byte MS ms late\n"
           "  --extra N         N more reports (USB) or bytes (serial) after each answer\n"
           "  --vanish N        disappear after N reports or bytes have moved\n"
           "  --reader-version TEXT\n"
           "                    the version text it answers (default V2.10)\n"
           "  --card TRACKS     the card it reads: track1|track2|track3 without sentinels\n"
           "  --swipe-every MS  swipe the card every MS ms\n"
           "  --log FILE        on SIGUSR2 and when it ends, append what it received since\n"
           "                    the last time to FILE (as the runner's `sim log`), then\n"
           "                    the line \"sim log end\"\n"
           "  -h, --help        this text\n"
           "  --version         the program's version\n"
           "\n"
           "Send SIGUSR1 to swipe the card once, SIGUSR2 to write the --log file. Stops on SIGINT or SIGTERM.\n"
           "\n"
           "Exit status: 0 stopped by a signal, or the reader vanished as asked; 1 the link\n"
           "could not be served (no pseudo-terminal, no FUSE) or output not written; 2 bad\n"
           "option.\n";
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* options,
                     std::string* error) {
    SimOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *v = args[++i];
            return true;
        };
        auto number = [&](long min, long max, long* n) {
            std::string v;
            if (!value(&v)) return false;
            if (!ParseNumber(v, min, max, n)) {
                *error = a + ": not a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ": " + v;
                return false;
            }
            return true;
        };
        long n = 0;
        std::string v;
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--serial") {
            o.link = SimOptions::Link::Serial;
        } else if (a == "--usb") {
            o.link = SimOptions::Link::Usb;
        } else if (a == "--com") {
            if (!number(1, 200, &n)) return false;
            o.com = static_cast<int>(n);
        } else if (a == "--vid") {
            if (!value(&v)) return false;
            if (!ParseHexId(v, &o.vendorId)) {
                *error = "--vid: not a hexadecimal id: " + v;
                return false;
            }
        } else if (a == "--reports") {
            if (!number(0, 4096, &n)) return false;
            o.inputReportLength = static_cast<uint16_t>(n);
            if (!number(0, 4096, &n)) return false;
            o.outputReportLength = static_cast<uint16_t>(n);
        } else if (a == "--mode") {
            if (!value(&v)) return false;
            Faults f;
            if (v != "normal" && v != "silent" && v != "reject" && v != "garbage") {
                *error = "--mode: one of normal, silent, reject, garbage: " + v;
                return false;
            }
            if (!ParseMode(v, "", false, &f, error)) return false;
            o.faults.mode = f.mode;
        } else if (a == "--partial") {
            if (!number(0, 100000, &n)) return false;
            o.faults.partial = static_cast<int>(n);
        } else if (a == "--slow") {
            if (!number(0, 600000, &n)) return false;
            o.faults.slowMs = static_cast<uint32_t>(n);
        } else if (a == "--extra") {
            if (!number(0, 1000, &n)) return false;
            o.faults.extra = static_cast<uint32_t>(n);
        } else if (a == "--vanish") {
            if (!number(0, 100000, &n)) return false;
            o.faults.vanishAfter = static_cast<int>(n);
        } else if (a == "--reader-version") {
            if (!value(&o.version)) return false;
        } else if (a == "--version") {
            // Earlier scripts set the reader's version text as "--version TEXT"; a value
            // that is no option still means that.
            if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) {
                o.version = args[++i];
            } else {
                o.showVersion = true;
            }
        } else if (a == "--card") {
            if (!value(&v)) return false;
            if (std::count(v.begin(), v.end(), '|') > 2) {
                *error = "--card: at most three tracks: " + v;
                return false;
            }
            o.card = ParseCardTracks(v);
        } else if (a == "--log") {
            if (!value(&o.logPath)) return false;
        } else if (a == "--swipe-every") {
            if (!number(1, 86400000, &n)) return false;
            o.swipeEveryMs = static_cast<uint32_t>(n);
        } else {
            *error = "unknown option " + (a.size() <= 64 ? a : a.substr(0, 64) + "...");
            return false;
        }
    }
    if (!o.help && !o.showVersion && o.link == SimOptions::Link::None) {
        *error = "say --serial or --usb";
        return false;
    }
    *options = o;
    return true;
}

void ApplySimOptions(const SimOptions& options, Reader* reader) {
    reader->SetReportLengths(options.inputReportLength, options.outputReportLength);
    reader->SetFaults(options.faults);
    reader->SetVersion(options.version);
    reader->SetCard(options.card);
}

}  // namespace sim
