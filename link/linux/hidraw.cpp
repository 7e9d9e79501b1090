// The HID backend on Linux: hidraw nodes found through sysfs.
//
// Quirks of the platform this file works around, and why:
// - hidraw has no attribute or capability calls that a plain file can answer, so the
//   ids come from <sysfs>/class/hidraw/hidrawN/device/uevent (HID_ID=bus:vendor:product)
//   and the report lengths from parsing device/report_descriptor ourselves. The lengths
//   include the report-id byte whether or not the device numbers its reports, which is
//   what callers of the link expect.
// - A device without numbered reports delivers its input reports without the id byte;
//   we put the 0 back in front so that byte 0 is always the report id. Writes go out
//   whole, id byte included: hidraw wants it there and strips a 0 itself.
// - hidraw has no cancellable transfers. The node is opened O_NONBLOCK and every wait
//   is a poll() with the time-out; a transfer that times out was never started in the
//   kernel, so abandoning it leaves the handle clean for the next one. A write the
//   kernel accepts is sent synchronously (bounded by the USB stack's own time-out), so
//   a write time-out only governs the wait for the node to become writable.
// - Reads never consume a report into a buffer too small for it: a buffer shorter than
//   the input report is refused before reading, as the HID class driver on Windows does.
// - After an unplug the node reports POLLERR/POLLHUP and read() fails with EIO or
//   ENODEV, and it may also read as end-of-file; all of these fail the transfer at once.
// - Nothing here requires the node to be a character device: the tests serve it as a
//   FUSE file under roots taken from ZARN60_SYSFS_ROOT and ZARN60_DEV_ROOT.
// - Every open of a hidraw node gets its own copy of each input report, so two programs
//   on one reader would each read the other's answers. A handle holds the node with an
//   advisory flock() for as long as it lives; reports queued before the hold are read
//   and dropped. flock() also works on the FUSE nodes the tests serve.
// - /dev/hidrawN is usually root-only. An interface we cannot open is skipped by the
//   link, but the listing still shows its ids from sysfs and why it failed.
#include "link/linux/hidraw.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/hid_link.h"

