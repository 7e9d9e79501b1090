// The FUSE side of the simulated hidraw nodes.
//
// What the kernel's hidraw driver does, and this file imitates for each node:
// - one input report per read(); a report longer than the read is cut, the rest lost;
//   a device without numbered reports delivers it without the id byte;
// - a write carries the report id first; the driver drops a leading 0 before the wire,
//   and the simulated reader wants the report as written, so it gets it whole;
// - O_NONBLOCK: EAGAIN when nothing is there; otherwise the read parks until a report
//   comes or a signal interrupts it (FUSE INTERRUPT -> EINTR);
// - poll(): POLLIN when a report is ready, POLLOUT unless writes are stalled, and
//   POLLERR|POLLHUP once the device is gone, after which reads fail with EIO and
//   writes with ENODEV.
// - ioctl(): the hidraw requests for the report descriptor (HIDIOCGRDESCSIZE,
//   HIDIOCGRDESC), the bus and ids (HIDIOCGRAWINFO) and the name, physical path and
//   serial texts (HIDIOCGRAWNAME/PHYS/UNIQ); feature reports fail with EPIPE, as a device
//   without any stalls the request; anything else is ENOTTY.
// The sysfs-like tree has the kernel's shape, so that libudev enumerates it as it does the
// real one: class/hidraw/hidrawN is a link to devices/zarn60-sim/<bus:vendor:product.n>/
// hidraw/hidrawN, whose uevent names the node (MAJOR, MINOR, DEVNAME) and whose subsystem
// link ends in hidraw; the HID device above it has the HID_ID uevent, the report descriptor
// and a subsystem link ending in hid; hidrawN/device leads back up to it.
// FUSE details: direct_io so that every read and write reaches us with its own size,
// nonseekable because the node has no positions, noflush because close() has nothing
// to flush. Readiness that arrives later (a report due, a stall over) is announced
// with fuse_lowlevel_notify_poll from whichever thread made it so.
#define FUSE_USE_VERSION 312
#include "sim/fuse/hid_node_server.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "base/clock.h"
#include "link/linux/hidraw.h"
#include "sim/reader.h"

namespace fs = std::filesystem;

namespace sim {

std::string FuseUnavailableReason() {
    if (::geteuid() != 0) return "needs root to mount the FUSE-served hidraw nodes";
    int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
    ::close(fd);
    return {};
}

std::vector<uint8_t> MakeReportDescriptor(uint16_t inputLength, uint16_t outputLength) {
    std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
    };
    auto report = [&d](uint16_t length, uint8_t mainItem) {
        if (length == 0) return;
        uint16_t count = static_cast<uint16_t>(length - 1);  // the id byte is not data
        d.insert(d.end(), {0x96, static_cast<uint8_t>(count & 0xFF),
                           static_cast<uint8_t>(count >> 8)});  // Report Count
        d.insert(d.end(), {0x09, 0x01, mainItem, 0x02});        // Usage, Input/Output (Data,Var)
    };
    report(inputLength, 0x81);
    report(outputLength, 0x91);
    d.push_back(0xC0);  // End Collection
    return d;
}

namespace {

constexpr fuse_ino_t ROOT_INO = FUSE_ROOT_ID;
constexpr fuse_ino_t FIRST_NODE_INO = 2;

bool Due(uint32_t at, uint32_t now) {
    return static_cast<int32_t>(now - at) >= 0;
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The value of `key` in a uevent text ("KEY=value" lines), or empty.
std::string UeventValue(const std::string& uevent, const std::string& key) {
    size_t start = 0;
    while (start < uevent.size()) {
        size_t end = uevent.find('\n', start);
        if (end == std::string::npos) end = uevent.size();
        if (uevent.compare(start, key.size() + 1, key + "=") == 0)
            return uevent.substr(start + key.size() + 1, end - start - key.size() - 1);
        start = end + 1;
    }
    return {};
}

// A dynamic character major as the kernel gives hidraw; nothing opens the node by number.
constexpr int HIDRAW_MAJOR = 245;

std::string DefaultUevent(int index, uint16_t vendorId, uint16_t productId) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "DRIVER=hid-generic\n"
                  "HID_ID=0003:%08X:%08X\n"
                  "HID_NAME=ZARN60 simulated reader\n"
                  "HID_PHYS=zarn60-sim/input%d\n"
                  "HID_UNIQ=\n"
                  "MODALIAS=hid:b0003g0001v%08Xp%08X\n",
                  vendorId, productId, index, vendorId, productId);
    return text;
}

}  // namespace

