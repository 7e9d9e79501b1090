// One command holds its reader from its first exchange to its end: apply's read, compare,
// write and read-back are never split by another program. In-process, the devices the
// command opens are watched (one open, kept to the end, on each link); across processes,
// two applies on one reader at once lose no update, and a second that cannot wait is told
// the reader is in use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli_fixture.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "sim/inprocess.h"

namespace {

using namespace clitest;

// What the watcher saw of the devices the command opened.
struct Watch {
    int opens = 0;
    int live = 0;
    int transfers = 0;
    // Transfers made while no device of the command was open: a gap another program
    // could have used.
    int transfersWithoutHold = 0;
    // Devices closed while the command still had exchanges to make.
    int closesBeforeEnd = 0;
    bool ended = false;
};

class WatchedDevice final : public zarn::HidDevice {
public:
    WatchedDevice(std::unique_ptr<zarn::HidDevice> inner, Watch& w) : m_in(std::move(inner)), m_w(w) {
        ++m_w.opens;
        ++m_w.live;
    }
    ~WatchedDevice() override {
        --m_w.live;
        if (!m_w.ended) ++m_w.closesBeforeEnd;
    }
    bool GetAttributes(uint16_t* v, uint16_t* p) override { return m_in->GetAttributes(v, p); }
    bool GetReportLengths(uint16_t* i, uint16_t* o) override {
        return m_in->GetReportLengths(i, o);
    }
    int Write(const uint8_t* b, uint32_t n, uint32_t t, bool* now) override {
        ++m_w.transfers;
        return m_in->Write(b, n, t, now);
    }
    int Read(uint8_t* b, uint32_t n, uint32_t t, bool* now) override {
        ++m_w.transfers;
        return m_in->Read(b, n, t, now);
    }
    bool TryHold() override { return m_in->TryHold(); }

private:
    std::unique_ptr<zarn::HidDevice> m_in;
    Watch& m_w;
};

class WatchedHid final : public zarn::HidBackend {
public:
    WatchedHid(zarn::HidBackend& inner, Watch& w) : m_in(inner), m_w(w) {}
    std::vector<std::string> EnumerateInterfaces() override { return m_in.EnumerateInterfaces(); }
    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string& path,
                                                   std::string* why) override {
        auto d = m_in.OpenInterface(path, why);
        return d ? std::make_unique<WatchedDevice>(std::move(d), m_w) : nullptr;
    }

private:
    zarn::HidBackend& m_in;
    Watch& m_w;
};

class WatchedPort final : public zarn::SerialPort {
public:
    WatchedPort(std::unique_ptr<zarn::SerialPort> inner, Watch& w) : m_in(std::move(inner)), m_w(w) {
        ++m_w.opens;
        ++m_w.live;
    }
    ~WatchedPort() override {
        --m_w.live;
        if (!m_w.ended) ++m_w.closesBeforeEnd;
    }
    bool ReadSettings() override { return m_in->ReadSettings(); }
    bool ApplySettings(uint32_t b, uint8_t s, uint8_t p) override {
        return m_in->ApplySettings(b, s, p);
    }
    void Purge() override { m_in->Purge(); }
    int WriteOne(uint8_t byte) override {
        ++m_w.transfers;
        return m_in->WriteOne(byte);
    }
    bool SetReadTimeout(uint32_t ms) override { return m_in->SetReadTimeout(ms); }
    int ReadOne(uint8_t* byte, uint32_t ms) override {
        ++m_w.transfers;
        return m_in->ReadOne(byte, ms);
    }

private:
    std::unique_ptr<zarn::SerialPort> m_in;
    Watch& m_w;
};