namespace zarn::hidraw {

namespace {

// Item tags of the report descriptor's short items (type, tag).
enum ItemType { ITEM_MAIN = 0, ITEM_GLOBAL = 1, ITEM_LOCAL = 2, ITEM_RESERVED = 3 };
enum MainTag {
    MAIN_INPUT = 8,
    MAIN_OUTPUT = 9,
    MAIN_COLLECTION = 10,
    MAIN_FEATURE = 11,
    MAIN_END_COLLECTION = 12
};
enum GlobalTag {
    GLOBAL_REPORT_SIZE = 7,
    GLOBAL_REPORT_ID = 8,
    GLOBAL_REPORT_COUNT = 9,
    GLOBAL_PUSH = 10,
    GLOBAL_POP = 11
};

// The kernel refuses descriptors beyond these (hid-core's own limits).
constexpr uint32_t MAX_REPORT_SIZE_BITS = 256;
constexpr uint32_t MAX_REPORT_COUNT = 12288;
constexpr int MAX_GLOBAL_STACK = 4;
constexpr int MAX_COLLECTION_DEPTH = 256;

struct Globals {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint32_t reportId = 0;
};

}  // namespace

bool ParseReportDescriptor(const uint8_t* data, size_t size, ReportDescriptorInfo* info) {
    *info = ReportDescriptorInfo{};
    if (size > MAX_DESCRIPTOR_BYTES || (size > 0 && data == nullptr)) return false;

    Globals globals;
    Globals stack[MAX_GLOBAL_STACK];
    int stackDepth = 0;
    int collectionDepth = 0;
    bool numbered = false;
    // Bits per report, keyed by report id, for input and output.
    std::map<uint32_t, uint64_t> inputBits, outputBits;

    size_t pos = 0;
    while (pos < size) {
        uint8_t prefix = data[pos++];
        if (prefix == 0xFE) {  // long item: size, tag, data; carries nothing we need
            if (size - pos < 2) return false;
            size_t dataSize = data[pos];
            pos += 2;
            if (size - pos < dataSize) return false;
            pos += dataSize;
            continue;
        }
        size_t itemSize = prefix & 0x03;
        if (itemSize == 3) itemSize = 4;
        if (size - pos < itemSize) return false;
        uint32_t value = 0;
        for (size_t i = 0; i < itemSize; ++i)
            value |= static_cast<uint32_t>(data[pos + i]) << (8 * i);
        pos += itemSize;
        int type = (prefix >> 2) & 0x03;
        int tag = prefix >> 4;

        if (type == ITEM_GLOBAL) {
            switch (tag) {
                case GLOBAL_REPORT_SIZE:
                    if (value > MAX_REPORT_SIZE_BITS) return false;
                    globals.reportSize = value;
                    break;
                case GLOBAL_REPORT_COUNT:
                    if (value > MAX_REPORT_COUNT) return false;
                    globals.reportCount = value;
                    break;
                case GLOBAL_REPORT_ID:
                    if (value == 0 || value > 255) return false;
                    globals.reportId = value;
                    numbered = true;
                    break;
                case GLOBAL_PUSH:
                    if (stackDepth == MAX_GLOBAL_STACK) return false;
                    stack[stackDepth++] = globals;
                    break;
                case GLOBAL_POP:
                    if (stackDepth == 0) return false;
                    globals = stack[--stackDepth];
                    break;
                default:
                    break;
            }
        } else if (type == ITEM_MAIN) {
            switch (tag) {
                case MAIN_INPUT:
                case MAIN_OUTPUT: {
                    auto& bits = tag == MAIN_INPUT ? inputBits : outputBits;
                    uint64_t& total = bits[globals.reportId];
                    total += static_cast<uint64_t>(globals.reportSize) * globals.reportCount;
                    // The id byte is part of the kernel's report buffer too.
                    if (total > (MAX_REPORT_BYTES - 1) * 8) return false;
                    break;
                }
                case MAIN_COLLECTION:
                    if (++collectionDepth > MAX_COLLECTION_DEPTH) return false;
                    break;
                case MAIN_END_COLLECTION:
                    if (collectionDepth == 0) return false;
                    --collectionDepth;
                    break;
                case MAIN_FEATURE:
                    break;
                default:
                    return false;
            }
        } else if (type == ITEM_RESERVED) {
            return false;
        }
    }
    if (collectionDepth != 0) return false;

    auto longest = [](const std::map<uint32_t, uint64_t>& bits) -> uint16_t {
        uint64_t best = 0;
        bool any = false;
        for (const auto& [id, count] : bits) {
            (void)id;
            any = true;
            best = std::max(best, (count + 7) / 8);
        }
        return any ? static_cast<uint16_t>(best + 1) : 0;
    };
    // An id of 0 here means items before the first Report ID of a numbered descriptor:
    // the kernel files them under report 0 as well, so they count alike.
    info->inputLength = longest(inputBits);
    info->outputLength = longest(outputBits);
    info->numbered = numbered;
    return true;
}

bool ParseUeventHidId(const std::string& uevent, uint16_t* vendorId, uint16_t* productId) {
    static const char KEY[] = "HID_ID=";
    size_t start = 0;
    while (start < uevent.size()) {
        size_t end = uevent.find('\n', start);
        if (end == std::string::npos) end = uevent.size();
        std::string line = uevent.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, sizeof KEY - 1, KEY) != 0) continue;
        // bus:vendor:product, each hexadecimal; the kernel writes 4 and 8 digits.
        uint32_t fields[3];
        size_t p = sizeof KEY - 1;
        bool ok = true;
        for (int f = 0; f < 3 && ok; ++f) {
            size_t digits = 0;
            uint64_t v = 0;
            while (p < line.size() && std::isxdigit(static_cast<unsigned char>(line[p]))) {
                if (++digits > 8) break;
                char c = line[p++];
                v = v * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(c))
                                                       ? c - '0'
                                                       : std::tolower(c) - 'a' + 10);
            }
            if (digits == 0 || digits > 8) ok = false;
            fields[f] = static_cast<uint32_t>(v);
            if (f < 2) {
                if (p < line.size() && line[p] == ':') {
                    ++p;
                } else {
                    ok = false;
                }
            }
        }
        if (ok && p != line.size() && line[p] != '\r') ok = false;
        if (!ok || fields[1] > 0xFFFF || fields[2] > 0xFFFF) continue;
        *vendorId = static_cast<uint16_t>(fields[1]);
        *productId = static_cast<uint16_t>(fields[2]);
        return true;
    }
    return false;
}