struct HidNodeServer::Impl {
    struct Node {
        std::string name;
        int index = 0;  // hidraw<index>
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        std::unique_ptr<Reader> reader;
        std::string uevent;
        std::optional<std::vector<uint8_t>> descriptor;
        bool numbered = false;
        bool unplugged = false;
        bool goneHandled = false;  // its disappearance has been carried out
        uint32_t generation = 0;   // handles of an earlier generation stay dead
        bool stalled = false;
        uint32_t stallUntil = 0;
        int refuseOpen = 0;

        bool Gone() const { return unplugged || reader->Vanished(); }
    };
    struct OpenFile {
        int node = 0;
        uint32_t generation = 0;
        bool nonBlocking = false;
        bool counted = true;  // counts among the reader's open handles
        fuse_pollhandle* poller = nullptr;
    };
    struct Parked {
        fuse_req_t req;
        uint64_t fh;
        size_t size;                // reads: what the caller asked for
        std::vector<uint8_t> data;  // writes: the report
    };

    std::string base;
    fs::path sysRoot;
    fs::path sysfsClass;
    std::vector<Node> nodes;
    std::map<uint64_t, OpenFile> files;
    uint64_t nextFh = 1;
    std::deque<Parked> parkedReads, parkedWrites;
    Counters counters;
    uid_t ownerUid = ::geteuid();
    gid_t ownerGid = ::getegid();
    time_t started = ::time(nullptr);

    mutable std::mutex mu;
    std::condition_variable wake;
    bool stopping = false;
    zarn::SteadyClock clock;

    fuse_session* session = nullptr;
    int wakePipe[2] = {-1, -1};
    std::thread loopThread, deviceThread;
    bool mounted = false;

    // --- sysfs ---
    // The HID device's folder: devices/zarn60-sim/0003:VVVV:PPPP.000n, n counting from 1.
    fs::path DeviceDir(const Node& n) const {
        char name[32];
        std::snprintf(name, sizeof name, "0003:%04X:%04X.%04X", n.vendorId, n.productId,
                      static_cast<unsigned>(n.index + 1));
        return sysRoot / "devices" / "zarn60-sim" / name;
    }

    void WriteSysfs(const Node& n) {
        std::error_code ec;
        const fs::path device = DeviceDir(n);
        const fs::path hidraw = device / "hidraw" / n.name;
        fs::create_directories(hidraw, ec);
        fs::create_directories(sysRoot / "bus" / "hid", ec);
        WriteFile(device / "uevent", n.uevent);
        fs::path desc = device / "report_descriptor";
        if (n.descriptor)
            WriteFile(desc, std::string(n.descriptor->begin(), n.descriptor->end()));
        else
            fs::remove(desc, ec);
        WriteFile(hidraw / "uevent", "MAJOR=" + std::to_string(HIDRAW_MAJOR) + "\nMINOR=" +
                                         std::to_string(n.index) + "\nDEVNAME=" + n.name + "\n");
        auto link = [&ec](const fs::path& target, const fs::path& at) {
            if (!fs::is_symlink(at, ec)) fs::create_symlink(target, at, ec);
        };
        link("../../../bus/hid", device / "subsystem");
        link("../../../../../class/hidraw", hidraw / "subsystem");
        link("../..", hidraw / "device");
        link(fs::path("../../devices/zarn60-sim") / device.filename() / "hidraw" / n.name,
             sysfsClass / n.name);
    }

    void RemoveSysfs(const Node& n) {
        std::error_code ec;
        fs::remove(sysfsClass / n.name, ec);
        fs::remove_all(DeviceDir(n), ec);
    }

    void SetDescriptor(Node& n, const std::optional<std::vector<uint8_t>>& bytes) {
        n.descriptor = bytes;
        zarn::hidraw::ReportDescriptorInfo info;
        n.numbered = bytes &&
                     zarn::hidraw::ParseReportDescriptor(bytes->data(), bytes->size(), &info) &&
                     info.numbered;
    }

    std::optional<std::vector<uint8_t>> ReaderDescriptor(const Node& n) const {
        uint16_t in = n.reader->InputReportLength(), out = n.reader->OutputReportLength();
        if (in == 0 && out == 0) return std::nullopt;
        return MakeReportDescriptor(in, out);
    }

