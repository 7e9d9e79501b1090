// The serial link on the termios backend against a real pseudo-terminal peer, in real
// time. Bounds on durations are generous: they catch hangs, not jitter.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>

#include "link/serial_link.h"
#include "pty_peer.h"

using serialtest::MsSince;
using serialtest::PtyPeer;
using Clock = std::chrono::steady_clock;

namespace {

int Open9600(int port) {
    return SerialLink::Open(port, 9600, 8, 0);
}

// Opens `path` the way another program would, in a child process, and tells how that
// went: 0 = opened and locked, else the errno of the failing step.
int OtherProgramOpens(const std::string& path) {
    int result[2];
    if (::pipe(result) != 0) return -1;
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int err = 0;
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            err = errno;
        else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            err = errno;
        (void)!::write(result[1], &err, sizeof err);
        ::_exit(0);
    }
    ::close(result[1]);
    int err = -1;
    if (::read(result[0], &err, sizeof err) != sizeof err) err = -1;
    ::close(result[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return err;
}

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_peer.Ok()) << "no pseudo-terminal available";
        zarn::SetSerialBackend(nullptr);
        zarn::PortTable::CloseAll();
    }
    PtyPeer m_peer{3};
};

TEST_F(SerialPty, NumbersOutsideTheTableTouchNothing) {
    ASSERT_EQ(Open9600(3), 0);
    for (int port : {0, -1, 201, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(Open9600(port), -1);
        EXPECT_EQ(SerialLink::WriteByte(port, 'x'), -1);
        uint8_t b = 0;
        EXPECT_EQ(SerialLink::ReadByte(port, &b, 1), -1);
        EXPECT_FALSE(zarn::PortTable::IsOpen(port));
    }
    // COM3 is still open and still works.
    ASSERT_TRUE(zarn::PortTable::IsOpen(3));
    ASSERT_EQ(SerialLink::WriteByte(3, 'k'), 0);
    EXPECT_EQ(m_peer.Receive(1), std::vector<uint8_t>{'k'});
}

TEST_F(SerialPty, PortsNeverOpenedFailAtOnce) {
    auto t0 = Clock::now();
    uint8_t b = 0;
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 2000), -1);
    EXPECT_EQ(SerialLink::WriteByte(3, 'x'), -1);
    EXPECT_EQ(SerialLink::ReadByte(200, &b, 2000), -1);
    EXPECT_EQ(SerialLink::WriteByte(1, 'x'), -1);
    EXPECT_LT(MsSince(t0), 1000.0);
    EXPECT_TRUE(m_peer.Receive(1, 100).empty());
}

TEST_F(SerialPty, ReopenClosesTheFirstHandleAndWorks) {
    ASSERT_EQ(Open9600(3), 0);
    ASSERT_EQ(Open9600(3), 0);
    ASSERT_TRUE(m_peer.Send("Q"));
    uint8_t b = 0;
    ASSERT_EQ(SerialLink::ReadByte(3, &b, 2000), 0);
    EXPECT_EQ(b, 'Q');
    // Only one hold remains, and it goes with the table entry.
    EXPECT_NE(OtherProgramOpens(m_peer.Path()), 0);
    zarn::PortTable::CloseAll();
    EXPECT_EQ(OtherProgramOpens(m_peer.Path()), 0);
}

TEST_F(SerialPty, APortHeldElsewhereIsRefused) {
    // Held by another opener in this program: COM4 names the same line.
    ::setenv("ZARN60_COM4", m_peer.Path().c_str(), 1);
    ASSERT_EQ(Open9600(3), 0);
    EXPECT_EQ(Open9600(4), -1);
    EXPECT_FALSE(zarn::PortTable::IsOpen(4));
    // Held by another program.
    EXPECT_NE(OtherProgramOpens(m_peer.Path()), 0);

    // And the other way round: a program holding the line keeps us out until it lets go.
    zarn::PortTable::CloseAll();
    int fd = ::open(m_peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Open9600(3), -1);
    EXPECT_FALSE(zarn::PortTable::IsOpen(3));
    ::close(fd);
    EXPECT_EQ(Open9600(3), 0);
    ::unsetenv("ZARN60_COM4");
}

