// The HID link: finds the reader among the HID interfaces by vendor and product id, and
// moves whole reports with a millisecond time-out. Free functions without state of their
// own; the caller owns the handle from Open until Close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/open_failure.h"

namespace zarn {
class HidDevice;
}

using HidHandle = zarn::HidDevice*;
inline const HidHandle INVALID_HID_HANDLE = nullptr;

constexpr uint32_t HID_NO_TIMEOUT = 0xFFFFFFFFu;
// How long an open waits for another program's exchange on the same reader to end, and how
// often it looks meanwhile.
constexpr uint32_t HID_HOLD_WAIT_MS = 1500;
constexpr uint32_t HID_HOLD_POLL_MS = 10;

namespace HidLink {

// First present interface with these ids, or INVALID_HID_HANDLE. The handle holds the
// reader for this program until it is closed: while another program holds it, the open
// waits up to HID_HOLD_WAIT_MS and then fails (LastOpenError: InUse).
HidHandle Open(uint16_t vendorId, uint16_t productId);
// The n-th present interface (1 = first) in enumeration order; instance 0 is refused.
HidHandle OpenInstance(uint16_t vendorId, uint16_t productId, uint16_t instance);
// Report lengths include the report-id byte; 0 when the capabilities cannot be read.
uint16_t InputReportLength(HidHandle handle);
uint16_t OutputReportLength(HidHandle handle);
// 1 = the whole report went out (or came in) within the time-out, 0 = failed or timed out.
// A timed-out transfer is cancelled, so the next one on the same handle works.
// The count is stored only when the transfer completed at once.
int WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* written,
                uint32_t timeoutMs);
int ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* read,
               uint32_t timeoutMs);
void Close(HidHandle handle);
// Why the last Open or OpenInstance on this thread returned INVALID_HID_HANDLE: NoDevice
// when no interface with the ids was there; InUse when another program held it past the
// wait; the interface's own failure (NoPermission, ...) when one with the ids could not be
// opened. Error None after an open that succeeded.
zarn::OpenFailure LastOpenError();

// The reader held for more than one exchange: a command that reads, compares, writes and
// reads back must not let another program in between, or one of them writes an image
// made from a stale read. Taking the hold opens the reader as Open does (waiting up to
// HID_HOLD_WAIT_MS for another program's hold, then failing with LastOpenError InUse) and
// keeps it until Release or the end of the Hold. Meanwhile Open and OpenInstance(ids, 1)
// in this program give a handle on the held device itself, without waiting for it and
// with the reports that arrived since the last exchange dropped; closing that handle
// leaves the hold as it is. One hold at a time in a program.
class Hold {
public:
    Hold() = default;
    ~Hold() { Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // False when no interface with the ids could be opened and held (LastOpenError says
    // why), or when this program holds a reader already.
    bool Take(uint16_t vendorId, uint16_t productId);
    void Release();
    bool IsHeld() const { return m_device != nullptr; }

private:
    zarn::HidDevice* m_device = nullptr;
};

}  // namespace HidLink

namespace zarn {

// One opened HID interface, as a backend gives it to the link.
class HidDevice {
public:
    virtual ~HidDevice() = default;
    virtual bool GetAttributes(uint16_t* vendorId, uint16_t* productId) = 0;
    // False when the capabilities cannot be read.
    virtual bool GetReportLengths(uint16_t* input, uint16_t* output) = 0;
    // 1/0 as HidLink::WriteReport / ReadReport. *completedAtOnce tells whether the
    // transfer finished without waiting (only then does the link store a count).
    virtual int Write(const uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                      bool* completedAtOnce) = 0;
    virtual int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs,
                     bool* completedAtOnce) = 0;
    // Takes this handle's hold on the device without waiting: true once held (or where the
    // platform has no such hold), false while another handle holds it. Input reports that
    // arrived before the hold are dropped: they answered somebody else's request.
    virtual bool TryHold() { return true; }
    // Drops the input reports waiting on this handle: answers to nobody's request now.
    virtual void DropPending() {}
};

// What `--list-devices` prints for one interface.
struct HidInterfaceInfo {
    std::string path;
    bool haveIds = false;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t inputLength = 0;
    uint16_t outputLength = 0;
    bool openable = false;
    std::string whyNot;  // empty when it opened
};

// The platform part behind the HID link: one per process, replaceable (the in-process
// simulated reader, tests).
class HidBackend {
public:
    virtual ~HidBackend() = default;
    // Device paths of the HID interfaces present, in enumeration order.
    virtual std::vector<std::string> EnumerateInterfaces() = 0;
    // Null when the interface cannot be opened; *why (if given) then says why.
    virtual std::unique_ptr<HidDevice> OpenInterface(const std::string& path, std::string* why) = 0;
    // As OpenInterface, with the kind of failure. The default gives OpenInterface's text
    // as an Other failure.
    virtual std::unique_ptr<HidDevice> OpenDevice(const std::string& path, OpenFailure* why);
    // What can be learnt about an interface without opening it (ids, report lengths),
    // for listings; false when nothing can. The default learns nothing.
    virtual bool PeekInterface(const std::string& path, HidInterfaceInfo* info) {
        (void)path;
        (void)info;
        return false;
    }
};

HidBackend& GetHidBackend();
// nullptr restores the operating system's backend. The caller keeps ownership.
void SetHidBackend(HidBackend* backend);
// The operating system's backend (hidraw on Linux).
HidBackend& OsHidBackend();

// Every interface the backend enumerates, with what could be learnt about it.
std::vector<HidInterfaceInfo> DescribeHidInterfaces();

}  // namespace zarn
