// The serial backend on termios (Linux and other POSIX systems).
//
// Quirks of the platform this file works around, and why:
// - Opening a tty may wait for carrier and may make it the controlling terminal: open
//   with O_NOCTTY | O_NONBLOCK and stay non-blocking; every wait is a poll() with a
//   time-out, so no call can hang past the time-outs the link promises.
// - TIOCEXCL does not stop root (CAP_SYS_ADMIN): a line that another program holds
//   exclusively opens for root all the same. After the open we ask the flag (TIOCGEXCL)
//   and give such a line up as in use without touching it; its flag stays the other
//   program's. We clear only the flag we set ourselves.
// - TIOCEXCL survives our close on a pseudo-terminal whose master stays open: we also take
//   an flock() so that a second opener in this program, or another program that locks,
//   is refused, and we drop TIOCEXCL again before closing so that our own reopen is not
//   refused.
// - A fresh tty is cooked: echo, CR/LF translation, signal characters and XON/XOFF would
//   eat or alter bytes of the reader's binary images, so the line is set raw. CLOCAL is
//   set because the reader wires no carrier line, and a dropped DCD must not hang up.
// - A pseudo-terminal has no modem lines: raising DTR fails there and is not an error.
//   Nor has it a character format: Linux keeps it at 8 bits without parity whatever is
//   asked, so the format is checked after setting it on real lines only.
// - close() waits for pending output to drain (up to 30 s on some UARTs): pending bytes
//   are discarded first, as the next open of the port would do anyway.
// - Opening a tty raises DTR and RTS, and many boards reset on DTR: the listing never
//   opens a line. It tells what the system shows without an open: the device node and
//   its mode (stat, access), a UART that is not there (sysfs type 0), and another
//   program's flock (/proc/locks). Whether another program holds the line exclusively
//   without a lock, and whether its settings can be applied, only an open can tell.
// - A tty keeps its settings and its exclusive flag after the last close: a closed port gets
//   back the settings found at its open, and a signal that ends the program does the same
//   for every line still open, from a handler that only uses async-signal-safe calls on a
//   table it never has to lock. Every catchable signal whose default action ends the
//   program is covered, SIGPIPE included (the program then still ends by it, quietly).
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/posix/ending_signals.h"
#include "link/serial_link.h"

