// The hidraw backend through HidLink against simulated readers served as FUSE nodes with
// a fake sysfs tree: real files, real poll(), real time.
#ifdef ZARN60_HAVE_FUSE

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_link.h"
#include "sim/fuse/hid_node_server.h"
#include "sim/reader.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::vector<uint8_t> Request(uint8_t command, size_t length = 9) {
    std::vector<uint8_t> r(length, 0);
    r[1] = command;
    return r;
}

// The version answer as the callers read it: payload bytes up to the first zero.
std::string PayloadText(const std::vector<uint8_t>& report) {
    std::string text;
    for (size_t i = 1; i < report.size() && i <= 8 && report[i] != 0; ++i)
        text.push_back(static_cast<char>(report[i]));
    return text;
}

// Waits (briefly, in real time) until `done` holds; FUSE releases arrive asynchronously.
bool Eventually(const std::function<bool()>& done, int ms = 2000) {
    auto start = Clock::now();
    while (!done()) {
        if (MsSince(start) > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class HidrawFuse : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = sim::FuseUnavailableReason();
        if (!why.empty()) GTEST_SKIP() << "FUSE-served hidraw tests skipped: " << why;
        zarn::SetHidBackend(nullptr);  // the real hidraw backend
    }

    // Adds the readers (vendor, product) and starts serving them.
    void Serve(const std::vector<std::pair<uint16_t, uint16_t>>& ids,
               const std::function<void()>& beforeStart = {}) {
        for (const auto& [v, p] : ids) server.AddReader(v, p);
        if (beforeStart) beforeStart();
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
        roots = std::make_unique<sim::ScopedHidrawRoots>(server);
    }

    // The log of what a node's reader received since the last call.
    std::vector<std::vector<uint8_t>> Received(int node) {
        std::vector<std::vector<uint8_t>> reports;
        server.WithReader(
            node, [&reports](sim::Reader& r, uint32_t) { reports = r.TakeLog().usbReports; });
        return reports;
    }

    // Asks for the version and reads the answer with the given time-out.
    std::string Version(HidHandle h, uint32_t timeoutMs = 1000) {
        auto req = Request(protocol::CMD_GET_VERSION, HidLink::OutputReportLength(h));
        if (HidLink::WriteReport(h, req.data(), static_cast<uint32_t>(req.size()), nullptr,
                                 HID_NO_TIMEOUT) != 1)
            return "(write failed)";
        std::vector<uint8_t> reply(HidLink::InputReportLength(h), 0xEE);
        if (HidLink::ReadReport(h, reply.data(), static_cast<uint32_t>(reply.size()), nullptr,
                                timeoutMs) != 1)
            return "(read failed)";
        if (reply[0] != 0) return "(report id " + std::to_string(reply[0]) + ")";
        return PayloadText(reply);
    }

    void TearDown() override {
        roots.reset();
        server.Stop();
    }

    sim::HidNodeServer server;
    std::unique_ptr<sim::ScopedHidrawRoots> roots;
};

}  // namespace

TEST_F(HidrawFuse, TwoReadersWithTheSameIdsAreInstancesOneAndTwo) {
    Serve({{0x0801, 0x0005}, {0x1234, 0x0001}, {0x0801, 0x0005}});
    server.WithReader(0, [](sim::Reader& r, uint32_t) { r.SetVersion("FIRST"); });
    server.WithReader(2, [](sim::Reader& r, uint32_t) { r.SetVersion("SECOND"); });

    HidHandle first = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(first, INVALID_HID_HANDLE);
    HidHandle second = HidLink::OpenInstance(0x0801, 0x0005, 2);
    ASSERT_NE(second, INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::OpenInstance(0x0801, 0x0005, 3), INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::OpenInstance(0x0801, 0x0005, 0), INVALID_HID_HANDLE);
    // What the opens looked at and did not keep is closed again.
    EXPECT_TRUE(Eventually([&] { return server.GetCounters().openHandles == 2; }))
        << server.GetCounters().openHandles;

    EXPECT_EQ(Version(first), "FIRST");
    EXPECT_EQ(Version(second), "SECOND");
    HidLink::Close(first);
    HidLink::Close(second);
    EXPECT_TRUE(Eventually([&] { return server.GetCounters().openHandles == 0; }));
}