    // --- Readiness (under mu) ---
    bool ReportReady(const Node& n, uint32_t now) const {
        uint32_t at = 0;
        return !n.Gone() && n.reader->UsbPeek(&at) && Due(at, now);
    }
    bool HasParkedRead(int node) const {
        for (const Parked& p : parkedReads) {
            auto f = files.find(p.fh);
            if (f != files.end() && f->second.node == node) return true;
        }
        return false;
    }
    bool Dead(const OpenFile& f) const {
        const Node& n = nodes[f.node];
        return f.generation != n.generation || n.Gone();
    }

    void NotifyPollers(int node) {
        for (auto& [fh, f] : files) {
            (void)fh;
            if (f.node != node || !f.poller) continue;
            fuse_lowlevel_notify_poll(f.poller);
            fuse_pollhandle_destroy(f.poller);
            f.poller = nullptr;
        }
    }

    void FailParked(std::deque<Parked>& parked, int node, int error) {
        for (auto it = parked.begin(); it != parked.end();) {
            auto f = files.find(it->fh);
            if (node < 0 || f == files.end() || f->second.node == node) {
                fuse_reply_err(it->req, error);
                it = parked.erase(it);
            } else {
                ++it;
            }
        }
    }

    void ReplyReport(fuse_req_t req, size_t size, const Node& n, std::vector<uint8_t> report) {
        size_t skip = (!n.numbered && !report.empty()) ? 1 : 0;
        size_t length = std::min(size, report.size() - skip);
        ++counters.reads;
        fuse_reply_buf(req, reinterpret_cast<const char*>(report.data() + skip), length);
    }

    // Delivers an output report; the errno to fail with, or 0.
    int Deliver(Node& n, const uint8_t* data, size_t size, uint32_t now) {
        if (!n.reader->UsbWrite(data, size, now)) return ENODEV;
        ++counters.writes;
        return 0;
    }

    // Carries out what is due now: parked transfers, a disappearance, poll wake-ups.
    void Service(uint32_t now) {
        for (int i = 0; i < static_cast<int>(nodes.size()); ++i) {
            Node& n = nodes[i];
            if (n.Gone()) {
                if (!n.goneHandled) {
                    n.goneHandled = true;
                    ++n.generation;
                    RemoveSysfs(n);
                    // Its handles are dead from now on: the reader no longer keeps
                    // reports for them.
                    for (auto& [fh, f] : files) {
                        (void)fh;
                        if (f.node != i || !f.counted) continue;
                        f.counted = false;
                        n.reader->UsbClosed(now);
                    }
                    FailParked(parkedReads, i, EIO);
                    FailParked(parkedWrites, i, ENODEV);
                    NotifyPollers(i);
                }
                continue;
            }
            bool wakeUp = false;
            for (auto it = parkedReads.begin(); it != parkedReads.end();) {
                auto f = files.find(it->fh);
                if (f == files.end() || f->second.node != i) {
                    ++it;
                    continue;
                }
                if (!ReportReady(n, now)) break;
                std::vector<uint8_t> report = n.reader->UsbPop(now);
                if (report.empty()) {
                    fuse_reply_err(it->req, EIO);
                } else {
                    ReplyReport(it->req, it->size, n, std::move(report));
                }
                it = parkedReads.erase(it);
            }
            if (n.stalled && Due(n.stallUntil, now)) {
                n.stalled = false;
                wakeUp = true;
            }
            if (!n.stalled) {
                for (auto it = parkedWrites.begin(); it != parkedWrites.end();) {
                    auto f = files.find(it->fh);
                    if (f == files.end() || f->second.node != i) {
                        ++it;
                        continue;
                    }
                    int err = Deliver(n, it->data.data(), it->data.size(), now);
                    if (err)
                        fuse_reply_err(it->req, err);
                    else
                        fuse_reply_write(it->req, it->data.size());
                    it = parkedWrites.erase(it);
                }
            }
            if (ReportReady(n, now)) wakeUp = true;
            // The reader may have vanished while serving: handle it on the next pass.
            if (n.Gone()) {
                Service(now);
                return;
            }
            if (wakeUp) NotifyPollers(i);
        }
    }

