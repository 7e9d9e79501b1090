// What Wine's HID bus (and any hidraw user) asks of a node besides reads and writes: the
// ioctls and the sysfs tree libudev enumerates. The FUSE-served node must answer as a kernel
// hidraw node does.
#ifdef ZARN60_HAVE_FUSE

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sim/fuse/hid_node_server.h"
#include "sim/reader.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class HidrawIoctl : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = sim::FuseUnavailableReason();
        if (!why.empty()) GTEST_SKIP() << "FUSE-served hidraw tests skipped: " << why;
    }
    void TearDown() override {
        for (int fd : m_fds) ::close(fd);
        server.Stop();
    }
    void Start() {
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
    }
    int Open(int node) {
        int fd = ::open(server.NodePath(node).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) m_fds.push_back(fd);
        return fd;
    }
    // The descriptor as the sysfs file holds it (what the Linux backend parses).
    std::string SysfsDescriptor(int node) {
        return ReadText(fs::path(server.SysfsRoot()) / "class/hidraw" /
                        ("hidraw" + std::to_string(node)) / "device/report_descriptor");
    }

    sim::HidNodeServer server;
    std::vector<int> m_fds;
};

// The descriptor by ioctl is the sysfs file's, byte for byte, and the raw info names the
// bus and the node's ids (a vendor id above 0x7FFF included: the kernel's fields are signed).
TEST_F(HidrawIoctl, DescriptorAndInfoMatchTheNode) {
    struct Case {
        const char* what;
        uint16_t vendor, product;
        uint16_t in, out;                                // the reader's report lengths
        std::optional<std::vector<uint8_t>> descriptor;  // set instead, when given
    } cases[] = {
        {"9/9 reports", 0x0801, 0x0005, 9, 9, std::nullopt},
        {"65/9 reports, vendor 0802", 0x0802, 0x0005, 65, 9, std::nullopt},
        {"input only", 0x0801, 0x0005, 9, 0, std::nullopt},
        {"numbered reports", 0x0801, 0x0005, 9, 9,
         std::vector<uint8_t>{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08,
                              0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0xC0}},
        {"high vendor id", 0x845E, 0xF00D, 9, 9, std::nullopt},
    };
    for (const Case& c : cases) server.AddReader(c.vendor, c.product);
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        const Case& c = cases[i];
        server.WithReader(i, [&](sim::Reader& r, uint32_t) { r.SetReportLengths(c.in, c.out); });
        server.RefreshReportDescriptor(i);
        if (c.descriptor) server.SetReportDescriptor(i, c.descriptor);
    }
    Start();
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        const int fd = Open(i);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::string file = SysfsDescriptor(i);
        ASSERT_FALSE(file.empty());
        if (c.descriptor) {
            EXPECT_EQ(file, std::string(c.descriptor->begin(), c.descriptor->end()));
        }

        int size = -1;
        ASSERT_EQ(::ioctl(fd, HIDIOCGRDESCSIZE, &size), 0) << std::strerror(errno);
        EXPECT_EQ(size, static_cast<int>(file.size()));

        hidraw_report_descriptor d{};
        std::memset(d.value, 0xAA, sizeof d.value);
        d.size = static_cast<uint32_t>(size);
        ASSERT_EQ(::ioctl(fd, HIDIOCGRDESC, &d), 0) << std::strerror(errno);
        EXPECT_EQ(d.size, file.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.value), file.size()), file);
        EXPECT_EQ(d.value[file.size()], 0xAA);  // nothing past the descriptor is written

        hidraw_devinfo info{};
        ASSERT_EQ(::ioctl(fd, HIDIOCGRAWINFO, &info), 0) << std::strerror(errno);
        EXPECT_EQ(info.bustype, static_cast<uint32_t>(BUS_USB));
        EXPECT_EQ(static_cast<uint16_t>(info.vendor), c.vendor);
        EXPECT_EQ(static_cast<uint16_t>(info.product), c.product);
    }
}