TEST_F(HidrawFuse, OnlyAn0802ReaderIsFoundUnderItsOwnIds) {
    Serve({{0x0802, 0x0005}});
    EXPECT_EQ(HidLink::Open(0x0801, 0x0005), INVALID_HID_HANDLE);
    HidHandle h = HidLink::Open(0x0802, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::InputReportLength(h), 9);
    EXPECT_EQ(HidLink::OutputReportLength(h), 9);
    EXPECT_EQ(Version(h), "V2.10");
    HidLink::Close(h);
}

TEST_F(HidrawFuse, ReportsKeepTheirIdByteAndPaddingBothWays) {
    Serve({{0x0801, 0x0005}});
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    // The reader receives the report as written, id byte included.
    std::vector<uint8_t> req = {0x00, 'V', 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(HidLink::WriteReport(h, req.data(), 9, nullptr, HID_NO_TIMEOUT), 1);
    auto got = Received(0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], req);
    // The node delivers 8 bytes without the id; the backend puts the 0 back in front.
    std::vector<uint8_t> reply(9, 0xEE);
    ASSERT_EQ(HidLink::ReadReport(h, reply.data(), 9, nullptr, 1000), 1);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0, 'V', '2', '.', '1', '0', 0, 0, 0}));
    HidLink::Close(h);
}

TEST_F(HidrawFuse, NumberedReportsArePassedAsTheyCome) {
    // Report ID 1 makes the device's reports numbered: the node then hands them over
    // with their first byte, and the backend must not add one.
    std::vector<uint8_t> numbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                     0x01, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81,
                                     0x02, 0x95, 0x08, 0x09, 0x01, 0x91, 0x02, 0xC0};
    Serve({{0x0801, 0x0005}}, [&] { server.SetReportDescriptor(0, numbered); });
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::InputReportLength(h), 9);
    EXPECT_EQ(Version(h), "V2.10");
    HidLink::Close(h);
}

TEST_F(HidrawFuse, UnreadableCapabilitiesGiveLengthZero) {
    Serve({{0x0801, 0x0005}, {0x0801, 0x0005}}, [&] {
        server.SetReportDescriptor(0, std::nullopt);
        server.WithReader(1, [](sim::Reader& r, uint32_t) { r.SetReportLengths(65, 9); });
        server.RefreshReportDescriptor(1);
    });
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::InputReportLength(h), 0);
    EXPECT_EQ(HidLink::OutputReportLength(h), 0);
    HidLink::Close(h);

    h = HidLink::OpenInstance(0x0801, 0x0005, 2);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    EXPECT_EQ(HidLink::InputReportLength(h), 65);
    EXPECT_EQ(HidLink::OutputReportLength(h), 9);
    std::vector<uint8_t> reply(65, 0xEE);
    auto req = Request(protocol::CMD_GET_VERSION);
    ASSERT_EQ(HidLink::WriteReport(h, req.data(), 9, nullptr, HID_NO_TIMEOUT), 1);
    ASSERT_EQ(HidLink::ReadReport(h, reply.data(), 65, nullptr, 1000), 1);
    EXPECT_EQ(PayloadText(reply), "V2.10");
    EXPECT_EQ(reply[64], 0);
    HidLink::Close(h);

    auto list = zarn::DescribeHidInterfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].openable);
    EXPECT_EQ(list[0].inputLength, 0);
    EXPECT_EQ(list[1].inputLength, 65);
}

