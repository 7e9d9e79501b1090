// The command line's link over scripted backends on the virtual clock: it uses only the
// link it was asked for, explains a failed open with the open's own reason (never by
// opening other ports or listing devices), and ends every command within its time-out
// whatever the reader sends.
#include "cli/reader_link.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "protocol/factory_images.h"
#include "sim/inprocess.h"
#include "sim/reader.h"

namespace {

// What the program did to the devices.
struct Seen {
    std::vector<int> portsOpened;
    int listings = 0;
    int hidEnumerations = 0;
    int hidHoldAttempts = 0;
};

// A reader on a line that keeps sending: a byte every `everyMs`, for ever.
class ChatteringPort final : public zarn::SerialPort {
public:
    ChatteringPort(zarn::VirtualClock& clock, uint32_t everyMs)
        : m_clock(clock), m_every(everyMs) {}
    bool ReadSettings() override { return true; }
    bool ApplySettings(uint32_t, uint8_t, uint8_t) override { return true; }
    void Purge() override {}
    int WriteOne(uint8_t) override { return 1; }
    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        if (m_every > timeoutMs) {
            m_clock.SleepMs(timeoutMs);
            return 0;
        }
        m_clock.SleepMs(m_every);
        *byte = 'x';
        return 1;
    }

private:
    zarn::VirtualClock& m_clock;
    uint32_t m_every;
};

// COM ports by number: `chattering` has a reader on it, `busy` is held by another
// program, every other number has nothing behind it.
class ScriptedSerial final : public zarn::SerialBackend {
public:
    ScriptedSerial(Seen& seen, zarn::VirtualClock& clock) : m_seen(seen), m_clock(clock) {}
    int chattering = 0;
    int busy = 0;
    uint32_t everyMs = 100;

    std::unique_ptr<zarn::SerialPort> OpenPort(int number, zarn::SerialOpenError* error) override {
        m_seen.portsOpened.push_back(number);
        if (number == chattering) return std::make_unique<ChatteringPort>(m_clock, everyMs);
        *error = number == busy ? zarn::OpenError::InUse : zarn::OpenError::NoDevice;
        return nullptr;
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override {
        ++m_seen.listings;
        return {};
    }

private:
    Seen& m_seen;
    zarn::VirtualClock& m_clock;
};

class HeldReader final : public zarn::HidDevice {
public:
    explicit HeldReader(Seen& seen) : m_seen(seen) {}
    bool GetAttributes(uint16_t* v, uint16_t* p) override {
        *v = 0x0801;
        *p = 0x0005;
        return true;
    }
    bool GetReportLengths(uint16_t* in, uint16_t* out) override {
        *in = *out = 9;
        return true;
    }
    int Write(const uint8_t*, uint32_t, uint32_t, bool*) override { return 0; }
    int Read(uint8_t*, uint32_t, uint32_t, bool*) override { return 0; }
    bool TryHold() override {
        ++m_seen.hidHoldAttempts;
        return false;
    }

private:
    Seen& m_seen;
};

// One USB reader, held by another program for as long as the test runs (or none).
class ScriptedHid final : public zarn::HidBackend {
public:
    explicit ScriptedHid(Seen& seen) : m_seen(seen) {}
    bool present = true;
    std::vector<std::string> EnumerateInterfaces() override {
        ++m_seen.hidEnumerations;
        if (!present) return {};
        return {"/dev/hidraw0"};
    }
    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string&, std::string*) override {
        return std::make_unique<HeldReader>(m_seen);
    }

private:
    Seen& m_seen;
};

class CliReaderLink : public ::testing::Test {
protected:
    CliReaderLink() : m_clock(5000), m_use(m_clock), m_serial(m_seen, m_clock), m_hid(m_seen) {
        zarn::SetSerialBackend(&m_serial);
        zarn::SetHidBackend(&m_hid);
        zarn::PortTable::CloseAll();
    }
    ~CliReaderLink() override {
        zarn::PortTable::CloseAll();
        zarn::SetSerialBackend(nullptr);
        zarn::SetHidBackend(nullptr);
    }
    // Runs `what` and gives back the error it threw, or an exit code of -1.
    template <typename F>
    cli::Error Failure(F what) {
        try {
            what();
        } catch (const cli::Error& e) {
            return e;
        }
        return cli::Error(-1, "no error");
    }

    zarn::VirtualClock m_clock;
    zarn::ScopedClock m_use;
    Seen m_seen;
    ScriptedSerial m_serial;
    ScriptedHid m_hid;
};

