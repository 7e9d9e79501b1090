// Bytes that trickle in while the program polls the line slowly (as under an emulation
// layer, where one poll takes several milliseconds): every byte the port gives up reaches
// the caller, in order.
#include <gtest/gtest.h>

#include <thread>

#include "link/serial_link.h"
#include "tests/serial/pty_peer.h"

namespace {

// The system's ports, each step of a read made slower than the read's own time-out.
class SlowPort final : public zarn::SerialPort {
public:
    SlowPort(std::unique_ptr<zarn::SerialPort> port, int delayMs)
        : m_port(std::move(port)), m_delayMs(delayMs) {}
    bool ReadSettings() override { return m_port->ReadSettings(); }
    bool ApplySettings(uint32_t baud, uint8_t size, uint8_t parity) override {
        return m_port->ApplySettings(baud, size, parity);
    }
    void Purge() override { m_port->Purge(); }
    int WriteOne(uint8_t byte) override { return m_port->WriteOne(byte); }
    bool SetReadTimeout(uint32_t timeoutMs) override {
        Pause();
        return m_port->SetReadTimeout(timeoutMs);
    }
    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        Pause();
        return m_port->ReadOne(byte, timeoutMs);
    }

private:
    void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs)); }
    std::unique_ptr<zarn::SerialPort> m_port;
    int m_delayMs;
};

class SlowBackend final : public zarn::SerialBackend {
public:
    explicit SlowBackend(int delayMs) : m_delayMs(delayMs) {}
    std::unique_ptr<zarn::SerialPort> OpenPort(int number, zarn::SerialOpenError* error) override {
        auto port = zarn::OsSerialBackend().OpenPort(number, error);
        return port ? std::make_unique<SlowPort>(std::move(port), m_delayMs) : nullptr;
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override {
        return zarn::OsSerialBackend().ListPorts();
    }

private:
    int m_delayMs;
};

TEST(SerialDrip, ASlowPollLosesNoByteOfADripFeed) {
    struct Case {
        const char* name;
        int pollDelayMs;  // each step of a read
        int gapMs;        // between the peer's bytes
    };
    const Case cases[] = {
        {"poll slower than the 1 ms time-out", 3, 2},
        {"bytes faster than the poll", 4, 0},
        {"bytes slower than the poll", 2, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serialtest::PtyPeer peer(7);
        ASSERT_TRUE(peer.Ok());
        SlowBackend slow(c.pollDelayMs);
        zarn::SetSerialBackend(&slow);
        ASSERT_EQ(SerialLink::Open(7, 9600, 8, 0), 0);

        std::string sent;
        for (int i = 0; i < 29; ++i) sent.push_back(static_cast<char>('A' + i % 26));
        std::thread feeder([&] {
            for (char ch : sent) {
                peer.Send(std::string(1, ch));
                std::this_thread::sleep_for(std::chrono::milliseconds(c.gapMs));
            }
        });
        std::string got;
        const auto t0 = std::chrono::steady_clock::now();
        while (got.size() < sent.size() && serialtest::MsSince(t0) < 3000) {
            uint8_t b = 0;
            if (SerialLink::ReadByte(7, &b, 1) == 0) got.push_back(static_cast<char>(b));
        }
        feeder.join();
        EXPECT_EQ(got, sent);
        zarn::PortTable::CloseAll();
        zarn::SetSerialBackend(nullptr);
    }
}

}  // namespace
