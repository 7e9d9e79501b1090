// The hidraw backend's pure parts: report descriptors and uevent files.
#include <gtest/gtest.h>

#include <vector>

#include "link/linux/hidraw.h"
#ifdef ZARN60_HAVE_FUSE
#include "sim/fuse/hid_node_server.h"
#endif

using zarn::hidraw::ParseReportDescriptor;
using zarn::hidraw::ParseUeventHidId;
using zarn::hidraw::ReportDescriptorInfo;

namespace {

bool Parse(const std::vector<uint8_t>& d, ReportDescriptorInfo* info) {
    return ParseReportDescriptor(d.data(), d.size(), info);
}

// Report Size 8, Report Count n (two-byte item), Input or Output.
void Field(std::vector<uint8_t>* d, uint16_t count, uint8_t main) {
    d->insert(d->end(), {0x75, 0x08, 0x96, static_cast<uint8_t>(count & 0xFF),
                         static_cast<uint8_t>(count >> 8), main, 0x02});
}

const uint8_t INPUT = 0x81, OUTPUT = 0x91, FEATURE = 0xB1;

// A vendor-defined application collection with one input and one output report.
std::vector<uint8_t> ReaderShaped(uint16_t inBytes, uint16_t outBytes) {
    std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00};
    Field(&d, inBytes, INPUT);
    Field(&d, outBytes, OUTPUT);
    d.push_back(0xC0);
    return d;
}

}  // namespace

TEST(ReportDescriptor, PlainReportsGetTheIdByteAdded) {
    ReportDescriptorInfo info;
    ASSERT_TRUE(Parse(ReaderShaped(8, 8), &info));
    EXPECT_EQ(info.inputLength, 9);
    EXPECT_EQ(info.outputLength, 9);
    EXPECT_FALSE(info.numbered);
    // A report with no data bits is still a report: the id byte alone.
    ASSERT_TRUE(Parse(ReaderShaped(0, 64), &info));
    EXPECT_EQ(info.inputLength, 1);
    EXPECT_EQ(info.outputLength, 65);
}

#ifdef ZARN60_HAVE_FUSE
// The test nodes' descriptors must say what the simulated reader's lengths are.
TEST(ReportDescriptor, ReaderShapedDescriptorsGiveLengthsWithTheIdByte) {
    struct Case {
        uint16_t in, out;
    } cases[] = {{9, 9}, {65, 9}, {9, 65}, {8, 8}, {2, 1}, {9, 0}, {0, 9}};
    for (const Case& c : cases) {
        ReportDescriptorInfo info;
        ASSERT_TRUE(Parse(sim::MakeReportDescriptor(c.in, c.out), &info)) << c.in << "/" << c.out;
        EXPECT_EQ(info.inputLength, c.in);
        EXPECT_EQ(info.outputLength, c.out);
        EXPECT_FALSE(info.numbered);
    }
}
#endif

TEST(ReportDescriptor, NumberedReportsTakeTheLargestOfEachKind) {
    std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
    d.insert(d.end(), {0x85, 0x01});  // Report ID 1: 4 in, 2 out
    Field(&d, 4, INPUT);
    Field(&d, 2, OUTPUT);
    d.insert(d.end(), {0x85, 0x02});  // Report ID 2: 20 in, 7 out, 100 feature
    Field(&d, 20, INPUT);
    Field(&d, 7, OUTPUT);
    Field(&d, 100, FEATURE);
    d.insert(d.end(), {0x85, 0x03});  // Report ID 3: two input fields, 12 + 12
    Field(&d, 12, INPUT);
    Field(&d, 12, INPUT);
    d.push_back(0xC0);
    ReportDescriptorInfo info;
    ASSERT_TRUE(Parse(d, &info));
    EXPECT_TRUE(info.numbered);
    EXPECT_EQ(info.inputLength, 25);  // report 3: 24 bytes + id
    EXPECT_EQ(info.outputLength, 8);  // report 2: 7 bytes + id; features do not count
}

TEST(ReportDescriptor, BitFieldsRoundUpAndPushPopRestoresGlobals) {
    std::vector<uint8_t> d = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01};
    d.insert(d.end(), {0x75, 0x01, 0x95, 0x05, 0x81, 0x02});  // 5 bits
    d.insert(d.end(), {0xA4});                                // Push (size 1, count 5)
    d.insert(d.end(), {0x75, 0x08, 0x95, 0x06, 0x81, 0x00});  // 48 bits
    d.insert(d.end(), {0xB4});                                // Pop
    d.insert(d.end(), {0x91, 0x02});                          // output: 5 bits again
    d.insert(d.end(), {0xFE, 0x02, 0x10, 0xAA, 0xBB});        // a long item is skipped
    d.push_back(0xC0);
    ReportDescriptorInfo info;
    ASSERT_TRUE(Parse(d, &info));
    EXPECT_EQ(info.inputLength, 8);   // 53 bits -> 7 bytes + id
    EXPECT_EQ(info.outputLength, 2);  // 5 bits -> 1 byte + id
}