// A link option that was given picks that link or nothing: a bad value is a usage error
// and a link that fails is the error, never a reason to try USB.
TEST_F(CliReaderLink, NoPathPicksAnotherLinkThanTheOneAskedFor) {
    struct Case {
        const char* name;
        cli::LinkOptions options;
        int code;
        const char* says;
    } cases[] = {
        {"--com 0", {false, "", 0, "", true, false}, cli::EXIT_USAGE, "--com 0"},
        {"--com -3", {false, "", -3, "", true, false}, cli::EXIT_USAGE, "--com -3"},
        {"--port ''", {false, "", 0, "", false, true}, cli::EXIT_USAGE, "--port"},
        {"--com 0 --usb", {true, "", 0, "", true, false}, cli::EXIT_USAGE, "choose one link"},
        {"--com 7, nothing there", {false, "", 7, "", false, false}, cli::EXIT_LINK, "COM7"},
        {"--port to nothing",
         {false, "", 0, "/nonexistent/tty", false, true},
         cli::EXIT_LINK,
         "/nonexistent/tty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_seen = Seen{};
        const cli::Error e = Failure([&] {
            cli::ReaderLink link(c.options);
            link.ReadConfig();
        });
        EXPECT_EQ(e.Code(), c.code);
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        EXPECT_EQ(m_seen.hidEnumerations, 0) << "USB was tried";
    }
}

// The reason of a failed open is the open's own: only the port named is opened, nothing
// is listed, and a USB reader another program holds is "in use" after the window's wait.
TEST_F(CliReaderLink, AFailedOpenSaysWhyWithoutLookingElsewhere) {
    m_serial.busy = 3;
    m_serial.chattering = 5;
    const cli::Error busy = Failure([] { cli::ReaderLink({false, "", 3, ""}).ReadConfig(); });
    EXPECT_EQ(busy.Code(), cli::EXIT_LINK);
    EXPECT_NE(std::string(busy.what()).find("cannot open the port: in use"), std::string::npos)
        << busy.what();
    EXPECT_EQ(m_seen.portsOpened, std::vector<int>{3});
    EXPECT_EQ(m_seen.listings, 0);
    EXPECT_EQ(m_seen.hidEnumerations, 0);

    const uint32_t start = m_clock.NowMs();
    const cli::Error held = Failure([] { cli::ReaderLink({}).ReadVersion(); });
    EXPECT_EQ(held.Code(), cli::EXIT_LINK);
    EXPECT_NE(std::string(held.what()).find("in use by another program"), std::string::npos)
        << held.what();
    EXPECT_EQ(m_clock.NowMs() - start, HID_HOLD_WAIT_MS);
    EXPECT_GT(m_seen.hidHoldAttempts, 1);
    EXPECT_EQ(m_seen.listings, 0);

    m_hid.present = false;
    const cli::Error none = Failure([] { cli::ReaderLink({}).ReadConfig(); });
    EXPECT_NE(std::string(none.what()).find("no reader found"), std::string::npos) << none.what();
}

// A reader that never stops sending: each command ends within its time-out with what it
// collected.
TEST_F(CliReaderLink, AReaderThatKeepsTalkingCannotHoldACommand) {
    m_serial.chattering = 4;
    struct Case {
        uint32_t everyMs;
        uint32_t timeoutMs;
    } cases[] = {{100, 1000}, {1, 1000}, {150, 3000}, {100, 100000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.everyMs) + " ms apart, " + std::to_string(c.timeoutMs));
        m_serial.everyMs = c.everyMs;
        cli::ReaderLink link({false, "", 4, ""});
        uint32_t start = m_clock.NowMs();
        const std::string card = link.ReadCard(c.timeoutMs);
        EXPECT_LE(m_clock.NowMs() - start, c.timeoutMs);
        EXPECT_FALSE(card.empty());
        EXPECT_LE(card.size(), 65536u);

        start = m_clock.NowMs();
        const std::string version = link.ReadVersion();
        EXPECT_LE(m_clock.NowMs() - start, 1000u);
        EXPECT_FALSE(version.empty());
    }
}

}  // namespace

// A reader that sends more bytes after each answer than the exchange takes: the tail of
// one answer arrives after the next exchange's open, and would shift its answer. Every
// command either gets the reader's own bytes or fails; none succeeds on shifted data.
TEST(CliReaderLinkExtraBytes, LeftoverReplyBytesNeverShiftAnAnswer) {
    for (const char* extra : {"extra 1", "extra 5", "extra 8", "extra 60"}) {
        SCOPED_TRACE(extra);
        sim::InProcessSimulation simulation;
        std::ostringstream out;
        std::string error;
        ASSERT_TRUE(simulation.Command(std::string("mode ") + extra, out, &error)) << error;
        cli::ReaderLink link({false, "", 1, ""});
        const protocol::ConfigReadImage factory = sim::ReaderReadImage(sim::UsbFactoryImage());
        for (int round = 0; round < 3; ++round) EXPECT_EQ(link.ReadConfig(), factory);

        protocol::ReaderConfig wanted =
            protocol::ParseConfigWriteImage(protocol::FactoryWriteImageSerial());
        wanted.optionFlags = 0x04;
        wanted.startSentinel[0] = '!';
        const protocol::ConfigWriteImage image = protocol::MakeConfigWriteImage(wanted);
        link.WriteImage(image, false);
        EXPECT_EQ(link.ReadConfig(), sim::ReaderReadImage(image)) << "the read-back was shifted";
        EXPECT_EQ(link.ReadVersion().substr(0, 5), "V2.10");
        EXPECT_EQ(link.ReadConfig(), sim::ReaderReadImage(image));
    }
}
