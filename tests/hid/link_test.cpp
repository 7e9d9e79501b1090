// HidLink's own rules over a scripted backend: which interface an open picks, what it
// closes again, and when the counts are stored.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/hid_link.h"
#include "protocol/reader_hid.h"

namespace {

struct FakeInterface {
    std::string path;
    bool openable = true;
    bool haveIds = true;
    uint16_t vendorId = 0x0801, productId = 0x0005;
    bool lengthsReadable = true;
    uint16_t input = 9, output = 9;
    int result = 1;         // what a transfer returns
    bool atOnce = true;     // whether it completed without waiting
    int heldElsewhere = 0;  // hold attempts that find another program holding it
    zarn::OpenError refusal = zarn::OpenError::NoPermission;  // why it cannot be opened
};

class FakeBackend;

class FakeDevice final : public zarn::HidDevice {
public:
    FakeDevice(FakeBackend* owner, const FakeInterface& itf);
    ~FakeDevice() override;
    bool GetAttributes(uint16_t* v, uint16_t* p) override {
        if (!m_itf.haveIds) return false;
        *v = m_itf.vendorId;
        *p = m_itf.productId;
        return true;
    }
    bool GetReportLengths(uint16_t* in, uint16_t* out) override {
        if (!m_itf.lengthsReadable) return false;
        *in = m_itf.input;
        *out = m_itf.output;
        return true;
    }
    int Write(const uint8_t*, uint32_t, uint32_t, bool* atOnce) override {
        *atOnce = m_itf.atOnce;
        return m_itf.result;
    }
    int Read(uint8_t* buffer, uint32_t length, uint32_t, bool* atOnce) override {
        *atOnce = m_itf.atOnce;
        if (m_itf.result == 1 && length > 0) buffer[0] = 0;
        return m_itf.result;
    }
    bool TryHold() override {
        ++holdAttempts;
        return m_itf.heldElsewhere-- <= 0;
    }
    const std::string& Path() const { return m_itf.path; }
    int holdAttempts = 0;

private:
    FakeBackend* m_owner;
    FakeInterface m_itf;
};

class FakeBackend final : public zarn::HidBackend {
public:
    std::vector<FakeInterface> interfaces;
    int enumerations = 0;
    std::vector<std::string> opened;
    int live = 0;

    std::vector<std::string> EnumerateInterfaces() override {
        ++enumerations;
        std::vector<std::string> paths;
        for (const auto& i : interfaces) paths.push_back(i.path);
        return paths;
    }
    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string& path,
                                                   std::string* why) override {
        opened.push_back(path);
        for (const auto& i : interfaces) {
            if (i.path != path) continue;
            if (!i.openable) {
                if (why) *why = "Permission denied";
                return nullptr;
            }
            return std::make_unique<FakeDevice>(this, i);
        }
        return nullptr;
    }
    std::unique_ptr<zarn::HidDevice> OpenDevice(const std::string& path,
                                                zarn::OpenFailure* why) override {
        std::string text;
        std::unique_ptr<zarn::HidDevice> device = OpenInterface(path, &text);
        if (!device) {
            for (const auto& i : interfaces)
                if (i.path == path) *why = {i.refusal, text};
        }
        return device;
    }
    bool PeekInterface(const std::string& path, zarn::HidInterfaceInfo* info) override {
        for (const auto& i : interfaces) {
            if (i.path != path || !i.haveIds) continue;
            info->haveIds = true;
            info->vendorId = i.vendorId;
            info->productId = i.productId;
            return true;
        }
        return false;
    }
};

FakeDevice::FakeDevice(FakeBackend* owner, const FakeInterface& itf) : m_owner(owner), m_itf(itf) {
    ++m_owner->live;
}
FakeDevice::~FakeDevice() {
    --m_owner->live;
}

class HidLinkRules : public ::testing::Test {
protected:
    void SetUp() override { zarn::SetHidBackend(&backend); }
    void TearDown() override { zarn::SetHidBackend(nullptr); }

    static std::string PathOf(HidHandle h) { return static_cast<FakeDevice*>(h)->Path(); }

    FakeInterface Itf(const std::string& path, uint16_t vid, uint16_t pid = 0x0005) {
        FakeInterface i;
        i.path = path;
        i.vendorId = vid;
        i.productId = pid;
        return i;
    }

    FakeBackend backend;
};

}  // namespace