TEST_F(SerialPty, ExclusiveAgainstAnUnprivilegedProgram) {
    // TIOCEXCL is what stops programs that take no lock; root passes it, so the other
    // program runs as nobody.
    ASSERT_EQ(Open9600(3), 0);
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(m_peer.Path().c_str(), 65534, 65534), 0);
    }
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int err = 0;
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            err = -2;
        } else {
            int fd = ::open(m_peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            err = fd < 0 ? errno : 0;
        }
        (void)!::write(result[1], &err, sizeof err);
        ::_exit(0);
    }
    ::close(result[1]);
    int err = -1;
    ASSERT_EQ(::read(result[0], &err, sizeof err), static_cast<ssize_t>(sizeof err));
    ::close(result[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (err == -2) GTEST_SKIP() << "cannot switch to an unprivileged user";
    EXPECT_EQ(err, EBUSY);
    // Our own reopen is not refused by the exclusive flag we set.
    EXPECT_EQ(Open9600(3), 0);
}

TEST_F(SerialPty, ReadTimeOutAndWaitingByte) {
    ASSERT_EQ(Open9600(3), 0);
    uint8_t b = 0;
    // No data: -1 after about the time-out.
    auto t0 = Clock::now();
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 1), -1);
    double ms = MsSince(t0);
    EXPECT_GE(ms, 0.9);
    EXPECT_LT(ms, 200.0);
    t0 = Clock::now();
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 300), -1);
    ms = MsSince(t0);
    EXPECT_GE(ms, 295.0);
    EXPECT_LT(ms, 1500.0);

    // A waiting byte comes at once, even with a long time-out.
    ASSERT_TRUE(m_peer.Send("Z"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    t0 = Clock::now();
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 5000), 0);
    EXPECT_LT(MsSince(t0), 1000.0);
    EXPECT_EQ(b, 'Z');
    // With 1 ms, too.
    ASSERT_TRUE(m_peer.Send("Y"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 1), 0);
    EXPECT_EQ(b, 'Y');

    // A byte arriving during the wait ends it.
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m_peer.Send("L");
    });
    t0 = Clock::now();
    int r = SerialLink::ReadByte(3, &b, 4000);
    ms = MsSince(t0);
    later.join();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(b, 'L');
    EXPECT_LT(ms, 2000.0);
}