    // When the device thread must look again, in ms from now; -1 = only when told.
    long NextDeadline(uint32_t now) const {
        long best = -1;
        auto consider = [&best](long ms) {
            if (best < 0 || ms < best) best = ms;
        };
        for (const Node& n : nodes) {
            if (n.Gone()) continue;
            uint32_t at = 0;
            if (n.reader->UsbPeek(&at) && !Due(at, now)) consider(static_cast<int32_t>(at - now));
            if (n.stalled)
                consider(Due(n.stallUntil, now) ? 0 : static_cast<int32_t>(n.stallUntil - now));
        }
        return best;
    }

    void DeviceLoop() {
        std::unique_lock<std::mutex> lock(mu);
        while (!stopping) {
            uint32_t now = clock.NowMs();
            Service(now);
            long ms = NextDeadline(now);
            if (ms < 0)
                wake.wait(lock);
            else
                wake.wait_for(lock, std::chrono::milliseconds(ms));
        }
    }

    void SessionLoop() {
        fuse_buf buf{};
        int fd = fuse_session_fd(session);
        while (!fuse_session_exited(session)) {
            pollfd p[2] = {{fd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            int r = ::poll(p, 2, -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (p[1].revents) break;
            if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) break;
            int got = fuse_session_receive_buf(session, &buf);
            if (got == -EINTR || got == -EAGAIN) continue;
            if (got <= 0) break;
            fuse_session_process_buf(session, &buf);
        }
        std::free(buf.mem);
    }

    // --- FUSE operations ---
    static Impl* From(fuse_req_t req) { return static_cast<Impl*>(fuse_req_userdata(req)); }

    int NodeOf(fuse_ino_t ino) const {
        if (ino < FIRST_NODE_INO || ino >= FIRST_NODE_INO + nodes.size()) return -1;
        return static_cast<int>(ino - FIRST_NODE_INO);
    }

    void FillAttr(fuse_ino_t ino, struct stat* st) const {
        std::memset(st, 0, sizeof *st);
        st->st_ino = ino;
        st->st_uid = ownerUid;
        st->st_gid = ownerGid;
        st->st_atime = st->st_mtime = st->st_ctime = started;
        if (ino == ROOT_INO) {
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
        } else {
            st->st_mode = S_IFREG | 0600;
            st->st_nlink = 1;
        }
    }

    static void OpLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
        Impl* self = From(req);
        std::lock_guard<std::mutex> lock(self->mu);
        if (parent == ROOT_INO) {
            for (size_t i = 0; i < self->nodes.size(); ++i) {
                if (self->nodes[i].name != name || self->nodes[i].Gone()) continue;
                fuse_entry_param e{};
                e.ino = FIRST_NODE_INO + i;
                self->FillAttr(e.ino, &e.attr);
                fuse_reply_entry(req, &e);
                return;
            }
        }
        fuse_reply_err(req, ENOENT);
    }

    static void OpGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
        Impl* self = From(req);
        std::lock_guard<std::mutex> lock(self->mu);
        int node = self->NodeOf(ino);
        if (ino != ROOT_INO && (node < 0 || self->nodes[node].Gone())) {
            fuse_reply_err(req, ENOENT);
            return;
        }
        struct stat st;
        self->FillAttr(ino, &st);
        fuse_reply_attr(req, &st, 0);
    }