// Name, physical path and serial: the text with its NUL, cut at the caller's length, and the
// count copied as the result; the texts are those of the uevent.
TEST_F(HidrawIoctl, TextsAreCutAtTheCallersLength) {
    server.AddReader(0x0801, 0x0005);
    server.SetUevent(0,
                     "HID_ID=0003:00000801:00000005\nHID_NAME=Reader A\n"
                     "HID_PHYS=usb-1/input0\nHID_UNIQ=SN42\n");
    Start();
    const int fd = Open(0);
    ASSERT_GE(fd, 0);
    struct Case {
        unsigned long request;
        size_t length;
        std::string want;  // the bytes copied
    } cases[] = {
        {HIDIOCGRAWNAME(64), 64, std::string("Reader A", 9)},
        {HIDIOCGRAWNAME(4), 4, "Read"},
        {HIDIOCGRAWPHYS(64), 64, std::string("usb-1/input0", 13)},
        {HIDIOCGRAWUNIQ(64), 64, std::string("SN42", 5)},
        {HIDIOCGRAWUNIQ(1), 1, "S"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        std::vector<char> buffer(c.length, '#');
        const int got = ::ioctl(fd, c.request, buffer.data());
        ASSERT_EQ(got, static_cast<int>(c.want.size())) << std::strerror(errno);
        EXPECT_EQ(std::string(buffer.data(), c.want.size()), c.want);
        if (c.want.size() < c.length) {
            EXPECT_EQ(buffer[c.want.size()], '#');
        }
    }
}

// Requests the reader cannot serve fail as they do on a kernel node: feature reports stall
// (the reader has none), unknown requests are not for this device, a node that is gone
// answers nothing, and a device without a readable descriptor gives none.
TEST_F(HidrawIoctl, RequestsTheNodeCannotServeFail) {
    server.AddReader(0x0801, 0x0005);
    server.AddReader(0x0801, 0x0005);
    server.SetReportDescriptor(1, std::nullopt);
    Start();
    const int fd = Open(0), bare = Open(1);
    ASSERT_GE(fd, 0);
    ASSERT_GE(bare, 0);
    uint8_t report[9] = {0};
    int size = 0;
    hidraw_report_descriptor d{};
    struct Case {
        const char* what;
        int fd;
        unsigned long request;
        void* arg;
        int error;
    } cases[] = {
        {"get feature", fd, HIDIOCGFEATURE(9), report, EPIPE},
        {"set feature", fd, HIDIOCSFEATURE(9), report, EPIPE},
        {"unknown hidraw request", fd, _IOC(_IOC_READ, 'H', 0x30, 4), &size, ENOTTY},
        {"another driver's request", fd, _IOR('T', 0x01, int), &size, ENOTTY},
        {"no descriptor: size", bare, HIDIOCGRDESCSIZE, &size, EIO},
        {"no descriptor: bytes", bare, HIDIOCGRDESC, &d, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errno = 0;
        EXPECT_EQ(::ioctl(c.fd, c.request, c.arg), -1);
        EXPECT_EQ(errno, c.error) << std::strerror(errno);
    }
    server.Unplug(0);
    errno = 0;
    EXPECT_EQ(::ioctl(fd, HIDIOCGRDESCSIZE, &size), -1);
    EXPECT_EQ(errno, ENODEV);
}

// The tree libudev walks: class/hidraw/hidrawN leads (through a link, into devices/) to a
// device folder whose uevent names the node and whose subsystem is hidraw; the first folder
// above it with a uevent is the HID device, subsystem hid, with the ids. Unplugging takes
// both away, plugging in again puts them back.
TEST_F(HidrawIoctl, SysfsTreeHasTheKernelsShape) {
    server.AddReader(0x0801, 0x0005);
    server.AddReader(0x0802, 0x0005);
    Start();
    const fs::path sys = fs::canonical(server.SysfsRoot());
    auto check = [&](int node, const std::string& hidId) {
        SCOPED_TRACE(node);
        const std::string name = "hidraw" + std::to_string(node);
        const fs::path entry = sys / "class/hidraw" / name;
        ASSERT_TRUE(fs::is_symlink(entry));
        const fs::path dev = fs::canonical(entry);
        EXPECT_EQ(dev.lexically_relative(sys).begin()->string(), "devices");
        EXPECT_EQ(ReadText(dev / "uevent"),
                  "MAJOR=245\nMINOR=" + std::to_string(node) + "\nDEVNAME=" + name + "\n");
        EXPECT_EQ(fs::canonical(dev / "subsystem"), sys / "class/hidraw");
        fs::path parent = dev.parent_path();
        while (parent != sys && !fs::exists(parent / "uevent")) parent = parent.parent_path();
        ASSERT_NE(parent, sys);
        EXPECT_EQ(fs::canonical(parent / "subsystem"), sys / "bus/hid");
        EXPECT_NE(ReadText(parent / "uevent").find("HID_ID=" + hidId + "\n"), std::string::npos);
        EXPECT_EQ(fs::canonical(dev / "device"), parent);
    };
    check(0, "0003:00000801:00000005");
    check(1, "0003:00000802:00000005");

    const fs::path device = fs::canonical(sys / "class/hidraw/hidraw0/device");
    server.Unplug(0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sys / "class/hidraw/hidraw0")));
    EXPECT_FALSE(fs::exists(device));
    check(1, "0003:00000802:00000005");
    server.Replug(0);
    check(0, "0003:00000801:00000005");
}

}  // namespace

#endif  // ZARN60_HAVE_FUSE