namespace {

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    std::string s = (v && *v) ? v : fallback;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string SysfsRoot() {
    return EnvOr("ZARN60_SYSFS_ROOT", "/sys");
}
std::string DevRoot() {
    return EnvOr("ZARN60_DEV_ROOT", "/dev");
}

namespace {

// Reads at most `limit` bytes; false when the file cannot be read or is longer.
bool ReadSmallFile(const std::string& path, size_t limit, std::vector<uint8_t>* out) {
    out->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool ok = true;
    uint8_t chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (out->size() + static_cast<size_t>(n) > limit) {
            ok = false;
            break;
        }
        out->insert(out->end(), chunk, chunk + n);
    }
    ::close(fd);
    return ok;
}

std::string NodeName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DeviceDir(const std::string& nodePath) {
    return SysfsRoot() + "/class/hidraw/" + NodeName(nodePath) + "/device";
}

bool ReadIds(const std::string& nodePath, uint16_t* vendorId, uint16_t* productId) {
    std::vector<uint8_t> bytes;
    if (!ReadSmallFile(DeviceDir(nodePath) + "/uevent", 65536, &bytes)) return false;
    return ParseUeventHidId(std::string(bytes.begin(), bytes.end()), vendorId, productId);
}

bool ReadDescriptor(const std::string& nodePath, ReportDescriptorInfo* info) {
    *info = ReportDescriptorInfo{};
    std::vector<uint8_t> bytes;
    if (!ReadSmallFile(DeviceDir(nodePath) + "/report_descriptor", MAX_DESCRIPTOR_BYTES, &bytes))
        return false;
    return ParseReportDescriptor(bytes.data(), bytes.size(), info);
}

// "hidraw10" after "hidraw9": names compare by their text, then by the number at the end.
bool NameBefore(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
        std::string number = s.substr(digits);
        number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
        return std::make_pair(s.substr(0, digits), number);
    };
    auto [pa, na] = split(a);
    auto [pb, nb] = split(b);
    if (pa != pb) return pa < pb;
    if (na.size() != nb.size()) return na.size() < nb.size();
    if (na != nb) return na < nb;
    return a < b;
}

// Waits for `events` on fd until the deadline; 1 = ready, 0 = timed out, -1 = the
// device failed or went away.
int WaitFor(int fd, short events, uint32_t startMs, uint32_t timeoutMs) {
    Clock& clock = GetClock();
    for (;;) {
        int wait = -1;
        if (timeoutMs != HID_NO_TIMEOUT) {
            uint32_t elapsed = clock.NowMs() - startMs;
            if (elapsed >= timeoutMs) return 0;
            uint32_t left = timeoutMs - elapsed;
            wait = left > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(left);
        }
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) return 0;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
        if (p.revents & events) return 1;
    }
}

class HidrawDevice final : public HidDevice {
public:
    HidrawDevice(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {
        ReportDescriptorInfo info;
        if (ReadDescriptor(m_path, &info)) {
            m_numbered = info.numbered;
            m_inputLength = info.inputLength;
            m_outputLength = info.outputLength;
        }
    }
    ~HidrawDevice() override { ::close(m_fd); }

    bool GetAttributes(uint16_t* vendorId, uint16_t* productId) override {
        return ReadIds(m_path, vendorId, productId);
    }

    bool GetReportLengths(uint16_t* input, uint16_t* output) override {
        ReportDescriptorInfo info;
        if (!ReadDescriptor(m_path, &info)) return false;
        *input = info.inputLength;
        *output = info.outputLength;
        return true;
    }

    int Write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
              bool* completedAtOnce) override {
        *completedAtOnce = false;
        // A report shorter than the device's cannot be whole; the kernel takes no more
        // than its buffer.
        if (length == 0 || length > MAX_REPORT_BYTES) return 0;
        if (m_outputLength != 0 && length < m_outputLength) return 0;
        uint32_t start = GetClock().NowMs();
        bool first = true;
        for (;;) {
            ssize_t n = ::write(m_fd, buffer, length);
            if (n >= 0) {
                if (static_cast<uint32_t>(n) != length) return 0;
                *completedAtOnce = first;
                return 1;
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return Lost();
            first = false;
            const int ready = WaitFor(m_fd, POLLOUT, start, timeoutMs);
            if (ready != 1) return ready < 0 ? Lost() : 0;
        }
    }

    int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, bool* completedAtOnce) override {
        *completedAtOnce = false;
        if (length == 0) return 0;
        if (m_inputLength != 0 && length < m_inputLength) return 0;
        const uint32_t skip = m_numbered ? 0 : 1;
        uint32_t start = GetClock().NowMs();
        bool first = true;
        for (;;) {
            ssize_t n = ::read(m_fd, m_scratch, sizeof m_scratch);
            if (n > 0) {
                // Whatever arrived, the caller's buffer is filled exactly: the id byte,
                // the report, zeros after a short one, a long one cut at the buffer.
                std::memset(buffer, 0, length);
                size_t room = length - skip;
                std::memcpy(buffer + skip, m_scratch, std::min(static_cast<size_t>(n), room));
                *completedAtOnce = first;
                return 1;
            }
            if (n == 0) return Lost();  // end of file: the node is gone
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return Lost();
            first = false;
            const int ready = WaitFor(m_fd, POLLIN, start, timeoutMs);
            if (ready != 1) return ready < 0 ? Lost() : 0;
        }
    }