    static void OpReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info*) {
        Impl* self = From(req);
        if (ino != ROOT_INO) {
            fuse_reply_err(req, ENOTDIR);
            return;
        }
        std::vector<std::pair<std::string, fuse_ino_t>> entries = {{".", ROOT_INO},
                                                                   {"..", ROOT_INO}};
        {
            std::lock_guard<std::mutex> lock(self->mu);
            for (size_t i = 0; i < self->nodes.size(); ++i)
                if (!self->nodes[i].Gone())
                    entries.emplace_back(self->nodes[i].name, FIRST_NODE_INO + i);
        }
        std::vector<char> out(size);
        size_t used = 0;
        for (size_t i = static_cast<size_t>(std::max<off_t>(off, 0)); i < entries.size(); ++i) {
            struct stat st {};
            st.st_ino = entries[i].second;
            st.st_mode = entries[i].second == ROOT_INO ? S_IFDIR : S_IFREG;
            size_t need =
                fuse_add_direntry(req, out.data() + used, size - used, entries[i].first.c_str(),
                                  &st, static_cast<off_t>(i + 1));
            if (need > size - used) break;
            used += need;
        }
        fuse_reply_buf(req, out.data(), used);
    }

    static void OpOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
        Impl* self = From(req);
        std::lock_guard<std::mutex> lock(self->mu);
        int node = self->NodeOf(ino);
        if (node < 0 || self->nodes[node].Gone()) {
            fuse_reply_err(req, ino == ROOT_INO ? EISDIR : ENOENT);
            return;
        }
        if (self->nodes[node].refuseOpen) {
            fuse_reply_err(req, self->nodes[node].refuseOpen);
            return;
        }
        OpenFile f;
        f.node = node;
        f.generation = self->nodes[node].generation;
        f.nonBlocking = (fi->flags & O_NONBLOCK) != 0;
        fi->fh = self->nextFh++;
        fi->direct_io = 1;
        fi->nonseekable = 1;
        fi->noflush = 1;
        fi->keep_cache = 0;
        self->files[fi->fh] = f;
        self->nodes[node].reader->UsbOpened(self->clock.NowMs());
        // A failed reply makes libfuse call release, which undoes the above.
        fuse_reply_open(req, fi);
    }

    static void OpRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
        Impl* self = From(req);
        {
            std::lock_guard<std::mutex> lock(self->mu);
            auto it = self->files.find(fi->fh);
            if (it != self->files.end()) {
                if (it->second.poller) fuse_pollhandle_destroy(it->second.poller);
                Node& n = self->nodes[it->second.node];
                if (it->second.counted) n.reader->UsbClosed(self->clock.NowMs());
                self->files.erase(it);
            }
        }
        fuse_reply_err(req, 0);
    }

    static void OnInterrupt(fuse_req_t req, void* data) {
        Impl* self = static_cast<Impl*>(data);
        std::lock_guard<std::mutex> lock(self->mu);
        for (auto* parked : {&self->parkedReads, &self->parkedWrites}) {
            for (auto it = parked->begin(); it != parked->end(); ++it) {
                if (it->req != req) continue;
                parked->erase(it);
                ++self->counters.interrupted;
                fuse_reply_err(req, EINTR);
                return;
            }
        }
    }

    // Parks a request for the device thread; the caller holds mu and registered
    // OnInterrupt before taking it (libfuse may call it at once, which needs mu).
    void Park(std::deque<Parked>& queue, Parked parked) {
        if (fuse_req_interrupted(parked.req)) {
            ++counters.interrupted;
            fuse_reply_err(parked.req, EINTR);
            return;
        }
        queue.push_back(std::move(parked));
        wake.notify_all();
    }

    static void OpRead(fuse_req_t req, fuse_ino_t, size_t size, off_t, fuse_file_info* fi) {
        Impl* self = From(req);
        fuse_req_interrupt_func(req, OnInterrupt, self);
        std::lock_guard<std::mutex> lock(self->mu);
        auto it = self->files.find(fi->fh);
        if (it == self->files.end() || self->Dead(it->second)) {
            fuse_reply_err(req, EIO);
            return;
        }
        Node& n = self->nodes[it->second.node];
        uint32_t now = self->clock.NowMs();
        if (self->ReportReady(n, now) && !self->HasParkedRead(it->second.node)) {
            std::vector<uint8_t> report = n.reader->UsbPop(now);
            if (report.empty())
                fuse_reply_err(req, EIO);
            else
                self->ReplyReport(req, size, n, std::move(report));
            self->Service(now);
            self->wake.notify_all();
            return;
        }
        if (it->second.nonBlocking) {
            fuse_reply_err(req, EAGAIN);
            return;
        }
        self->Park(self->parkedReads, Parked{req, fi->fh, size, {}});
    }

    static void OpWrite(fuse_req_t req, fuse_ino_t, const char* buf, size_t size, off_t,
                        fuse_file_info* fi) {
        Impl* self = From(req);
        fuse_req_interrupt_func(req, OnInterrupt, self);
        std::lock_guard<std::mutex> lock(self->mu);
        auto it = self->files.find(fi->fh);
        if (it == self->files.end() || self->Dead(it->second)) {
            fuse_reply_err(req, ENODEV);
            return;
        }
        if (size == 0 || size > zarn::hidraw::MAX_REPORT_BYTES) {
            fuse_reply_err(req, EINVAL);
            return;
        }
        Node& n = self->nodes[it->second.node];
        uint32_t now = self->clock.NowMs();
        if (n.stalled && !Due(n.stallUntil, now)) {
            if (it->second.nonBlocking) {
                fuse_reply_err(req, EAGAIN);
                return;
            }
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(buf);
            self->Park(self->parkedWrites,
                       Parked{req, fi->fh, size, std::vector<uint8_t>(bytes, bytes + size)});
            return;
        }
        int err = self->Deliver(n, reinterpret_cast<const uint8_t*>(buf), size, now);
        if (err)
            fuse_reply_err(req, err);
        else
            fuse_reply_write(req, size);
        self->Service(now);
        self->wake.notify_all();
    }

    // The hidraw ioctls. FUSE passes only requests whose size and direction are encoded in
    // the number, with a buffer of that size; the caller's own HIDIOCGRDESC size field does
    // not reach us, so the whole descriptor is returned with its size (the struct holds
    // any descriptor).
    static void OpIoctl(fuse_req_t req, fuse_ino_t, unsigned int cmd, void*, fuse_file_info* fi,
                        unsigned, const void*, size_t, size_t outSize) {
        Impl* self = From(req);
        std::lock_guard<std::mutex> lock(self->mu);
        auto it = self->files.find(fi->fh);
        if (it == self->files.end() || self->Dead(it->second)) {
            fuse_reply_err(req, ENODEV);  // as the kernel answers for a device that is gone
            return;
        }
        const Node& n = self->nodes[it->second.node];
        if (_IOC_TYPE(cmd) != 'H') {
            fuse_reply_err(req, ENOTTY);
            return;
        }
        auto text = [&](const std::string& value) {
            // The kernel copies the text with its NUL, cut at the caller's length, and
            // returns the count copied.
            std::string bytes = value + '\0';
            size_t length = std::min(bytes.size(), outSize);
            fuse_reply_ioctl(req, static_cast<int>(length), bytes.data(), length);
        };
        switch (_IOC_NR(cmd)) {
            case _IOC_NR(HIDIOCGRDESCSIZE): {
                if (cmd != HIDIOCGRDESCSIZE) break;
                if (!n.descriptor) {
                    fuse_reply_err(req, EIO);
                    return;
                }
                int size = static_cast<int>(
                    std::min<size_t>(n.descriptor->size(), HID_MAX_DESCRIPTOR_SIZE));
                fuse_reply_ioctl(req, 0, &size, sizeof size);
                return;
            }
            case _IOC_NR(HIDIOCGRDESC): {
                if (cmd != HIDIOCGRDESC) break;
                if (!n.descriptor) {
                    fuse_reply_err(req, EIO);
                    return;
                }
                hidraw_report_descriptor d{};
                d.size = static_cast<uint32_t>(
                    std::min<size_t>(n.descriptor->size(), HID_MAX_DESCRIPTOR_SIZE));
                std::memcpy(d.value, n.descriptor->data(), d.size);
                fuse_reply_ioctl(req, 0, &d, offsetof(hidraw_report_descriptor, value) + d.size);
                return;
            }
            case _IOC_NR(HIDIOCGRAWINFO): {
                if (cmd != HIDIOCGRAWINFO) break;
                hidraw_devinfo info{};
                info.bustype = BUS_USB;
                info.vendor = static_cast<int16_t>(n.vendorId);
                info.product = static_cast<int16_t>(n.productId);
                fuse_reply_ioctl(req, 0, &info, sizeof info);
                return;
            }
            case 0x04:  // HIDIOCGRAWNAME(len)
                if (_IOC_DIR(cmd) != _IOC_READ) break;
                text(UeventValue(n.uevent, "HID_NAME"));
                return;
            case 0x05:  // HIDIOCGRAWPHYS(len)
                if (_IOC_DIR(cmd) != _IOC_READ) break;
                text(UeventValue(n.uevent, "HID_PHYS"));
                return;
            case 0x08:  // HIDIOCGRAWUNIQ(len)
                if (_IOC_DIR(cmd) != _IOC_READ) break;
                text(UeventValue(n.uevent, "HID_UNIQ"));
                return;
            case 0x06:  // HIDIOCSFEATURE(len)
            case 0x07:  // HIDIOCGFEATURE(len)
                // The reader has no feature reports: its control endpoint stalls.
                fuse_reply_err(req, EPIPE);
                return;
            default:
                break;
        }
        fuse_reply_err(req, ENOTTY);
    }

    static void OpPoll(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* ph) {
        Impl* self = From(req);
        std::lock_guard<std::mutex> lock(self->mu);
        auto it = self->files.find(fi->fh);
        unsigned revents = 0;
        if (it == self->files.end() || self->Dead(it->second)) {
            revents = POLLERR | POLLHUP;
        } else {
            const Node& n = self->nodes[it->second.node];
            uint32_t now = self->clock.NowMs();
            if (!n.stalled || Due(n.stallUntil, now)) revents |= POLLOUT | POLLWRNORM;
            if (self->ReportReady(n, now)) revents |= POLLIN | POLLRDNORM;
        }
        if (ph) {
            if (it != self->files.end()) {
                if (it->second.poller) fuse_pollhandle_destroy(it->second.poller);
                it->second.poller = ph;
            } else {
                fuse_pollhandle_destroy(ph);
            }
        }
        fuse_reply_poll(req, revents);
    }
};