TEST_F(HidrawFuse, ReadThatTimesOutLeavesTheHandleWorking) {
    Serve({{0x0801, 0x0005}});
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    std::vector<uint8_t> reply(9, 0);
    uint32_t count = 0xDEAD;
    auto start = Clock::now();
    EXPECT_EQ(HidLink::ReadReport(h, reply.data(), 9, &count, 150), 0);
    long took = MsSince(start);
    EXPECT_GE(took, 140);
    EXPECT_LT(took, 1500);
    EXPECT_EQ(count, 0xDEADu);

    // The same handle: an answer that comes after a wait, then one that is there at once.
    auto req = Request(protocol::CMD_GET_VERSION);
    ASSERT_EQ(HidLink::WriteReport(h, req.data(), 9, nullptr, HID_NO_TIMEOUT), 1);
    ASSERT_EQ(HidLink::ReadReport(h, reply.data(), 9, &count, 1000), 1);
    EXPECT_EQ(PayloadText(reply), "V2.10");
    ASSERT_EQ(HidLink::WriteReport(h, req.data(), 9, nullptr, HID_NO_TIMEOUT), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    count = 0xDEAD;
    ASSERT_EQ(HidLink::ReadReport(h, reply.data(), 9, &count, 1000), 1);
    EXPECT_EQ(count, 9u);
    HidLink::Close(h);
}

TEST_F(HidrawFuse, SlowAnswersArriveWithinTheTimeOutOrWithoutLimit) {
    Serve({{0x0801, 0x0005}});
    server.WithReader(0, [](sim::Reader& r, uint32_t) {
        sim::Faults f;
        f.slowMs = 120;
        r.SetFaults(f);
    });
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    auto start = Clock::now();
    EXPECT_EQ(Version(h, HID_NO_TIMEOUT), "V2.10");
    EXPECT_GE(MsSince(start), 110);
    // Too short a time-out loses this answer; the next request still gets its own.
    EXPECT_EQ(Version(h, 40), "(read failed)");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::vector<uint8_t> stale(9);
    EXPECT_EQ(HidLink::ReadReport(h, stale.data(), 9, nullptr, 0), 1);  // the late one
    EXPECT_EQ(Version(h, 1000), "V2.10");
    HidLink::Close(h);
}

TEST_F(HidrawFuse, WritesCompleteAtOnceOrAfterAWait) {
    Serve({{0x0801, 0x0005}});
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    auto a = Request('A'), b = Request('B'), c = Request('C'), d = Request('D');

    uint32_t count = 0xDEAD;
    EXPECT_EQ(HidLink::WriteReport(h, a.data(), 9, &count, HID_NO_TIMEOUT), 1);
    EXPECT_EQ(count, 9u);

    server.StallWrites(0, 150);
    count = 0xDEAD;
    auto start = Clock::now();
    EXPECT_EQ(HidLink::WriteReport(h, b.data(), 9, &count, 2000), 1);
    EXPECT_GE(MsSince(start), 100);
    EXPECT_EQ(count, 0xDEADu);  // finished later: no count

    // A write that cannot go out in time is abandoned, not sent late.
    server.StallWrites(0, 300);
    start = Clock::now();
    EXPECT_EQ(HidLink::WriteReport(h, c.data(), 9, &count, 50), 0);
    EXPECT_LT(MsSince(start), 290);
    EXPECT_EQ(HidLink::WriteReport(h, d.data(), 9, &count, HID_NO_TIMEOUT), 1);

    auto got = Received(0);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0][1], 'A');
    EXPECT_EQ(got[1][1], 'B');
    EXPECT_EQ(got[2][1], 'D');
    HidLink::Close(h);
}

TEST_F(HidrawFuse, DeviceThatDisappearsFailsTransfersAtOnce) {
    Serve({{0x0801, 0x0005}});
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        server.Unplug(0);
    });
    std::vector<uint8_t> reply(9);
    auto start = Clock::now();
    EXPECT_EQ(HidLink::ReadReport(h, reply.data(), 9, nullptr, HID_NO_TIMEOUT), 0);
    EXPECT_LT(MsSince(start), 1500);
    unplug.join();
    auto req = Request(protocol::CMD_GET_VERSION);
    EXPECT_EQ(HidLink::WriteReport(h, req.data(), 9, nullptr, HID_NO_TIMEOUT), 0);
    EXPECT_EQ(HidLink::ReadReport(h, reply.data(), 9, nullptr, 0), 0);
    EXPECT_EQ(HidLink::Open(0x0801, 0x0005), INVALID_HID_HANDLE);
    EXPECT_TRUE(zarn::DescribeHidInterfaces().empty());

    // Plugged in again: a new handle works, the old one stays dead.
    server.Replug(0);
    HidHandle again = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(again, INVALID_HID_HANDLE);
    EXPECT_EQ(Version(again), "V2.10");
    EXPECT_EQ(HidLink::ReadReport(h, reply.data(), 9, nullptr, 0), 0);
    HidLink::Close(again);
    HidLink::Close(h);
}