TEST_F(SerialPty, BytesSentBeforeTheOpenAreGone) {
    // A raw line keeps what arrives: only the open's discard can make it go.
    struct termios raw;
    ASSERT_EQ(::tcgetattr(m_peer.SlaveFd(), &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(m_peer.SlaveFd(), TCSANOW, &raw), 0);
    ASSERT_TRUE(m_peer.Send("stale bytes\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(Open9600(3), 0);
    m_peer.Receive(64, 100);  // whatever the line echoed before it was raw
    uint8_t b = 0;
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 100), -1);
    ASSERT_TRUE(m_peer.Send("n"));
    ASSERT_EQ(SerialLink::ReadByte(3, &b, 2000), 0);
    EXPECT_EQ(b, 'n');

    // A reopen discards what came in between, too.
    ASSERT_TRUE(m_peer.Send("old"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(Open9600(3), 0);
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 100), -1);
}

TEST_F(SerialPty, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_EQ(Open9600(3), 0);
    std::vector<uint8_t> all;
    // The control characters a cooked line would eat or translate come first.
    for (uint8_t c : {0x00, 0x0d, 0x0a, 0x03, 0x11, 0x13, 0xff, 0x04, 0x7f, 0x15, 0x1a, 0x1c})
        all.push_back(c);
    for (int v = 0; v < 256; ++v) all.push_back(static_cast<uint8_t>(v));

    // Peer to program.
    ASSERT_TRUE(m_peer.Send(all));
    std::vector<uint8_t> got;
    uint8_t b = 0;
    while (got.size() < all.size() && SerialLink::ReadByte(3, &b, 1000) == 0) got.push_back(b);
    EXPECT_EQ(got, all);
    // Nothing echoed back to the peer.
    EXPECT_TRUE(m_peer.Receive(1, 100).empty());

    // Program to peer.
    for (uint8_t v : all) ASSERT_EQ(SerialLink::WriteByte(3, v), 0);
    EXPECT_EQ(m_peer.Receive(all.size()), all);

    // Only the low 8 bits of the value go out.
    ASSERT_EQ(SerialLink::WriteByte(3, 0x141), 0);
    ASSERT_EQ(SerialLink::WriteByte(3, -1), 0);
    EXPECT_EQ(m_peer.Receive(2), (std::vector<uint8_t>{0x41, 0xff}));
}

TEST_F(SerialPty, LineSettingsAppliedAndTheRestKept) {
    struct termios before;
    ASSERT_EQ(::tcgetattr(m_peer.SlaveFd(), &before), 0);
    before.c_cc[VSTART] = 0x05;  // settings the link does not own stay as they were
    before.c_cflag |= HUPCL;
    before.c_iflag |= IUTF8;
    ASSERT_EQ(::tcsetattr(m_peer.SlaveFd(), TCSANOW, &before), 0);

    // A pseudo-terminal keeps 8 bits without parity whatever it is told; the speed it
    // keeps.
    ASSERT_EQ(SerialLink::Open(3, 19200, 7, 2), 0);
    struct termios t;
    ASSERT_EQ(::tcgetattr(m_peer.SlaveFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));

    ASSERT_EQ(Open9600(3), 0);
    ASSERT_EQ(::tcgetattr(m_peer.SlaveFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x05);
    EXPECT_NE(t.c_cflag & HUPCL, 0u);
    EXPECT_NE(t.c_iflag & IUTF8, 0u);
}

TEST_F(SerialPty, SettingsTheLineCannotTakeFailAndClose) {
    for (auto [baud, size, parity] : {std::tuple<uint32_t, uint8_t, uint8_t>{12345, 8, 0},
                                      {9600, 9, 0},
                                      {9600, 4, 0},
                                      {9600, 8, 5},
                                      {0, 8, 0}}) {
        SCOPED_TRACE(baud);
        EXPECT_EQ(SerialLink::Open(3, baud, size, parity), -1);
        EXPECT_FALSE(zarn::PortTable::IsOpen(3));
        // The failed open let go of the line.
        EXPECT_EQ(OtherProgramOpens(m_peer.Path()), 0);
    }
    EXPECT_EQ(Open9600(3), 0);
}

TEST_F(SerialPty, WriteGivesUpAtTheDeadlineWhenTheLineIsStuck) {
    ASSERT_EQ(Open9600(3), 0);
    // The peer reads nothing: the line fills up, then one write fails at its deadline.
    auto start = Clock::now();
    double failedCallMs = 0;
    int written = 0;
    for (; written < 4'000'000; ++written) {
        auto t0 = Clock::now();
        if (SerialLink::WriteByte(3, 'f') != 0) {
            failedCallMs = MsSince(t0);
            break;
        }
    }
    ASSERT_LT(written, 4'000'000) << "the line never filled up";
    EXPECT_GT(written, 0);
    EXPECT_GE(failedCallMs, 3400.0);
    EXPECT_LT(failedCallMs, 8000.0);
    EXPECT_LT(MsSince(start), 30000.0);

    // Once the peer reads, writing works again.
    m_peer.Receive(static_cast<size_t>(written), 200);
    ASSERT_EQ(SerialLink::WriteByte(3, 'g'), 0);
}

TEST_F(SerialPty, APeerThatGoesAwayGivesFailuresNotHangs) {
    ASSERT_EQ(Open9600(3), 0);
    m_peer.CloseMaster();
    uint8_t b = 0;
    auto t0 = Clock::now();
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 3000), -1);
    EXPECT_LT(MsSince(t0), 1000.0);
    t0 = Clock::now();
    EXPECT_EQ(SerialLink::WriteByte(3, 'x'), -1);
    EXPECT_LT(MsSince(t0), 4500.0);
    t0 = Clock::now();
    EXPECT_EQ(SerialLink::ReadByte(3, &b, 1), -1);
    EXPECT_LT(MsSince(t0), 1000.0);
    // The line is gone for good: a new open fails cleanly.
    t0 = Clock::now();
    EXPECT_EQ(Open9600(3), -1);
    EXPECT_LT(MsSince(t0), 1000.0);
}