namespace zarn {
namespace {

// How long one write attempt waits for room; the link retries until its own deadline.
constexpr int kWriteWaitMs = 50;

// The lines to put back when a signal ends the program: one slot per open port. A slot is
// filled settings first, descriptor last, and emptied descriptor first, so that a handler
// interrupting either step sees a whole entry or none.
struct FoundLine {
    volatile sig_atomic_t fdPlusOne = 0;  // 0 = free
    struct termios settings {};
};
FoundLine g_found[PORT_COUNT];

FoundLine* RememberLine(int fd, const struct termios& settings) {
    for (FoundLine& line : g_found) {
        if (line.fdPlusOne != 0) continue;
        line.settings = settings;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        line.fdPlusOne = fd + 1;
        return &line;
    }
    return nullptr;
}

void ForgetLine(FoundLine* line) {
    if (!line) return;
    line->fdPlusOne = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void PutBack(int fd, const struct termios& settings) {
    ::tcflush(fd, TCIOFLUSH);
    ::tcsetattr(fd, TCSANOW, &settings);
    ::ioctl(fd, TIOCNXCL);
}

void PutBackLinesAndEnd(int sig) {
    const int saved = errno;
    for (FoundLine& line : g_found) {
        const int fdPlusOne = line.fdPlusOne;
        if (fdPlusOne != 0) PutBack(fdPlusOne - 1, line.settings);
    }
    errno = saved;
    // The handler was installed to run once (SA_RESETHAND): raised again, the signal ends
    // the program as it would have without us, once this handler returns.
    ::raise(sig);
}

struct OpenResult {
    int fd = -1;
    SerialOpenError error = SerialOpenError::None;
    std::string detail;
};

SerialOpenError ErrorOfErrno(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
        case EIO:
            return SerialOpenError::NoDevice;
        case EACCES:
        case EPERM:
        case EROFS:
            return SerialOpenError::NoPermission;
        case EBUSY:
            return SerialOpenError::InUse;
        case EISDIR:
        case ENOTTY:
            return SerialOpenError::NotATerminal;
        default:
            return SerialOpenError::Other;
    }
}

// What a user needs to get access: the device's mode and group.
std::string AccessHint(const struct stat& st) {
    char text[96];
    std::string group = std::to_string(st.st_gid);
    struct group gr;
    struct group* found = nullptr;
    char buf[1024];
    if (getgrgid_r(st.st_gid, &gr, buf, sizeof buf, &found) == 0 && found) group = gr.gr_name;
    std::snprintf(text, sizeof text, "mode %04o, group %s",
                  static_cast<unsigned>(st.st_mode & 07777), group.c_str());
    return text;
}

OpenResult Fail(SerialOpenError error, std::string detail, int fd = -1) {
    if (fd >= 0) ::close(fd);
    return {-1, error, std::move(detail)};
}

// Opens a device for exclusive use as a serial line.
OpenResult OpenLine(const std::string& path) {
    if (path.empty()) return Fail(SerialOpenError::NoDevice, "no device for this number");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        int e = errno;
        return Fail(ErrorOfErrno(e), path + ": " + std::strerror(e));
    }
    // Opening something else may have effects of its own (a FIFO, a regular file): never
    // try; a directory or a file simply is not a line.
    if (!S_ISCHR(st.st_mode)) {
        return Fail(SerialOpenError::NotATerminal, S_ISDIR(st.st_mode) ? "a directory"
                                                   : S_ISREG(st.st_mode)
                                                       ? "a regular file"
                                                       : "not a character device");
    }

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        SerialOpenError error = ErrorOfErrno(e);
        if (error == SerialOpenError::NoPermission) return Fail(error, AccessHint(st));
        if (error == SerialOpenError::InUse) return Fail(error, "opened exclusively elsewhere");
        return Fail(error, std::strerror(e));
    }
    if (!::isatty(fd)) return Fail(SerialOpenError::NotATerminal, "a device without a line", fd);
    // Our own terminal would be left raw under the shell: never take it as a reader line.
    if (::tcgetsid(fd) != -1)
        return Fail(SerialOpenError::InUse, "the terminal this program runs in", fd);
#ifdef TIOCGEXCL
    // Only root gets this far into a line another program holds exclusively: give it up
    // unchanged, its flag included.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        return Fail(SerialOpenError::InUse, "opened exclusively elsewhere", fd);
#endif
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        if (e == EWOULDBLOCK || e == EAGAIN)
            return Fail(SerialOpenError::InUse, "held by another opener", fd);
        // A file system without flock still has TIOCEXCL below.
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
        return Fail(SerialOpenError::Other, std::strerror(errno), fd);
    return {fd, SerialOpenError::None, {}};
}

bool IsPseudoTerminal(int fd) {
#ifdef __linux__
    // Unix98 pty slaves: majors 136 to 143.
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
#else
    (void)fd;
    return false;
#endif
}