TEST_F(HidrawFuse, ReaderThatVanishesMidExchangeFailsTheRest) {
    Serve({{0x0801, 0x0005}});
    server.WithReader(0, [](sim::Reader& r, uint32_t) {
        sim::Faults f;
        f.vanishAfter = 2;  // gone once the request and one answer have moved
        r.SetFaults(f);
    });
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    auto req = Request(protocol::CMD_GET_CONFIG);
    ASSERT_EQ(HidLink::WriteReport(h, req.data(), 9, nullptr, HID_NO_TIMEOUT), 1);
    std::vector<uint8_t> reply(9);
    EXPECT_EQ(HidLink::ReadReport(h, reply.data(), 9, nullptr, 350), 1);
    auto start = Clock::now();
    EXPECT_EQ(HidLink::ReadReport(h, reply.data(), 9, nullptr, 2000), 0);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(HidLink::Open(0x0801, 0x0005), INVALID_HID_HANDLE);
    HidLink::Close(h);
}

TEST_F(HidrawFuse, BadDescriptorsAndUeventsGiveWhatCanBeKnown) {
    std::vector<uint8_t> truncated = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1,
                                      0x01, 0x75, 0x08, 0x96, 0x08};
    std::vector<uint8_t> huge = {0xA1, 0x01, 0x75, 0x08, 0x97, 0xFF,
                                 0xFF, 0x00, 0x00, 0x81, 0x02, 0xC0};
    Serve(
        {{0x0801, 0x0005}, {0x0801, 0x0005}, {0x0801, 0x0005}, {0x0801, 0x0005}, {0x0801, 0x0005}},
        [&] {
            server.SetReportDescriptor(0, truncated);
            server.SetReportDescriptor(1, huge);
            server.SetReportDescriptor(2, std::vector<uint8_t>{});
            server.SetUevent(3, "DRIVER=hid-generic\nHID_NAME=no ids here\n");
            server.SetUevent(4, std::string("HID_ID=\xff\xfe:0801:zz\n\0\0junk", 24));
        });
    auto list = zarn::DescribeHidInterfaces();
    ASSERT_EQ(list.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(list[i].openable) << i;
        EXPECT_TRUE(list[i].haveIds) << i;
        EXPECT_EQ(list[i].inputLength, 0) << i;
        EXPECT_EQ(list[i].outputLength, 0) << i;
    }
    EXPECT_FALSE(list[3].haveIds);
    EXPECT_FALSE(list[4].haveIds);
    EXPECT_EQ(list[3].inputLength, 9);

    // Nodes without ids cannot be matched; the three with bad descriptors still open,
    // and a transfer with length 0 fails cleanly.
    EXPECT_EQ(HidLink::OpenInstance(0x0801, 0x0005, 4), INVALID_HID_HANDLE);
    HidHandle h = HidLink::OpenInstance(0x0801, 0x0005, 2);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    uint16_t n = HidLink::InputReportLength(h);
    EXPECT_EQ(n, 0);
    uint8_t none[1];
    EXPECT_EQ(HidLink::ReadReport(h, none, n, nullptr, 10), 0);
    EXPECT_EQ(HidLink::WriteReport(h, none, n, nullptr, 10), 0);
    HidLink::Close(h);
}

TEST_F(HidrawFuse, ShortReportsNeverOverrunTheBuffer) {
    Serve({{0x0801, 0x0005}});
    server.WithReader(0, [](sim::Reader& r, uint32_t) { r.SetReportLengths(6, 6); });
    server.RefreshReportDescriptor(0);
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    ASSERT_EQ(HidLink::InputReportLength(h), 6);
    ASSERT_EQ(HidLink::OutputReportLength(h), 6);
    // A buffer shorter than the input report is refused before anything is taken.
    auto req = Request(protocol::CMD_GET_VERSION, 6);
    ASSERT_EQ(HidLink::WriteReport(h, req.data(), 6, nullptr, HID_NO_TIMEOUT), 1);
    uint8_t small[5];
    EXPECT_EQ(HidLink::ReadReport(h, small, 5, nullptr, 500), 0);
    EXPECT_EQ(HidLink::WriteReport(h, req.data(), 5, nullptr, 500), 0);
    // The report cut at 6 bytes lands in a guarded buffer and nothing beyond it.
    std::vector<uint8_t> guarded(16, 0xEE);
    ASSERT_EQ(HidLink::ReadReport(h, guarded.data(), 6, nullptr, 500), 1);
    EXPECT_EQ(std::vector<uint8_t>(guarded.begin(), guarded.begin() + 6),
              (std::vector<uint8_t>{0, 'V', '2', '.', '1', '0'}));
    for (size_t i = 6; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0xEE) << i;
    HidLink::Close(h);
}

