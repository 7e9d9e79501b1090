// Simulated readers served as hidraw nodes: a FUSE file system (libfuse3, low-level API)
// mounted on a fresh /dev-like folder with one file per reader, hidraw0, hidraw1, ...,
// and a sysfs-like tree beside it (class/hidraw/hidrawN/device/uevent and
// report_descriptor). The real hidraw backend, pointed at both roots, cannot tell the
// nodes from a kernel's: one report per read, no id byte in front for a device without
// numbered reports, EAGAIN and poll readiness on a non-blocking handle, EIO and
// POLLERR|POLLHUP once the device is gone.
//
// Used by the standalone `zarn60-sim --usb` and by the tests:
//
//     sim::HidNodeServer server;
//     int first = server.AddReader(0x0801, 0x0005);
//     std::string error;
//     if (!server.Start(&error)) ...;
//     sim::ScopedHidrawRoots roots(server);  // the hidraw backend now looks there
//     HidHandle h = HidLink::Open(0x0801, 0x0005);
//     server.WithReader(first, [](sim::Reader& r, uint32_t now) { ... });
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Reader;
class HidNodeServer;

// Why the nodes cannot be served here (not root, /dev/fuse cannot be opened), or empty.
std::string FuseUnavailableReason();

class HidNodeServer {
public:
    HidNodeServer();
    ~HidNodeServer();  // stops, unmounts and removes what it made
    HidNodeServer(const HidNodeServer&) = delete;
    HidNodeServer& operator=(const HidNodeServer&) = delete;

    // Adds hidraw<N>, N = the number of nodes added before, with its own simulated reader
    // and these ids in its uevent; the report descriptor follows the reader's report
    // lengths. Only before Start. Returns N.
    int AddReader(uint16_t vendorId, uint16_t productId);

    // Makes the folders, writes the sysfs tree and mounts the nodes, served from a
    // background thread. False, with *error set, when that fails (nothing is left).
    bool Start(std::string* error);
    // Fails what is parked, unmounts, and removes both trees. Idempotent.
    void Stop();

    // The roots to give the hidraw backend (ZARN60_SYSFS_ROOT, ZARN60_DEV_ROOT).
    const std::string& SysfsRoot() const { return m_sysfsRoot; }
    const std::string& DevRoot() const { return m_devRoot; }
    std::string NodePath(int node) const;

    // Runs `f` with the node's reader and the reader's clock under the server's lock,
    // then lets the node act on what changed (answers due, a vanished device). `f` must
    // not touch the node's files.
    void WithReader(int node, const std::function<void(Reader&, uint32_t now)>& f);

    // --- What the sysfs tree says about a node ---
    // Replaces the uevent file's text (HID_ID, junk, nothing).
    void SetUevent(int node, const std::string& text);
    // Replaces the report descriptor; nullopt removes the file (capabilities unreadable).
    // Whether the node puts the id byte in front of its reports follows the descriptor.
    void SetReportDescriptor(int node, const std::optional<std::vector<uint8_t>>& bytes);
    // Writes the descriptor made from the reader's current report lengths again.
    void RefreshReportDescriptor(int node);

    // --- Device behaviour beyond the reader's own faults ---
    // The device accepts no output report for this long from now: a non-blocking write
    // gets EAGAIN and the node is not writable until then.
    void StallWrites(int node, uint32_t ms);
    // Unplugged: the node and its sysfs entry disappear, open handles fail, and pollers
    // see POLLERR|POLLHUP. The reader's own vanish fault does the same.
    void Unplug(int node);
    // Plugged in again under the same name; handles opened before stay dead.
    void Replug(int node);

    // Opens of the node fail with this errno from now on (EACCES: as a node the user
    // may not open); 0 accepts them again.
    void RefuseOpens(int node, int error);

    // Report reads, writes and interrupted parked requests served so far (all nodes),
    // and the handles open now.
    struct Counters {
        uint64_t reads = 0;
        uint64_t writes = 0;
        uint64_t interrupted = 0;
        size_t openHandles = 0;
    };
    Counters GetCounters() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
    std::string m_sysfsRoot;
    std::string m_devRoot;
};

// A descriptor for a device without numbered reports: one input report of input-1 bytes
// and one output report of output-1 bytes (a length of 0 leaves that report out).
std::vector<uint8_t> MakeReportDescriptor(uint16_t inputLength, uint16_t outputLength);

// Points the hidraw backend at the server's roots for the lifetime of the object (sets
// ZARN60_SYSFS_ROOT and ZARN60_DEV_ROOT, then puts back what was there).
class ScopedHidrawRoots {
public:
    explicit ScopedHidrawRoots(const HidNodeServer& server);
    ~ScopedHidrawRoots();
    ScopedHidrawRoots(const ScopedHidrawRoots&) = delete;
    ScopedHidrawRoots& operator=(const ScopedHidrawRoots&) = delete;

private:
    std::optional<std::string> m_sysfs;
    std::optional<std::string> m_dev;
};

}  // namespace sim