bool SpeedOf(uint32_t baud, speed_t* speed) {
    struct Entry {
        uint32_t baud;
        speed_t speed;
    };
    static const Entry kSpeeds[] = {
        {50, B50},         {75, B75},     {110, B110},   {134, B134},     {150, B150},
        {200, B200},       {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
        {2400, B2400},     {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
        {57600, B57600},
#endif
#ifdef B115200
        {115200, B115200},
#endif
#ifdef B230400
        {230400, B230400},
#endif
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B921600
        {921600, B921600},
#endif
    };
    for (const Entry& e : kSpeeds) {
        if (e.baud == baud) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

class PosixSerialPort final : public SerialPort {
public:
    explicit PosixSerialPort(int fd) : m_fd(fd), m_pty(IsPseudoTerminal(fd)) {}
    ~PosixSerialPort() override {
        ForgetLine(m_line);
        if (m_haveFound) {
            PutBack(m_fd, m_found);
        } else {
            ::tcflush(m_fd, TCIOFLUSH);
            ::ioctl(m_fd, TIOCNXCL);
        }
        ::close(m_fd);
    }
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool ReadSettings() override {
        m_haveSettings = ::tcgetattr(m_fd, &m_settings) == 0;
        // The first settings read are the ones the line had before this program came.
        if (m_haveSettings && !m_haveFound) {
            m_found = m_settings;
            m_haveFound = true;
            m_line = RememberLine(m_fd, m_found);
        }
        return m_haveSettings;
    }

    bool ApplySettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity) override {
        if (!m_haveSettings && !ReadSettings()) return false;
        speed_t speed;
        if (!SpeedOf(baudRate, &speed)) return false;
        tcflag_t size;
        switch (byteSize) {
            case 5:
                size = CS5;
                break;
            case 6:
                size = CS6;
                break;
            case 7:
                size = CS7;
                break;
            case 8:
                size = CS8;
                break;
            default:
                return false;
        }
        // 0 none, 1 odd, 2 even, 3 mark, 4 space.
        tcflag_t parityBits = 0;
        switch (parity) {
            case 0:
                break;
            case 1:
                parityBits = PARENB | PARODD;
                break;
            case 2:
                parityBits = PARENB;
                break;
#ifdef CMSPAR
            case 3:
                parityBits = PARENB | PARODD | CMSPAR;
                break;
            case 4:
                parityBits = PARENB | CMSPAR;
                break;
#endif
            default:
                return false;
        }

        struct termios t = m_settings;
        // Raw both ways; bytes with a parity error come through as received.
        t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY | INPCK);
#ifdef IUCLC
        t.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
        tcflag_t clear = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CRTSCTS
        clear |= CRTSCTS;
#endif
#ifdef CMSPAR
        clear |= CMSPAR;
#endif
        t.c_cflag &= ~clear;
        t.c_cflag |= size | parityBits | CREAD | CLOCAL;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0) return false;

        // tcsetattr succeeds when any part was applied: check what counts.
        struct termios now;
        if (::tcgetattr(m_fd, &now) != 0) return false;
        if (::cfgetospeed(&now) != speed || (now.c_lflag & (ICANON | ECHO | ISIG)) != 0)
            return false;
        if (!m_pty && ((now.c_cflag & CSIZE) != size ||
                       (now.c_cflag & (PARENB | PARODD)) != (parityBits & (PARENB | PARODD))))
            return false;

        int dtr = TIOCM_DTR;
        ::ioctl(m_fd, TIOCMBIS, &dtr);  // a pseudo-terminal has no DTR
        return true;
    }

    void Purge() override {
        ::tcflush(m_fd, TCIOFLUSH);
    }

    int WriteOne(uint8_t byte) override {
        ssize_t n = ::write(m_fd, &byte, 1);
        if (n == 1) return 1;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        struct pollfd p = {m_fd, POLLOUT, 0};
        int r = ::poll(&p, 1, kWriteWaitMs);
        if (r < 0) return errno == EINTR ? 0 : -1;
        if (r == 0) return 0;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
        n = ::write(m_fd, &byte, 1);
        if (n == 1) return 1;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        return 0;
    }

    int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
        using namespace std::chrono;
        // The kernel's wait runs on the monotonic clock; keep the remaining time on it so
        // that a signal does not cut the wait short.
        const auto end = steady_clock::now() + milliseconds(timeoutMs);
        for (;;) {
            ssize_t n = ::read(m_fd, byte, 1);
            if (n == 1) return 1;
            if (n == 0) return -1;  // hung up
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;

            auto left = ceil<milliseconds>(end - steady_clock::now()).count();
            if (left < 0) return 0;
            if (left > INT_MAX) left = INT_MAX;
            struct pollfd p = {m_fd, POLLIN, 0};
            int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (r == 0) {
                // poll() rounds the wait down to whole ticks at worst; finish what is left.
                if (steady_clock::now() < end) continue;
                return 0;
            }
            if (p.revents & (POLLERR | POLLNVAL)) return -1;
            // POLLIN or POLLHUP: the read tells a byte from a vanished line.
        }
    }

private:
    int m_fd;
    bool m_pty;
    struct termios m_settings {};
    bool m_haveSettings = false;
    struct termios m_found {};
    bool m_haveFound = false;
    FoundLine* m_line = nullptr;
};

// The holder of an flock on this inode, from /proc/locks ("1: FLOCK ADVISORY WRITE 123
// 00:1b:3 0 EOF": process, then device major:minor in hex and inode); 0 when none is shown.
long FlockHolder(const struct stat& st) {
#ifndef __linux__
    (void)st;
    return 0;
#else
    std::ifstream locks("/proc/locks");
    std::string line;
    char want[64];
    std::snprintf(want, sizeof want, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string number, kind, mode, access, pid, where;
        if (!(in >> number >> kind)) continue;
        if (kind == "->") continue;  // a waiter, not a holder
        if (!(in >> mode >> access >> pid >> where)) continue;
        if (kind == "FLOCK" && where == want) return std::strtol(pid.c_str(), nullptr, 10);
    }
    return 0;
#endif
}