TEST_F(SerialPty, SeveralPortsAtOnce) {
    PtyPeer other(5);
    ASSERT_TRUE(other.Ok());
    ASSERT_EQ(Open9600(3), 0);
    ASSERT_EQ(Open9600(5), 0);
    ASSERT_TRUE(m_peer.Send("3"));
    ASSERT_TRUE(other.Send("5"));
    uint8_t b = 0;
    ASSERT_EQ(SerialLink::ReadByte(5, &b, 2000), 0);
    EXPECT_EQ(b, '5');
    ASSERT_EQ(SerialLink::ReadByte(3, &b, 2000), 0);
    EXPECT_EQ(b, '3');
    ASSERT_EQ(SerialLink::WriteByte(5, 'a'), 0);
    EXPECT_EQ(other.Receive(1), std::vector<uint8_t>{'a'});
    EXPECT_TRUE(m_peer.Receive(1, 100).empty());
}

// Device paths that are not serial lines.
class SerialBadDevice : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zarn60-serial-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_file = m_dir + "/regular";
        FILE* f = std::fopen(m_file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("not a line\n", f);
        std::fclose(f);
        ::setenv("ZARN60_COM150", m_dir.c_str(), 1);
        ::setenv("ZARN60_COM151", m_file.c_str(), 1);
        ::setenv("ZARN60_COM152", (m_dir + "/missing").c_str(), 1);
        ::setenv("ZARN60_COM153", "/dev/null", 1);
        ::setenv("ZARN60_COM154", (m_file + "/below-a-file").c_str(), 1);
        zarn::SetSerialBackend(nullptr);
    }
    void TearDown() override {
        zarn::PortTable::CloseAll();
        for (int n = 150; n <= 154; ++n) ::unsetenv(("ZARN60_COM" + std::to_string(n)).c_str());
        ::unlink(m_file.c_str());
        ::rmdir(m_dir.c_str());
    }
    std::string m_dir, m_file;
};

