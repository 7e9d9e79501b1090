// The rules of the serial link itself (table, handle lifetime, deadlines), over a scripted
// backend on the virtual clock: exact and instant.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/serial_link.h"

namespace {

struct Script {
    zarn::VirtualClock* clock = nullptr;
    bool openOk = true;
    bool readSettingsOk = true;
    bool applyOk = true;
    int live = 0;  // ports the backend has handed out and not yet had back
    int liveAtLastOpen = -1;
    int purges = 0;
    int opens = 0;
    uint32_t baud = 0;
    int byteSize = -1, parity = -1;
    std::vector<std::string> devicesOpened;
    std::function<int(uint8_t)> write = [](uint8_t) { return 1; };
    std::function<int(uint8_t*, uint32_t)> read = [](uint8_t* b, uint32_t) {
        *b = 0x42;
        return 1;
    };
};

class ScriptedPort final : public zarn::SerialPort {
public:
    explicit ScriptedPort(Script& s) : m_s(s) { ++m_s.live; }
    ~ScriptedPort() override { --m_s.live; }
    bool ReadSettings() override { return m_s.readSettingsOk; }
    bool ApplySettings(uint32_t baud, uint8_t size, uint8_t parity) override {
        m_s.baud = baud;
        m_s.byteSize = size;
        m_s.parity = parity;
        return m_s.applyOk;
    }
    void Purge() override { ++m_s.purges; }
    int WriteOne(uint8_t byte) override { return m_s.write(byte); }
    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override { return m_s.read(byte, timeoutMs); }

private:
    Script& m_s;
};

class ScriptedBackend final : public zarn::SerialBackend {
public:
    explicit ScriptedBackend(Script& s) : m_s(s) {}
    std::unique_ptr<zarn::SerialPort> OpenPort(int, zarn::SerialOpenError* error) override {
        ++m_s.opens;
        m_s.liveAtLastOpen = m_s.live;
        if (!m_s.openOk) {
            *error = zarn::SerialOpenError::InUse;
            return nullptr;
        }
        return std::make_unique<ScriptedPort>(m_s);
    }
    // Devices by name: "busy..." is in use, "gone..." not there, anything else opens.
    std::unique_ptr<zarn::SerialPort> OpenDevice(const std::string& device,
                                                 zarn::OpenFailure* why) override {
        ++m_s.opens;
        m_s.devicesOpened.push_back(device);
        if (device.rfind("busy", 0) == 0) {
            *why = {zarn::OpenError::InUse, "locked by process 42"};
            return nullptr;
        }
        if (device.rfind("gone", 0) == 0) {
            *why = {zarn::OpenError::NoDevice, {}};
            return nullptr;
        }
        return std::make_unique<ScriptedPort>(m_s);
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override { return {}; }

private:
    Script& m_s;
};

class SerialRules : public ::testing::Test {
protected:
    SerialRules() : m_clock(1000), m_scoped(m_clock), m_backend(m_s) {
        m_s.clock = &m_clock;
        zarn::SetSerialBackend(&m_backend);
        zarn::PortTable::CloseAll();
    }
    ~SerialRules() override {
        zarn::PortTable::CloseAll();
        zarn::SetSerialBackend(nullptr);
    }
    zarn::VirtualClock m_clock;
    zarn::ScopedClock m_scoped;
    Script m_s;
    ScriptedBackend m_backend;
};

TEST_F(SerialRules, OpenConfiguresPurgesAndReopensAfterClosing) {
    ASSERT_EQ(SerialLink::Open(7, 9600, 8, 0), 0);
    EXPECT_EQ(m_s.baud, 9600u);
    EXPECT_EQ(m_s.byteSize, 8);
    EXPECT_EQ(m_s.parity, 0);
    EXPECT_EQ(m_s.purges, 1);
    EXPECT_TRUE(zarn::PortTable::IsOpen(7));
    // The old handle is gone before the new one is asked for.
    ASSERT_EQ(SerialLink::Open(7, 9600, 8, 0), 0);
    EXPECT_EQ(m_s.liveAtLastOpen, 0);
    EXPECT_EQ(m_s.live, 1);
    // Other ports are independent.
    ASSERT_EQ(SerialLink::Open(200, 9600, 8, 0), 0);
    ASSERT_EQ(SerialLink::Open(1, 9600, 8, 0), 0);
    EXPECT_EQ(m_s.live, 3);
    zarn::PortTable::CloseAll();
    EXPECT_EQ(m_s.live, 0);
    EXPECT_FALSE(zarn::PortTable::IsOpen(7));
}

TEST_F(SerialRules, OpenFailuresAndWhatHappensToTheHandle) {
    ASSERT_EQ(SerialLink::Open(4, 9600, 8, 0), 0);
    // Refused by the backend: the old handle was closed, the entry stays empty.
    m_s.openOk = false;
    EXPECT_EQ(SerialLink::Open(4, 9600, 8, 0), -1);
    EXPECT_FALSE(zarn::PortTable::IsOpen(4));
    EXPECT_EQ(m_s.live, 0);
    m_s.openOk = true;

    // Settings unreadable: -1, the handle stays in the table until the next open.
    m_s.readSettingsOk = false;
    EXPECT_EQ(SerialLink::Open(4, 9600, 8, 0), -1);
    EXPECT_TRUE(zarn::PortTable::IsOpen(4));
    EXPECT_EQ(m_s.live, 1);
    EXPECT_EQ(m_s.purges, 1);
    m_s.readSettingsOk = true;

    // Settings refused: -1 and closed.
    m_s.applyOk = false;
    EXPECT_EQ(SerialLink::Open(4, 9600, 8, 0), -1);
    EXPECT_FALSE(zarn::PortTable::IsOpen(4));
    EXPECT_EQ(m_s.live, 0);
    EXPECT_EQ(m_s.purges, 1);

    // Out of range: the backend is never asked.
    int opens = m_s.opens;
    EXPECT_EQ(SerialLink::Open(0, 9600, 8, 0), -1);
    EXPECT_EQ(SerialLink::Open(201, 9600, 8, 0), -1);
    EXPECT_EQ(SerialLink::Open(-5, 9600, 8, 0), -1);
    EXPECT_EQ(m_s.opens, opens);
}

TEST_F(SerialRules, WriteRetriesUntilTheDeadlineAndCountsALateByteAsFailed) {
    ASSERT_EQ(SerialLink::Open(3, 9600, 8, 0), 0);
    std::vector<uint8_t> sent;
    m_s.write = [&](uint8_t b) {
        sent.push_back(b);
        return 1;
    };
    EXPECT_EQ(SerialLink::WriteByte(3, 0x1A5), 0);
    EXPECT_EQ(sent, std::vector<uint8_t>{0xA5});

    // Not yet, not yet, ... written after 300 ms: success.
    int attempts = 0;
    m_s.write = [&](uint8_t) {
        m_clock.SleepMs(100);
        return ++attempts == 4 ? 1 : 0;
    };
    EXPECT_EQ(SerialLink::WriteByte(3, 'a'), 0);
    EXPECT_EQ(attempts, 4);

    // Never room: -1 once 3500 ms have passed, even when the backend cannot wait.
    uint32_t t0 = m_clock.NowMs();
    m_s.write = [](uint8_t) { return 0; };
    EXPECT_EQ(SerialLink::WriteByte(3, 'a'), -1);
    EXPECT_GE(m_clock.NowMs() - t0, SERIAL_WRITE_DEADLINE_MS);
    EXPECT_LE(m_clock.NowMs() - t0, SERIAL_WRITE_DEADLINE_MS + 2);

    // Written exactly at the deadline counts; one millisecond later it does not.
    m_s.write = [&](uint8_t) {
        m_clock.SleepMs(SERIAL_WRITE_DEADLINE_MS);
        return 1;
    };
    EXPECT_EQ(SerialLink::WriteByte(3, 'a'), 0);
    m_s.write = [&](uint8_t) {
        m_clock.SleepMs(SERIAL_WRITE_DEADLINE_MS + 1);
        return 1;
    };
    EXPECT_EQ(SerialLink::WriteByte(3, 'a'), -1);

    // An error ends it at once.
    attempts = 0;
    m_s.write = [&](uint8_t) {
        ++attempts;
        return -1;
    };
    EXPECT_EQ(SerialLink::WriteByte(3, 'a'), -1);
    EXPECT_EQ(attempts, 1);
}

TEST_F(SerialRules, DeadlinesSurviveTheTickCounterWrapping) {
    zarn::VirtualClock late(0xFFFFF000u);
    zarn::ScopedClock scoped(late);
    ASSERT_EQ(SerialLink::Open(3, 9600, 8, 0), 0);
    int attempts = 0;
    m_s.write = [&](uint8_t) {
        ++attempts;
        late.SleepMs(100);
        return 0;
    };
    EXPECT_EQ(SerialLink::WriteByte(3, 'w'), -1);
    EXPECT_EQ(attempts, 36);  // 3500 ms of 100 ms attempts, then the one that passes it

    m_s.read = [&](uint8_t* b, uint32_t t) {
        late.SleepMs(t);
        *b = 'r';
        return 1;
    };
    uint8_t b = 0;
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 0x2000), 0);
}