HidNodeServer::HidNodeServer() : m_impl(std::make_unique<Impl>()) {}

HidNodeServer::~HidNodeServer() {
    Stop();
}

int HidNodeServer::AddReader(uint16_t vendorId, uint16_t productId) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    Impl::Node n;
    int index = static_cast<int>(im.nodes.size());
    n.name = "hidraw" + std::to_string(index);
    n.index = index;
    n.vendorId = vendorId;
    n.productId = productId;
    n.reader = std::make_unique<Reader>();
    n.uevent = DefaultUevent(index, vendorId, productId);
    im.SetDescriptor(n, im.ReaderDescriptor(n));
    im.nodes.push_back(std::move(n));
    return index;
}

bool HidNodeServer::Start(std::string* error) {
    Impl& im = *m_impl;
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        Stop();
        return false;
    };
    if (im.session || im.mounted) return fail("already started");

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarn60-hid-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        return fail("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    im.base = buf.data();
    ::chmod(im.base.c_str(), 0755);  // a user's tool may look in when root serves
    m_sysfsRoot = im.base + "/sys";
    m_devRoot = im.base + "/dev";
    im.sysRoot = m_sysfsRoot;
    im.sysfsClass = im.sysRoot / "class" / "hidraw";
    std::error_code ec;
    fs::create_directories(im.sysfsClass, ec);
    fs::create_directories(m_devRoot, ec);
    if (ec) return fail("cannot make the trees: " + ec.message());

    // `sudo zarn60-sim --usb` serves the user who asked for it.
    if (::geteuid() == 0) {
        if (const char* u = std::getenv("SUDO_UID")) im.ownerUid = static_cast<uid_t>(std::atol(u));
        if (const char* g = std::getenv("SUDO_GID")) im.ownerGid = static_cast<gid_t>(std::atol(g));
    }
    {
        std::lock_guard<std::mutex> lock(im.mu);
        for (const auto& n : im.nodes) im.WriteSysfs(n);
    }

    fuse_lowlevel_ops ops{};
    ops.lookup = Impl::OpLookup;
    ops.getattr = Impl::OpGetattr;
    ops.readdir = Impl::OpReaddir;
    ops.open = Impl::OpOpen;
    ops.release = Impl::OpRelease;
    ops.read = Impl::OpRead;
    ops.write = Impl::OpWrite;
    ops.poll = Impl::OpPoll;
    ops.ioctl = Impl::OpIoctl;

    std::string options = "fsname=zarn60-sim,subtype=zarn60hid,default_permissions";
    if (::geteuid() == 0) options += ",allow_other";
    std::vector<std::string> argv = {"zarn60-sim", "-o", options};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    fuse_args fargs = FUSE_ARGS_INIT(static_cast<int>(args.size()), args.data());
    im.session = fuse_session_new(&fargs, &ops, sizeof ops, &im);
    fuse_opt_free_args(&fargs);  // libfuse may have made its own copy
    if (!im.session) return fail("cannot create the FUSE session");
    if (fuse_session_mount(im.session, m_devRoot.c_str()) != 0)
        return fail("cannot mount the FUSE file system on " + m_devRoot);
    im.mounted = true;
    if (::pipe2(im.wakePipe, O_CLOEXEC) != 0) return fail("cannot make a pipe");
    im.stopping = false;
    im.loopThread = std::thread([&im] { im.SessionLoop(); });
    im.deviceThread = std::thread([&im] { im.DeviceLoop(); });
    return true;
}