    bool TryHold() override {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            // Only another holder makes us wait; a node without locks has nothing to hold.
            return errno != EWOULDBLOCK && errno != EAGAIN;
        }
        DropPending();
        return true;
    }

    void DropPending() override {
        // Bounded, in case the device streams faster than we drop.
        for (int i = 0; i < 1024; ++i) {
            if (::read(m_fd, m_scratch, sizeof m_scratch) <= 0) break;
        }
    }

private:
    // A handle whose device went away holds nothing worth holding: the reader plugged in
    // again must not wait for a handle somebody forgot to close.
    int Lost() {
        ::flock(m_fd, LOCK_UN);
        return 0;
    }

    int m_fd;
    std::string m_path;
    bool m_numbered = false;
    uint16_t m_inputLength = 0;
    uint16_t m_outputLength = 0;
    uint8_t m_scratch[MAX_REPORT_BYTES];
};

zarn::OpenError ErrorOfErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return zarn::OpenError::NoDevice;
        case EACCES:
        case EPERM:
            return zarn::OpenError::NoPermission;
        case EBUSY:
            return zarn::OpenError::InUse;
        default:
            return zarn::OpenError::Other;
    }
}

std::string OpenFailureText(int err, const std::string& path) {
    std::string text = std::strerror(err);
    if (err == EACCES || err == EPERM)
        text += " (no permission for " + path + ": install udev/70-zarn60.rules)";
    else if (err == EBUSY)
        text += " (in use)";
    return text;
}

class HidrawBackend final : public HidBackend {
public:
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> names;
        std::string classDir = SysfsRoot() + "/class/hidraw";
        DIR* dir = ::opendir(classDir.c_str());
        if (!dir) return {};
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name.empty() || name[0] == '.') continue;
            names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end(), NameBefore);
        std::vector<std::string> paths;
        std::string devRoot = DevRoot();
        for (const auto& n : names) paths.push_back(devRoot + "/" + n);
        return paths;
    }

    std::unique_ptr<HidDevice> OpenInterface(const std::string& path, std::string* why) override {
        zarn::OpenFailure failure;
        std::unique_ptr<HidDevice> device = OpenDevice(path, &failure);
        if (!device && why) *why = failure.detail;
        return device;
    }

    std::unique_ptr<HidDevice> OpenDevice(const std::string& path,
                                          zarn::OpenFailure* why) override {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            const int e = errno;
            if (why) *why = {ErrorOfErrno(e), OpenFailureText(e, path)};
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            if (why) *why = {zarn::OpenError::Other, "not a device node"};
            return nullptr;
        }
        if (why) *why = {};
        return std::make_unique<HidrawDevice>(fd, path);
    }

    bool PeekInterface(const std::string& path, HidInterfaceInfo* info) override {
        bool any = false;
        if (ReadIds(path, &info->vendorId, &info->productId)) {
            info->haveIds = true;
            any = true;
        }
        ReportDescriptorInfo d;
        if (ReadDescriptor(path, &d)) {
            info->inputLength = d.inputLength;
            info->outputLength = d.outputLength;
            any = true;
        }
        return any;
    }
};

}  // namespace

}  // namespace zarn::hidraw

namespace zarn {

HidBackend& PlatformHidBackend() {
    static hidraw::HidrawBackend backend;
    return backend;
}

}  // namespace zarn
