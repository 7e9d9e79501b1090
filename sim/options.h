// The simulated reader's settings as the standalone simulator takes them from its command
// line (and the attachments apply them to a reader core), plus the small text helpers the
// `sim` commands share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/reader.h"

namespace sim {

struct SimOptions {
    enum class Link { None, Serial, Usb };
    Link link = Link::None;
    int com = 3;                 // --com N: the COM number printed as ZARN60_COM<N>=
    uint16_t vendorId = 0x0801;  // --vid 0801|0802
    uint16_t productId = 0x0005;
    uint16_t inputReportLength = DEFAULT_REPORT_LENGTH;  // --reports IN OUT
    uint16_t outputReportLength = DEFAULT_REPORT_LENGTH;
    Faults faults;                  // --mode, --partial, --slow, --extra, --vanish
    std::string version = "V2.10";  // --reader-version TEXT
    Card card = DefaultCard();      // --card TRACKS
    uint32_t swipeEveryMs = 0;      // --swipe-every MS; 0 = only on SIGUSR1
    std::string logPath;            // --log FILE: what it received, on SIGUSR2 and at the end
    bool help = false;
    bool showVersion = false;  // --version alone: the program's own version
};

// Parses the simulator's options (argv[0] excluded). False with *error on a bad option.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* options, std::string* error);
const char* SimUsageText();

// Puts the options' reader settings (faults, version, card, report lengths) into a core.
void ApplySimOptions(const SimOptions& options, Reader* reader);

// What the reader received, as the runner's `sim log` prints it: one "sim rx usb HEX" line
// per output report as written, then one "sim rx serial HEX" line with all serial bytes
// (none when there are none).
std::string ReceivedText(const Reader::Received& received);
// Takes what the reader received since the last call and appends it to the file at path,
// then the line "sim log end" (so that whoever asked sees the answer is complete). False
// when the file cannot be written.
bool AppendReceived(const std::string& path, Reader* reader);

// "1b 01 ff": lower-case two-digit bytes separated by single blanks.
std::string HexBytes(const uint8_t* data, size_t size);
// Blank-separated hex bytes of one or two digits each. False on anything else.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes);
// A whole decimal number within [min, max].
bool ParseNumber(const std::string& text, long min, long max, long* value);
// Sets one answer mode as `sim mode` does: NAME is normal, silent, reject, garbage, or
// partial / slow / extra / vanish with ARG. Each mode replaces the previous one.
bool ParseMode(const std::string& name, const std::string& arg, bool haveArg, Faults* faults,
               std::string* error);

}  // namespace sim