TEST_F(HidLinkRules, InstancesCountMatchesInEnumerationOrderAndCloseTheRest) {
    backend.interfaces = {Itf("a", 0x1234, 0x0001), Itf("b", 0x0801), Itf("c", 0x0802),
                          Itf("d", 0x0801, 0x0006), Itf("e", 0x0801)};
    HidHandle first = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(first, INVALID_HID_HANDLE);
    EXPECT_EQ(PathOf(first), "b");
    EXPECT_EQ(backend.live, 1);  // "a" was opened, checked and closed again

    HidHandle second = HidLink::OpenInstance(0x0801, 0x0005, 2);
    ASSERT_NE(second, INVALID_HID_HANDLE);
    EXPECT_EQ(PathOf(second), "e");
    EXPECT_EQ(backend.live, 2);

    backend.opened.clear();
    EXPECT_EQ(HidLink::OpenInstance(0x0801, 0x0005, 3), INVALID_HID_HANDLE);
    EXPECT_EQ(backend.opened.size(), 5u);  // every interface was looked at
    EXPECT_EQ(backend.live, 2);

    HidLink::Close(first);
    HidLink::Close(second);
    EXPECT_EQ(backend.live, 0);
}

TEST_F(HidLinkRules, InstanceZeroIsRefusedWithoutEnumerating) {
    backend.interfaces = {Itf("a", 0x0801)};
    errno = 0;
    EXPECT_EQ(HidLink::OpenInstance(0x0801, 0x0005, 0), INVALID_HID_HANDLE);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(backend.enumerations, 0);
}

TEST_F(HidLinkRules, UnopenableAndIdlessInterfacesAreSkipped) {
    FakeInterface locked = Itf("locked", 0x0801);
    locked.openable = false;
    FakeInterface idless = Itf("idless", 0x0801);
    idless.haveIds = false;
    backend.interfaces = {locked, idless, Itf("ok", 0x0801)};
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    ASSERT_NE(h, INVALID_HID_HANDLE);
    EXPECT_EQ(PathOf(h), "ok");
    EXPECT_EQ(backend.live, 1);
    HidLink::Close(h);

    // Only an 0802 reader present: the caller's first try fails, the second finds it.
    backend.interfaces = {Itf("x", 0x0802)};
    EXPECT_EQ(HidLink::Open(0x0801, 0x0005), INVALID_HID_HANDLE);
    h = HidLink::Open(0x0802, 0x0005);
    EXPECT_NE(h, INVALID_HID_HANDLE);
    HidLink::Close(h);
    EXPECT_EQ(backend.live, 0);
}

TEST_F(HidLinkRules, ReportLengthsAreZeroWhenUnreadable) {
    FakeInterface itf = Itf("a", 0x0801);
    itf.input = 65;
    itf.output = 9;
    backend.interfaces = {itf};
    HidHandle h = HidLink::Open(0x0801, 0x0005);
    EXPECT_EQ(HidLink::InputReportLength(h), 65);
    EXPECT_EQ(HidLink::OutputReportLength(h), 9);
    HidLink::Close(h);

    backend.interfaces[0].lengthsReadable = false;
    h = HidLink::Open(0x0801, 0x0005);
    EXPECT_EQ(HidLink::InputReportLength(h), 0);
    EXPECT_EQ(HidLink::OutputReportLength(h), 0);
    HidLink::Close(h);
    EXPECT_EQ(HidLink::InputReportLength(INVALID_HID_HANDLE), 0);
}

TEST_F(HidLinkRules, CountsAreStoredOnlyForTransfersThatCompletedAtOnce) {
    backend.interfaces = {Itf("now", 0x0801), Itf("later", 0x0802), Itf("fails", 0x1234)};
    backend.interfaces[1].atOnce = false;
    backend.interfaces[2].result = 0;
    uint8_t report[9] = {0, 'V'};

    HidHandle now = HidLink::Open(0x0801, 0x0005);
    uint32_t count = 0xDEAD;
    EXPECT_EQ(HidLink::WriteReport(now, report, 9, &count, 100), 1);
    EXPECT_EQ(count, 9u);
    count = 0xDEAD;
    EXPECT_EQ(HidLink::ReadReport(now, report, 9, &count, 100), 1);
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(HidLink::WriteReport(now, report, 9, nullptr, 100), 1);  // no count wanted

    HidHandle later = HidLink::Open(0x0802, 0x0005);
    count = 0xDEAD;
    EXPECT_EQ(HidLink::WriteReport(later, report, 9, &count, 100), 1);
    EXPECT_EQ(HidLink::ReadReport(later, report, 9, &count, 100), 1);
    EXPECT_EQ(count, 0xDEADu);

    HidHandle fails = HidLink::Open(0x1234, 0x0005);
    EXPECT_EQ(HidLink::WriteReport(fails, report, 9, &count, 100), 0);
    EXPECT_EQ(HidLink::ReadReport(fails, report, 9, &count, 100), 0);
    EXPECT_EQ(count, 0xDEADu);

    EXPECT_EQ(HidLink::WriteReport(INVALID_HID_HANDLE, report, 9, &count, 100), 0);
    EXPECT_EQ(HidLink::ReadReport(now, nullptr, 9, &count, 100), 0);
    HidLink::Close(now);
    HidLink::Close(later);
    HidLink::Close(fails);
    HidLink::Close(INVALID_HID_HANDLE);
}

