// The reader as the command line reaches it: one link chosen by --usb [NODE], --com N or
// --port PATH, and the exchanges of the dialog's buttons run over it. Failures are thrown
// as cli::Error with the exit code and a one-line message that names the link.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "link/hid_link.h"
#include "link/serial_link.h"
#include "protocol/reader_config.h"
#include "protocol/reader_hid.h"

namespace cli {

enum ExitCode { EXIT_DONE = 0, EXIT_USAGE = 1, EXIT_LINK = 2, EXIT_FILE = 3, EXIT_VERIFY = 4 };

class Error : public std::runtime_error {
public:
    Error(int code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

struct LinkOptions {
    bool usb = false;
    std::string usbNode;  // empty: the first reader found with either vendor id
    int com = 0;          // 1 to 200; 0 = not given, unless comGiven
    std::string port;     // a serial device (path, or \\.\COM12 on Windows); empty = not given
    // Set when the option was given at all: a given --com 0 or --port '' is then refused
    // as a bad choice instead of being taken for "no link named" (and USB).
    bool comGiven = false;
    bool portGiven = false;
};

// Ids that are the reader's (IsReaderId) and known.
bool IsReaderInterface(const zarn::HidInterfaceInfo& info);

// The reader is held from the link's first exchange until the link ends, so that one
// command (apply's read, compare, write and read-back) is never split by another
// program's: over USB a second program waits for it up to HID_HOLD_WAIT_MS and is then
// told the reader is in use; a serial port stays open, exclusively, for the whole command.
class ReaderLink {
public:
    // Chooses the link; USB when none is named. Throws EXIT_USAGE for a bad choice.
    explicit ReaderLink(const LinkOptions& options);
    ~ReaderLink();
    ReaderLink(const ReaderLink&) = delete;
    ReaderLink& operator=(const ReaderLink&) = delete;

    bool IsUsb() const { return m_usb; }
    // "USB", "USB /dev/hidraw3", "COM3 (/dev/ttyS2)", "/dev/pts/4".
    const std::string& Where() const { return m_where; }

    // The reader's read image ('S').
    protocol::ConfigReadImage ReadConfig();
    // Sends a write image. Over USB the reader's verdict is awaited; over a serial port
    // its reply bytes are read and dropped (only a read-back tells what it kept).
    // `factory` picks the factory exchange's serial reply time.
    void WriteImage(const protocol::ConfigWriteImage& image, bool factory);
    std::string ReadVersion();
    // Waits up to timeoutMs for card data; returns within it over a serial port whatever
    // the reader sends.
    std::string ReadCard(uint32_t timeoutMs);

private:
    [[noreturn]] void PortOpenFailed() const;
    // Opens the port and drops what the reader still sends from before (the tail of an
    // earlier answer arrives after the next open's purge, at line speed), until the line
    // has been quiet for a while or maxMs passed. False when it never went quiet.
    bool QuietLine(uint32_t maxMs);
    // Before an exchange whose answer is taken by position: a line that does not go quiet
    // would shift it, so that is an error.
    void QuietLineOrFail();
    [[noreturn]] void NoReader() const;
    // Bytes arriving on the serial port: the first within firstMs, then until a gap, and
    // never past firstMs from the start nor beyond a bounded count, so that a reader that
    // keeps sending cannot hold the command.
    std::string CollectSerial(uint32_t firstMs);

    // Over USB: takes the hold on the first exchange; NoReader when it cannot.
    void HoldReader();

    bool m_usb = true;
    int m_com = 0;
    std::unique_ptr<protocol::ReaderHidHold> m_hidHold;
    std::unique_ptr<SerialLink::Hold> m_serialHold;
    bool m_pathPort = false;
    std::string m_where;
};

}  // namespace cli