TEST(ReportDescriptor, EmptyDescriptorHasNoReports) {
    ReportDescriptorInfo info;
    EXPECT_TRUE(ParseReportDescriptor(nullptr, 0, &info));
    EXPECT_EQ(info.inputLength, 0);
    EXPECT_EQ(info.outputLength, 0);
}

TEST(ReportDescriptor, MalformedDescriptorsAreRefusedWithZeroLengths) {
    const std::vector<uint8_t> good = ReaderShaped(8, 8);
    std::vector<std::vector<uint8_t>> bad;
    // Every cut after the collection opens leaves an item or the collection unfinished.
    for (size_t cut = 6; cut < good.size(); ++cut) {
        std::vector<uint8_t> t(good.begin(), good.begin() + static_cast<long>(cut));
        ReportDescriptorInfo info;
        info.inputLength = 77;
        EXPECT_FALSE(Parse(t, &info)) << "cut at " << cut;
        EXPECT_EQ(info.inputLength, 0);
        EXPECT_EQ(info.outputLength, 0);
    }
    bad.push_back({0xC0});                          // end without collection
    bad.push_back({0xB4});                          // pop without push
    bad.push_back({0xA4, 0xA4, 0xA4, 0xA4, 0xA4});  // push past the stack
    bad.push_back({0x85, 0x00});                    // report id 0
    bad.push_back({0x75, 0x08, 0x96});              // item data missing
    bad.push_back({0xFE, 0x10, 0x01, 0x00});        // long item past the end
    bad.push_back({0x0C});                          // reserved item type
    bad.push_back({0x77, 0x00, 0x00, 0x00, 0x01});  // report size 2^24 bits
    bad.push_back({0x97, 0xFF, 0xFF, 0xFF, 0xFF});  // report count 2^32-1
    // Claims past the kernel's report buffer: 8 bits x 12288, twice.
    std::vector<uint8_t> huge;
    Field(&huge, 12288, INPUT);
    Field(&huge, 12288, INPUT);
    bad.push_back(huge);
    for (const auto& d : bad) {
        ReportDescriptorInfo info;
        EXPECT_FALSE(Parse(d, &info)) << ::testing::PrintToString(d);
        EXPECT_EQ(info.inputLength, 0);
        EXPECT_EQ(info.outputLength, 0);
    }
}

TEST(ReportDescriptor, LargestReportTheKernelTakesStillFits) {
    std::vector<uint8_t> d;
    Field(&d, 12288, INPUT);
    Field(&d, 4095, INPUT);  // 16383 bytes + id = the kernel's 16384
    ReportDescriptorInfo info;
    ASSERT_TRUE(Parse(d, &info));
    EXPECT_EQ(info.inputLength, 16384);
    Field(&d, 1, INPUT);
    EXPECT_FALSE(Parse(d, &info));
}

TEST(ReportDescriptor, OversizedFileIsRefusedWithoutReadingIt) {
    std::vector<uint8_t> d(zarn::hidraw::MAX_DESCRIPTOR_BYTES + 1, 0x00);
    ReportDescriptorInfo info;
    EXPECT_FALSE(Parse(d, &info));
}

TEST(Uevent, FindsTheIdsAmongOtherLines) {
    uint16_t v = 0, p = 0;
    EXPECT_TRUE(
        ParseUeventHidId("DRIVER=hid-generic\nHID_ID=0003:00000801:00000005\n"
                         "HID_NAME=x\n",
                         &v, &p));
    EXPECT_EQ(v, 0x0801);
    EXPECT_EQ(p, 0x0005);
    EXPECT_TRUE(ParseUeventHidId("HID_ID=0005:0000ABcd:0000ef01", &v, &p));  // no newline
    EXPECT_EQ(v, 0xABCD);
    EXPECT_EQ(p, 0xEF01);
    // A junk HID_ID line does not hide a good one after it.
    EXPECT_TRUE(ParseUeventHidId("HID_ID=zz\nHID_ID=0003:00000802:00000005\n", &v, &p));
    EXPECT_EQ(v, 0x0802);
}

TEST(Uevent, JunkOrMissingIdsGiveNothing) {
    const char* junk[] = {
        "",
        "DRIVER=hid-generic\nHID_NAME=x\n",
        "HID_ID=\n",
        "HID_ID=0003:00000801\n",
        "HID_ID=0003:00010801:00000005\n",   // vendor past 16 bits
        "HID_ID=0003:00000801:000000005\n",  // nine digits
        "HID_ID=0003:0000080g:00000005\n",
        "HID_ID=0003:00000801:00000005junk\n",
        " HID_ID=0003:00000801:00000005\n",
        "hid_id=0003:00000801:00000005\n",
        "HID_ID=0003::00000005\n",
    };
    for (const char* text : junk) {
        uint16_t v = 0x1111, p = 0x2222;
        EXPECT_FALSE(ParseUeventHidId(text, &v, &p)) << text;
        EXPECT_EQ(v, 0x1111);
        EXPECT_EQ(p, 0x2222);
    }
    std::string withNul("HID_ID=0003:00000801:00000005", 29);
    withNul.insert(12, 1, '\0');
    uint16_t v, p;
    EXPECT_FALSE(ParseUeventHidId(withNul, &v, &p));
}