void HidNodeServer::Stop() {
    Impl& im = *m_impl;
    {
        std::lock_guard<std::mutex> lock(im.mu);
        im.stopping = true;
        im.FailParked(im.parkedReads, -1, EIO);
        im.FailParked(im.parkedWrites, -1, EIO);
        for (auto& [fh, f] : im.files) {
            (void)fh;
            if (f.poller) fuse_pollhandle_destroy(f.poller);
            f.poller = nullptr;
        }
        im.wake.notify_all();
    }
    if (im.wakePipe[1] >= 0) {
        char c = 0;
        [[maybe_unused]] ssize_t n = ::write(im.wakePipe[1], &c, 1);
    }
    if (im.loopThread.joinable()) im.loopThread.join();
    if (im.deviceThread.joinable()) im.deviceThread.join();
    for (int& fd : im.wakePipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (im.session) {
        // Closing the session's descriptor aborts what handles are still open; the
        // mount itself goes lazily.
        if (im.mounted) fuse_session_unmount(im.session);
        fuse_session_destroy(im.session);
        im.session = nullptr;
    }
    im.mounted = false;
    if (!im.base.empty()) {
        std::error_code ec;
        fs::remove_all(fs::path(im.base) / "sys", ec);
        ::rmdir(m_devRoot.c_str());
        ::rmdir(im.base.c_str());
        im.base.clear();
    }
    std::lock_guard<std::mutex> lock(im.mu);
    im.files.clear();
}

std::string HidNodeServer::NodePath(int node) const {
    return m_devRoot + "/hidraw" + std::to_string(node);
}

void HidNodeServer::WithReader(int node, const std::function<void(Reader&, uint32_t)>& f) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    uint32_t now = im.clock.NowMs();
    f(*im.nodes.at(node).reader, now);
    im.Service(now);
    im.wake.notify_all();
}