TEST_F(HidrawFuse, NodeTheUserMayNotOpenIsSkippedAndExplained) {
    Serve({{0x0801, 0x0005}, {0x0801, 0x0005}}, [&] { server.RefuseOpens(0, EACCES); });
    server.WithReader(1, [](sim::Reader& r, uint32_t) { r.SetVersion("OPEN"); });
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    EXPECT_EQ(Version(h), "OPEN");
    HidLink::Close(h);
    auto list = zarn::DescribeHidInterfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(list[0].openable);
    EXPECT_TRUE(list[0].haveIds);
    EXPECT_EQ(list[0].vendorId, 0x0801);
    EXPECT_EQ(list[0].inputLength, 9);
    EXPECT_NE(list[0].whyNot.find("udev/70-zarn60.rules"), std::string::npos) << list[0].whyNot;
    EXPECT_TRUE(list[1].openable);
}

TEST_F(HidrawFuse, EnumerationFollowsNodeNumbers) {
    std::vector<std::pair<uint16_t, uint16_t>> ids(12, {0x0801, 0x0005});
    Serve(ids);
    auto list = zarn::DescribeHidInterfaces();
    ASSERT_EQ(list.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(list[i].path, server.NodePath(i));
}

// The node's own behaviour, as a program without the backend sees it.
TEST_F(HidrawFuse, NodeParksBlockingReadsAndWakesPollers) {
    Serve({{0x0801, 0x0005}});
    // A parked read keeps its file's position lock (the node is a regular file to the
    // kernel, not a stream), so requests go through a second handle.
    int fd = ::open(server.NodePath(0).c_str(), O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    int wfd = ::open(server.NodePath(0).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(wfd, 0) << std::strerror(errno);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);

    // A blocking read waits for the answer.
    std::vector<uint8_t> got(64);
    std::atomic<ssize_t> n{-2};
    std::thread reader([&] { n = ::read(fd, got.data(), got.size()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(n.load(), -2);
    auto req = Request(protocol::CMD_GET_VERSION);
    ASSERT_EQ(::write(wfd, req.data(), req.size()), 9);
    reader.join();
    EXPECT_EQ(n.load(), 8);  // no id byte from an unnumbered device
    EXPECT_EQ(got[0], 'V');

    // poll() wakes when the next answer is due.
    ASSERT_EQ(::write(wfd, req.data(), req.size()), 9);
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLIN);
    ASSERT_EQ(::read(fd, got.data(), 3), 3);  // cut at the read size; the rest is lost
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 20), 0);

    // A signal ends a parked read with EINTR.
    struct sigaction sa {
    }, old{};
    sa.sa_handler = [](int) {};
    sigaction(SIGUSR2, &sa, &old);  // no SA_RESTART
    std::atomic<int> err{0};
    std::atomic<bool> started{false};
    std::thread parked([&] {
        started = true;
        ssize_t r = ::read(fd, got.data(), got.size());
        err = r < 0 ? errno : 0;
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pthread_kill(parked.native_handle(), SIGUSR2);
    parked.join();
    sigaction(SIGUSR2, &old, nullptr);
    EXPECT_EQ(err.load(), EINTR);
    EXPECT_EQ(server.GetCounters().interrupted, 1u);

    // Unplugged: pollers see the error, reads fail.
    server.Unplug(0);
    p.events = POLLIN | POLLOUT;
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLERR | POLLHUP));
    EXPECT_EQ(::read(fd, got.data(), got.size()), -1);
    EXPECT_EQ(errno, EIO);
    ::close(wfd);
    ::close(fd);
}

TEST_F(HidrawFuse, StopRemovesWhatTheServerMade) {
    Serve({{0x0801, 0x0005}});
    std::string sys = server.SysfsRoot(), dev = server.DevRoot();
    int fd = ::open(server.NodePath(0).c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::stat((sys + "/class/hidraw/hidraw0/device/uevent").c_str(), &st), 0);
    server.Stop();
    // A handle left open fails instead of hanging, and nothing is left behind.
    uint8_t b[9];
    EXPECT_LT(::read(fd, b, sizeof b), 0);
    ::close(fd);
    EXPECT_FALSE(std::filesystem::exists(sys));
    EXPECT_FALSE(std::filesystem::exists(dev));
}

#endif  // ZARN60_HAVE_FUSE