TEST_F(SerialBadDevice, OpenFailsCleanlyAndQuickly) {
    for (int n = 150; n <= 154; ++n) {
        SCOPED_TRACE(n);
        auto t0 = Clock::now();
        EXPECT_EQ(Open9600(n), -1);
        EXPECT_LT(MsSince(t0), 1000.0);
        EXPECT_FALSE(zarn::PortTable::IsOpen(n));
        uint8_t b = 0;
        EXPECT_EQ(SerialLink::ReadByte(n, &b, 1), -1);
        EXPECT_EQ(SerialLink::WriteByte(n, 'x'), -1);
    }
    // Nothing was written into the regular file.
    struct stat st;
    ASSERT_EQ(::stat(m_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 11);
}

TEST_F(SerialBadDevice, ListingSaysWhatEachDeviceIs) {
    PtyPeer idle(155), held(156);
    ASSERT_TRUE(idle.Ok() && held.Ok());
    ASSERT_EQ(Open9600(156), 0);
    auto ports = zarn::GetSerialBackend().ListPorts();
    auto find = [&](int n) -> const zarn::SerialPortInfo* {
        for (const auto& p : ports)
            if (p.number == n) return &p;
        return nullptr;
    };
    using E = zarn::SerialOpenError;
    ASSERT_NE(find(150), nullptr);
    EXPECT_EQ(find(150)->state, E::NotATerminal);
    EXPECT_EQ(find(150)->device, m_dir);
    ASSERT_NE(find(151), nullptr);
    EXPECT_EQ(find(151)->state, E::NotATerminal);
    EXPECT_EQ(find(152), nullptr);  // missing: not listed
    ASSERT_NE(find(153), nullptr);
    EXPECT_EQ(find(153)->state, E::NotATerminal);
    EXPECT_EQ(find(154), nullptr);
    ASSERT_NE(find(155), nullptr);
    EXPECT_EQ(find(155)->state, E::None);
    EXPECT_EQ(find(155)->device, idle.Path());
    ASSERT_NE(find(156), nullptr);
    EXPECT_EQ(find(156)->state, E::InUse);
    // Listing probes without taking anything away: both still usable.
    EXPECT_EQ(Open9600(155), 0);
    ASSERT_EQ(SerialLink::WriteByte(156, 'h'), 0);
    EXPECT_EQ(held.Receive(1), std::vector<uint8_t>{'h'});
    for (const auto& p : ports) {
        EXPECT_GE(p.number, 1);
        EXPECT_LE(p.number, PORT_COUNT);
    }
}

TEST_F(SerialBadDevice, NoPermissionIsNotInUse) {
    PtyPeer peer(157);
    ASSERT_TRUE(peer.Ok());
    if (::geteuid() == 0) {
        // Root opens anything: ask an unprivileged child what the listing says.
        int result[2];
        ASSERT_EQ(::pipe(result), 0);
        ASSERT_EQ(::chmod(peer.Path().c_str(), 0600), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int state = -2;
            if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
                for (const auto& p : zarn::GetSerialBackend().ListPorts())
                    if (p.number == 157) state = static_cast<int>(p.state);
                if (SerialLink::Open(157, 9600, 8, 0) != -1) state = -3;
            }
            (void)!::write(result[1], &state, sizeof state);
            ::_exit(0);
        }
        ::close(result[1]);
        int state = -1;
        ASSERT_EQ(::read(result[0], &state, sizeof state), static_cast<ssize_t>(sizeof state));
        ::close(result[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (state == -2) GTEST_SKIP() << "cannot switch to an unprivileged user";
        EXPECT_EQ(state, static_cast<int>(zarn::SerialOpenError::NoPermission));
    } else {
        ASSERT_EQ(::chmod(peer.Path().c_str(), 0), 0);
        EXPECT_EQ(Open9600(157), -1);
        bool seen = false;
        for (const auto& p : zarn::GetSerialBackend().ListPorts()) {
            if (p.number != 157) continue;
            seen = true;
            EXPECT_EQ(p.state, zarn::SerialOpenError::NoPermission);
            EXPECT_NE(p.detail.find("mode 0000"), std::string::npos) << p.detail;
        }
        EXPECT_TRUE(seen);
    }
}

TEST(SerialDevicePath, ComNumbersMapToDevicesAndSetDeviceOverridesThem) {
    zarn::SetSerialBackend(nullptr);
    using zarn::PortTable::Device;
    for (int n : {1, 32, 33, 64, 65, 96, 97, 200})
        ::unsetenv(("ZARN60_COM" + std::to_string(n)).c_str());
    EXPECT_EQ(Device(1), "/dev/ttyS0");
    EXPECT_EQ(Device(32), "/dev/ttyS31");
    EXPECT_EQ(Device(33), "/dev/ttyUSB0");
    EXPECT_EQ(Device(64), "/dev/ttyUSB31");
    EXPECT_EQ(Device(65), "/dev/ttyACM0");
    EXPECT_EQ(Device(96), "/dev/ttyACM31");
    EXPECT_EQ(Device(97), "");
    EXPECT_EQ(Device(200), "");
    EXPECT_EQ(Device(0), "");
    EXPECT_EQ(Device(201), "");
    EXPECT_EQ(Device(-1), "");
    ::setenv("ZARN60_COM33", "/dev/my-reader", 1);
    ::setenv("ZARN60_COM200", "/dev/other", 1);
    ::setenv("ZARN60_COM1", "", 1);  // empty: as if unset
    EXPECT_EQ(Device(33), "/dev/my-reader");
    EXPECT_EQ(Device(200), "/dev/other");
    EXPECT_EQ(Device(1), "/dev/ttyS0");
    // A device given to the table wins over the environment, and an empty one gives the
    // number back; numbers outside the table take none.
    EXPECT_TRUE(zarn::PortTable::SetDevice(200, "/dev/given"));
    EXPECT_EQ(Device(200), "/dev/given");
    EXPECT_TRUE(zarn::PortTable::SetDevice(200, ""));
    EXPECT_EQ(Device(200), "/dev/other");
    EXPECT_FALSE(zarn::PortTable::SetDevice(0, "/dev/x"));
    EXPECT_FALSE(zarn::PortTable::SetDevice(201, "/dev/x"));
    ::unsetenv("ZARN60_COM33");
    ::unsetenv("ZARN60_COM200");
    ::unsetenv("ZARN60_COM1");
}

}  // namespace
