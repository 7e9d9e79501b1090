// The hidraw backend's view of sysfs: report descriptors, uevent files, and a whole
// enumeration and exchange against a fake sysfs tree whose descriptor, uevent and device
// node contents come from the fuzzer.
//
// Input: a two-byte little-endian descriptor length, the descriptor, then the uevent text
// up to the first NUL, then what the device node holds (the reports it gives back). A
// short input is the descriptor alone.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/clock.h"
#include "fuzz/fuzz_support.h"
#include "link/hid_link.h"
#include "link/linux/hidraw.h"
#include "protocol/special_exchange.h"

namespace {

using zarn::hidraw::ReportDescriptorInfo;

void CheckDescriptor(const uint8_t* data, size_t size) {
    ReportDescriptorInfo info;
    const bool ok = zarn::hidraw::ParseReportDescriptor(data, size, &info);
    if (!ok) {
        FUZZ_CHECK(info.inputLength == 0 && info.outputLength == 0 && !info.numbered,
                   "a refused descriptor left lengths %u/%u", info.inputLength, info.outputLength);
        return;
    }
    FUZZ_CHECK(info.inputLength <= zarn::hidraw::MAX_REPORT_BYTES &&
                   info.outputLength <= zarn::hidraw::MAX_REPORT_BYTES,
               "lengths %u/%u past the kernel's buffer", info.inputLength, info.outputLength);
    FUZZ_CHECK(size <= zarn::hidraw::MAX_DESCRIPTOR_BYTES, "a descriptor too long was accepted");
    ReportDescriptorInfo again;
    FUZZ_CHECK(zarn::hidraw::ParseReportDescriptor(data, size, &again) &&
                   again.inputLength == info.inputLength &&
                   again.outputLength == info.outputLength && again.numbered == info.numbered,
               "parsing twice differs");
}

void CheckUevent(const std::string& text) {
    uint16_t vid = 0x1234, pid = 0x5678;
    if (zarn::hidraw::ParseUeventHidId(text, &vid, &pid)) {
        FUZZ_CHECK(text.find("HID_ID=") != std::string::npos, "ids without a HID_ID line");
    } else {
        FUZZ_CHECK(vid == 0x1234 && pid == 0x5678, "a failed parse changed the ids");
    }
}

// sysfs/class/hidraw/hidraw0/device/{uevent,report_descriptor} and dev/hidraw0 under the
// scratch folder; the backend reads its roots from the environment.
struct FakeTree {
    std::string sysfs, dev, deviceDir, node;
    FakeTree() {
        const std::string root = fuzz::ScratchDir();
        sysfs = root + "/sys";
        dev = root + "/dev";
        deviceDir = sysfs + "/class/hidraw/hidraw0/device";
        node = dev + "/hidraw0";
        for (const std::string& d : {sysfs, sysfs + "/class", sysfs + "/class/hidraw",
                                     sysfs + "/class/hidraw/hidraw0", deviceDir, dev})
            ::mkdir(d.c_str(), 0700);
        ::setenv("ZARN60_SYSFS_ROOT", sysfs.c_str(), 1);
        ::setenv("ZARN60_DEV_ROOT", dev.c_str(), 1);
    }
};

void CheckBackend(const uint8_t* descriptor, size_t descriptorSize, const std::string& uevent,
                  const uint8_t* reports, size_t reportsSize) {
    static FakeTree tree;
    const std::string ueventText =
        uevent.empty() ? std::string("HID_ID=0003:00000801:00000005\n") : uevent;
    FUZZ_CHECK(fuzz::WriteWholeFile(tree.deviceDir + "/uevent",
                                    reinterpret_cast<const uint8_t*>(ueventText.data()),
                                    ueventText.size()),
               "uevent");
    FUZZ_CHECK(
        fuzz::WriteWholeFile(tree.deviceDir + "/report_descriptor", descriptor, descriptorSize),
        "report_descriptor");
    FUZZ_CHECK(fuzz::WriteWholeFile(tree.node, reports, reportsSize), "node");

    zarn::SetHidBackend(nullptr);  // the hidraw backend itself
    zarn::VirtualClock clock;      // the exchanges' pauses cost no time
    zarn::ScopedClock useClock(clock);
    const auto infos = zarn::DescribeHidInterfaces();
    FUZZ_CHECK(infos.size() == 1, "%zu interfaces in a tree of one", infos.size());
    ReportDescriptorInfo parsed;
    if (zarn::hidraw::ParseReportDescriptor(descriptor, descriptorSize, &parsed)) {
        FUZZ_CHECK(infos[0].inputLength == parsed.inputLength &&
                       infos[0].outputLength == parsed.outputLength,
                   "listed lengths differ from the descriptor's");
    }
    // A whole exchange: the node is a plain file, so every read is at once or the end.
    std::string text;
    (void)protocol::ReadVersionOverHid(&text);
    std::string card;
    (void)protocol::ReadCardOverHid(&card);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > zarn::hidraw::MAX_DESCRIPTOR_BYTES + 4096) return -1;
    CheckDescriptor(data, size);
    if (size < 2) return 0;
    const size_t declared = data[0] | (static_cast<size_t>(data[1]) << 8);
    const size_t descriptorSize = std::min(declared, size - 2);
    const uint8_t* descriptor = data + 2;
    CheckDescriptor(descriptor, descriptorSize);

    const uint8_t* rest = descriptor + descriptorSize;
    size_t restSize = size - 2 - descriptorSize;
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(rest, 0, restSize));
    const size_t ueventSize = nul ? static_cast<size_t>(nul - rest) : restSize;
    const std::string uevent(reinterpret_cast<const char*>(rest), ueventSize);
    CheckUevent(uevent);
    const uint8_t* reports = rest + ueventSize + (nul ? 1 : 0);
    const size_t reportsSize = restSize - ueventSize - (nul ? 1 : 0);
    CheckBackend(descriptor, descriptorSize, uevent, reports, reportsSize);
    return 0;
}