class WatchedSerial final : public zarn::SerialBackend {
public:
    WatchedSerial(zarn::SerialBackend& inner, Watch& w) : m_in(inner), m_w(w) {}
    std::string DeviceOf(int n) override { return m_in.DeviceOf(n); }
    std::unique_ptr<zarn::SerialPort> OpenDevice(const std::string& d,
                                                 zarn::OpenFailure* why) override {
        return Wrap(m_in.OpenDevice(d, why));
    }
    std::unique_ptr<zarn::SerialPort> OpenPort(int n, zarn::SerialOpenError* e) override {
        return Wrap(m_in.OpenPort(n, e));
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override { return m_in.ListPorts(); }

private:
    std::unique_ptr<zarn::SerialPort> Wrap(std::unique_ptr<zarn::SerialPort> p) {
        return p ? std::make_unique<WatchedPort>(std::move(p), m_w) : nullptr;
    }
    zarn::SerialBackend& m_in;
    Watch& m_w;
};

// Over each link, an apply that writes opens the reader once and keeps it until it ends.
TEST(OneCommandOneHold, ApplyKeepsItsReaderFromFirstExchangeToLast) {
    for (const bool usb : {true, false}) {
        SCOPED_TRACE(usb ? "USB" : "COM1");
        sim::InProcessSimulation simulation;
        zarn::PortTable::CloseAll();
        Watch watch;
        WatchedHid hid(zarn::GetHidBackend(), watch);
        WatchedSerial serial(zarn::GetSerialBackend(), watch);
        zarn::SetHidBackend(&hid);
        zarn::SetSerialBackend(&serial);
        {
            cli::Document doc;
            doc.path = "test";
            doc.json = nlohmann::json::parse(R"({"beep": false, "prefix_on": true})");
            cli::LinkOptions options;
            options.usb = usb;
            options.com = usb ? 0 : 1;
            cli::ReaderLink link(options);
            const cli::ApplyResult r = cli::Apply(link, doc, false, false);
            EXPECT_TRUE(r.changed);
            watch.ended = true;
        }
        zarn::PortTable::CloseAll();
        EXPECT_EQ(watch.opens, 1);
        EXPECT_EQ(watch.closesBeforeEnd, 0);
        EXPECT_GT(watch.transfers, 0);
        EXPECT_EQ(watch.live, 0);
        zarn::SetHidBackend(nullptr);
        zarn::SetSerialBackend(nullptr);
    }
}

// Two applies on one reader at once, each changing a field of its own, several times:
// every apply that says it wrote has its field on the reader afterwards, and one that did
// not get the reader says it is in use (exit 2).
class TwoAppliesAtOnce : public CliTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TwoAppliesAtOnce, NeitherLosesTheOthersUpdate) {
    const bool usb = GetParam();
    Sim sim;
    std::string skip;
    if (!sim.Start(usb, {}, &skip)) GTEST_SKIP() << "zarn60-sim test skipped: " << skip;
    // The environment is set here, before the threads fork.
    for (const auto& [k, v] : sim.Env()) ::setenv(k.c_str(), v.c_str(), 1);
    for (const char* sub : {"a", "b"}) fs::create_directory(m_dir / sub);
    int bothWrote = 0;
    constexpr int kRounds = 6;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Each round turns both fields over.
        const std::string field[2] = {"beep", "prefix_on"};
        const Result before = Zarn({"show", "--json"}, &sim);
        ASSERT_EQ(before.status, 0) << before.err;
        const auto was = nlohmann::json::parse(before.out);
        const bool want[2] = {!was[field[0]].get<bool>(), !was[field[1]].get<bool>()};
        Result results[2];
        std::vector<std::string> argv[2];
        for (int i = 0; i < 2; ++i) {
            const fs::path doc = m_dir / (field[i] + ".json");
            WriteFile(doc, "{\"" + field[i] + "\": " + (want[i] ? "true" : "false") + "}");
            argv[i] = {ZARN60_CLI_PATH, "apply", doc.string(), "--json"};
            for (const auto& a : sim.Link()) argv[i].push_back(a);
        }
        std::thread other([&] { results[1] = RunProgram(argv[1], {}, m_dir / "b"); });
        results[0] = RunProgram(argv[0], {}, m_dir / "a");
        other.join();

        const Result shown = Zarn({"show", "--json"}, &sim);
        ASSERT_EQ(shown.status, 0) << shown.err;
        const auto held = nlohmann::json::parse(shown.out);
        int wrote = 0;
        for (int i = 0; i < 2; ++i) {
            const Result& r = results[i];
            if (r.status == 0) {
                ++wrote;
                EXPECT_NE(r.out.find("\"changed\":true"), std::string::npos) << field[i] << ": " << r.out;
                EXPECT_EQ(held[field[i]], want[i]) << field[i] << " lost; " << shown.out;
            } else {
                EXPECT_EQ(r.status, 2) << r.err;
                EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
            }
        }
        bothWrote += wrote == 2;
    }
    for (const auto& [k, v] : sim.Env()) ::unsetenv(k.c_str());
    // Over USB the second waits for the first and then writes too.
    if (usb) {
        EXPECT_EQ(bothWrote, kRounds);
    }
}

INSTANTIATE_TEST_SUITE_P(Links, TwoAppliesAtOnce, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Usb" : "Serial"; });

}  // namespace
