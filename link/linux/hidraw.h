// The pieces of the hidraw backend that are pure functions of sysfs contents, so that
// tests and fuzzers can reach them without a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn::hidraw {

// What the link needs from a report descriptor.
struct ReportDescriptorInfo {
    uint16_t inputLength = 0;   // largest input report in bytes, plus the report-id byte
    uint16_t outputLength = 0;  // largest output report in bytes, plus the report-id byte
    bool numbered = false;      // the device uses report ids (they come with every report)
};

// The kernel's limits: a report longer than its buffer, or a descriptor the kernel
// would refuse to parse, cannot belong to a working hidraw device.
constexpr size_t MAX_REPORT_BYTES = 16384;
constexpr size_t MAX_DESCRIPTOR_BYTES = 65536;

// False when the descriptor is malformed (truncated item, unbalanced collection or
// push/pop, report id 0, sizes past the kernel's limits); *info is then all zero.
// A descriptor without input (output) reports gives input (output) length 0.
bool ParseReportDescriptor(const uint8_t* data, size_t size, ReportDescriptorInfo* info);

// Finds HID_ID=bus:vendor:product among the lines of a uevent file. False when there is
// no such line or its fields are not hexadecimal numbers that fit.
bool ParseUeventHidId(const std::string& uevent, uint16_t* vendorId, uint16_t* productId);

// Where the backend looks: $ZARN60_SYSFS_ROOT (default /sys) and $ZARN60_DEV_ROOT
// (default /dev), read at every enumeration so that a test can move them.
std::string SysfsRoot();
std::string DevRoot();

}  // namespace zarn::hidraw