TEST_F(HidLinkRules, ListingShowsWhyAnInterfaceCouldNotBeOpened) {
    FakeInterface locked = Itf("locked", 0x0802);
    locked.openable = false;
    FakeInterface plain = Itf("plain", 0x0801);
    plain.input = 65;
    backend.interfaces = {plain, locked};
    auto list = zarn::DescribeHidInterfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, "plain");
    EXPECT_TRUE(list[0].openable);
    EXPECT_TRUE(list[0].haveIds);
    EXPECT_EQ(list[0].inputLength, 65);
    EXPECT_EQ(list[0].outputLength, 9);
    EXPECT_EQ(list[1].path, "locked");
    EXPECT_FALSE(list[1].openable);
    EXPECT_EQ(list[1].whyNot, "Permission denied");
    EXPECT_TRUE(list[1].haveIds);  // from what the backend can tell without opening
    EXPECT_EQ(list[1].vendorId, 0x0802);
    EXPECT_EQ(backend.live, 0);
}

// A reader another program's exchange holds: the open waits on the program's clock, a
// little, and then fails as if no reader were there, closing what it opened.
TEST_F(HidLinkRules, AReaderHeldElsewhereIsWaitedForBrieflyThenRefused) {
    struct Case {
        int heldFor;  // hold attempts that fail
        bool opens;
        uint32_t waitedMs;
    } cases[] = {
        {0, true, 0},
        {3, true, 3 * HID_HOLD_POLL_MS},
        {static_cast<int>(HID_HOLD_WAIT_MS / HID_HOLD_POLL_MS) - 1, true,
         HID_HOLD_WAIT_MS - HID_HOLD_POLL_MS},
        {INT_MAX, false, HID_HOLD_WAIT_MS},
    };
    zarn::VirtualClock clock(0u - 500u);  // the wait survives the tick counter wrapping
    zarn::ScopedClock useClock(clock);
    for (const Case& c : cases) {
        SCOPED_TRACE("held for " + std::to_string(c.heldFor) + " attempts");
        FakeInterface reader = Itf("r", 0x0801);
        reader.heldElsewhere = c.heldFor;
        backend.interfaces = {Itf("other", 0x1234), reader};
        const uint32_t start = clock.NowMs();
        HidHandle h = HidLink::Open(0x0801, 0x0005);
        EXPECT_EQ(h != INVALID_HID_HANDLE, c.opens);
        EXPECT_EQ(clock.NowMs() - start, c.waitedMs);
        HidLink::Close(h);
        EXPECT_EQ(backend.live, 0);
    }
}

// A failed open keeps its reason: the caller learns "in use" or "no permission" from the
// open itself, not from looking at the devices again. The reader's session keeps the
// reason of whichever vendor id had a reader.
TEST_F(HidLinkRules, AFailedOpenKeepsWhyItFailed) {
    using E = zarn::OpenError;
    zarn::VirtualClock clock(0);
    zarn::ScopedClock useClock(clock);
    auto unopenable = [&](const std::string& path, uint16_t vid, E why) {
        FakeInterface i = Itf(path, vid);
        i.openable = false;
        i.refusal = why;
        return i;
    };
    auto held = [&](const std::string& path, uint16_t vid) {
        FakeInterface i = Itf(path, vid);
        i.heldElsewhere = INT_MAX;
        return i;
    };
    struct Case {
        const char* name;
        std::vector<FakeInterface> interfaces;
        E link;     // HidLink::Open(0x0801, 0x0005)
        E session;  // ReaderHidSession: 0801, then 0802
    } cases[] = {
        {"nothing there", {}, E::NoDevice, E::NoDevice},
        {"only other devices", {Itf("kbd", 0x1234)}, E::NoDevice, E::NoDevice},
        {"another device refused",
         {unopenable("kbd", 0x1234, E::NoPermission)},
         E::NoDevice,
         E::NoDevice},
        {"reader refused",
         {unopenable("r", 0x0801, E::NoPermission)},
         E::NoPermission,
         E::NoPermission},
        {"reader held elsewhere", {held("r", 0x0801)}, E::InUse, E::InUse},
        {"second vendor id refused",
         {unopenable("r2", 0x0802, E::NoPermission)},
         E::NoDevice,
         E::NoPermission},
        {"second vendor id held", {held("r2", 0x0802)}, E::NoDevice, E::InUse},
        {"reader there", {Itf("r", 0x0801)}, E::None, E::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        backend.interfaces = c.interfaces;
        HidHandle h = HidLink::Open(0x0801, 0x0005);
        EXPECT_EQ(HidLink::LastOpenError().error, c.link);
        HidLink::Close(h);
        {
            protocol::ReaderHidSession session;
            EXPECT_EQ(session.IsOpen(), c.session == E::None);
        }
        EXPECT_EQ(protocol::ReaderHidSession::LastOpenFailure().error, c.session);
        EXPECT_EQ(backend.live, 0);
    }
}