// A serial8250 port without a UART behind it shows type 0 in sysfs (opening it fails with
// EIO): /sys/class/tty/ttyS5/type.
bool NoUartBehind(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.compare(0, 4, "ttyS") != 0) return false;
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int value = -1;
    return (type >> value) && value == 0;
}

// The class the kernel files a character device under (/sys/dev/char/M:m/subsystem:
// "tty", "mem", ...); empty when sysfs does not show it (pseudo-terminals, other systems).
std::string DeviceClass(const struct stat& st) {
#ifdef __linux__
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(st.st_rdev),
                  minor(st.st_rdev));
    char target[512];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    return slash ? slash + 1 : target;
#else
    (void)st;
    return {};
#endif
}

// What the system shows about a line without opening it.
SerialPortInfo LookAt(int number, const std::string& path, const struct stat& st) {
    SerialPortInfo info;
    info.number = number;
    info.device = path;
    std::string deviceClass;
    if (!S_ISCHR(st.st_mode)) {
        info.state = SerialOpenError::NotATerminal;
        info.detail = S_ISDIR(st.st_mode) ? "a directory" : "not a character device";
    } else if (deviceClass = DeviceClass(st); !deviceClass.empty() && deviceClass != "tty") {
        info.state = SerialOpenError::NotATerminal;
        info.detail = "a " + deviceClass + " device, not a line";
    } else if (NoUartBehind(path)) {
        info.state = SerialOpenError::NoDevice;
        info.detail = "no UART behind it";
    } else if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        const int e = errno;
        info.state = ErrorOfErrno(e);
        info.detail = info.state == SerialOpenError::NoPermission ? AccessHint(st)
                                                                  : std::string(std::strerror(e));
    } else if (const long holder = FlockHolder(st); holder > 0) {
        info.state = SerialOpenError::InUse;
        info.detail = holder == static_cast<long>(::getpid())
                          ? std::string("held by this program")
                          : "locked by process " + std::to_string(holder);
    }
    return info;
}

class PosixSerialBackend final : public SerialBackend {
public:
    // ZARN60_COM<n> when set and not empty; otherwise COM1-32 are /dev/ttyS0-31, COM33-64
    // /dev/ttyUSB0-31 and COM65-96 /dev/ttyACM0-31.
    std::string DeviceOf(int number) override {
        if (number < 1 || number > PORT_COUNT) return {};
        const std::string name = "ZARN60_COM" + std::to_string(number);
        if (const char* env = std::getenv(name.c_str()); env && *env) return env;
        if (number <= 32) return "/dev/ttyS" + std::to_string(number - 1);
        if (number <= 64) return "/dev/ttyUSB" + std::to_string(number - 33);
        if (number <= 96) return "/dev/ttyACM" + std::to_string(number - 65);
        return {};
    }

    std::unique_ptr<SerialPort> OpenDevice(const std::string& device, OpenFailure* why) override {
        OpenResult r = OpenLine(device);
        if (why) *why = {r.error, r.detail};
        if (r.fd < 0) return nullptr;
        return std::make_unique<PosixSerialPort>(r.fd);
    }

    std::vector<SerialPortInfo> ListPorts() override {
        std::vector<SerialPortInfo> ports;
        for (int n = 1; n <= PORT_COUNT; ++n) {
            const std::string path = DeviceOf(n);
            if (path.empty()) continue;
            struct stat st;
            if (::stat(path.c_str(), &st) != 0) {
                const int e = errno;
                if (e == ENOENT || e == ENOTDIR) continue;
                SerialPortInfo info;
                info.number = n;
                info.device = path;
                info.state = ErrorOfErrno(e);
                info.detail = std::strerror(e);
                ports.push_back(info);
                continue;
            }
            ports.push_back(LookAt(n, path, st));
        }
        return ports;
    }
};

}  // namespace

SerialBackend& OsSerialBackend() {
    static PosixSerialBackend backend;
    return backend;
}

void RestorePortsOnSignals() {
    for (int sig : EndingSignals()) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0) continue;
        // Started to ignore it (nohup), or somebody else handles it: leave that alone.
        if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
        struct sigaction sa {};
        sa.sa_handler = PutBackLinesAndEnd;
        sigemptyset(&sa.sa_mask);
        for (int other : EndingSignals()) sigaddset(&sa.sa_mask, other);
        sa.sa_flags = SA_RESETHAND;
        ::sigaction(sig, &sa, nullptr);
    }
}

}  // namespace zarn