TEST_F(SerialRules, ReadPassesTheTimeOutAndKeepsALateByte) {
    ASSERT_EQ(SerialLink::Open(3, 9600, 8, 0), 0);
    uint32_t asked = 0;
    uint32_t takes = 0;
    m_s.read = [&](uint8_t* b, uint32_t t) {
        asked = t;
        m_clock.SleepMs(takes);
        *b = 0x7E;
        return 1;
    };
    uint8_t b = 0;
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 850), 0);
    EXPECT_EQ(asked, 850u);
    EXPECT_EQ(b, 0x7E);
    takes = 850;
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 850), 0);
    // A byte the port gave after the time-out has left the line: it is handed over.
    takes = 851;
    b = 0;
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 850), 0);
    EXPECT_EQ(b, 0x7E);

    m_s.read = [&](uint8_t*, uint32_t t) {
        m_clock.SleepMs(t);
        return 0;
    };
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 1), -1);
    m_s.read = [](uint8_t*, uint32_t) { return -1; };
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 1), -1);

    // Nowhere to put the byte: nothing is taken from the port.
    bool called = false;
    m_s.read = [&](uint8_t*, uint32_t) {
        called = true;
        return 1;
    };
    EXPECT_EQ(SerialLink::ReadByte(3, nullptr, 10), -1);
    EXPECT_FALSE(called);
}