void HidNodeServer::SetUevent(int node, const std::string& text) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    auto& n = im.nodes.at(node);
    n.uevent = text;
    if (im.mounted && !n.Gone()) im.WriteSysfs(n);
}

void HidNodeServer::SetReportDescriptor(int node,
                                        const std::optional<std::vector<uint8_t>>& bytes) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    auto& n = im.nodes.at(node);
    im.SetDescriptor(n, bytes);
    if (im.mounted && !n.Gone()) im.WriteSysfs(n);
}

void HidNodeServer::RefreshReportDescriptor(int node) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    auto& n = im.nodes.at(node);
    im.SetDescriptor(n, im.ReaderDescriptor(n));
    if (im.mounted && !n.Gone()) im.WriteSysfs(n);
}

void HidNodeServer::StallWrites(int node, uint32_t ms) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    auto& n = im.nodes.at(node);
    n.stalled = true;
    n.stallUntil = im.clock.NowMs() + ms;
    im.wake.notify_all();
}

void HidNodeServer::Unplug(int node) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    im.nodes.at(node).unplugged = true;
    im.Service(im.clock.NowMs());
    im.wake.notify_all();
}

void HidNodeServer::Replug(int node) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    auto& n = im.nodes.at(node);
    if (!n.Gone()) return;
    n.unplugged = false;
    n.reader->Reappear();
    n.goneHandled = false;
    n.stalled = false;
    if (im.mounted) im.WriteSysfs(n);
    im.wake.notify_all();
}

void HidNodeServer::RefuseOpens(int node, int error) {
    Impl& im = *m_impl;
    std::lock_guard<std::mutex> lock(im.mu);
    im.nodes.at(node).refuseOpen = error;
}

HidNodeServer::Counters HidNodeServer::GetCounters() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    Counters c = m_impl->counters;
    c.openHandles = m_impl->files.size();
    return c;
}

ScopedHidrawRoots::ScopedHidrawRoots(const HidNodeServer& server) {
    if (const char* s = std::getenv("ZARN60_SYSFS_ROOT")) m_sysfs = s;
    if (const char* d = std::getenv("ZARN60_DEV_ROOT")) m_dev = d;
    ::setenv("ZARN60_SYSFS_ROOT", server.SysfsRoot().c_str(), 1);
    ::setenv("ZARN60_DEV_ROOT", server.DevRoot().c_str(), 1);
}

ScopedHidrawRoots::~ScopedHidrawRoots() {
    if (m_sysfs)
        ::setenv("ZARN60_SYSFS_ROOT", m_sysfs->c_str(), 1);
    else
        ::unsetenv("ZARN60_SYSFS_ROOT");
    if (m_dev)
        ::setenv("ZARN60_DEV_ROOT", m_dev->c_str(), 1);
    else
        ::unsetenv("ZARN60_DEV_ROOT");
}

}  // namespace sim