TEST(SerialBackendSeam, NullRestoresTheOperatingSystemBackend) {
    Script s;
    ScriptedBackend scripted(s);
    zarn::SetSerialBackend(&scripted);
    EXPECT_EQ(&zarn::GetSerialBackend(), &scripted);
    zarn::SetSerialBackend(nullptr);
    EXPECT_EQ(&zarn::GetSerialBackend(), &zarn::OsSerialBackend());
}

}  // namespace

// A number given a device opens that device, by name, through the backend, on every open
// of the number until it is given back; each failed open keeps its reason per number.
TEST_F(SerialRules, PortsOpenByTheirDeviceAndKeepWhyTheyFailed) {
    using E = zarn::OpenError;
    struct Step {
        const char* name;
        int port;
        const char* device;  // given to the table first; nullptr = leave as it is
        int result;
        E why;
    } steps[] = {
        {"by number", 9, nullptr, 0, E::None},
        {"refused by number", 9, nullptr, -1, E::InUse},
        {"by a device", 200, "/dev/ttyUSB7", 0, E::None},
        {"the same device on the next open", 200, nullptr, 0, E::None},
        {"a device in use", 200, "busy-line", -1, E::InUse},
        {"a device not there", 200, "gone-line", -1, E::NoDevice},
        {"given back to the number", 200, "", -1, E::InUse},
        {"outside the table", 201, nullptr, -1, E::NoDevice},
        {"zero", 0, nullptr, -1, E::NoDevice},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.name);
        m_s.openOk = std::string(st.name) != "refused by number" &&
                     std::string(st.name) != "given back to the number";
        m_s.devicesOpened.clear();
        if (st.device) {
            ASSERT_TRUE(zarn::PortTable::SetDevice(st.port, st.device));
            EXPECT_EQ(zarn::PortTable::Device(st.port), st.device);
        }
        EXPECT_EQ(SerialLink::Open(st.port, 9600, 8, 0), st.result);
        EXPECT_EQ(SerialLink::LastOpenError(st.port).error, st.why);
        EXPECT_EQ(zarn::PortTable::IsOpen(st.port), st.result == 0);
        const bool byDevice = st.port == 200 && std::string(st.name) != "given back to the number";
        if (byDevice) {
            ASSERT_EQ(m_s.devicesOpened.size(), 1u);
            EXPECT_EQ(m_s.devicesOpened[0], zarn::PortTable::Device(200));
        } else {
            EXPECT_TRUE(m_s.devicesOpened.empty());
        }
    }
    EXPECT_EQ(SerialLink::LastOpenError(200).error, E::InUse);
    EXPECT_EQ(SerialLink::LastOpenError(9).error, E::InUse);
    // Settings that cannot be read or applied are reasons of their own.
    m_s.openOk = true;
    m_s.readSettingsOk = false;
    EXPECT_EQ(SerialLink::Open(9, 9600, 8, 0), -1);
    EXPECT_EQ(SerialLink::LastOpenError(9).error, E::Other);
    m_s.readSettingsOk = true;
    EXPECT_EQ(SerialLink::Open(9, 9600, 8, 0), 0);
    EXPECT_EQ(SerialLink::LastOpenError(9).error, E::None);
}
