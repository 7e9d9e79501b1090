// The named fields: every 56-byte image survives .cfg -> JSON -> .cfg, documents that name
// something wrongly are refused with the field's name, and byte texts escape both ways.
#include "cli/fields.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "cli/commands.h"
#include "protocol/factory_images.h"

namespace {

protocol::ConfigReadImage ThroughJson(const protocol::ConfigReadImage& image) {
    cli::Settings in;
    in.image = image;
    // Through the text form, as a file holds it.
    const auto text = cli::JsonText(cli::ToJson(in));
    cli::Settings out;
    std::string why;
    EXPECT_TRUE(cli::MergeJson(nlohmann::json::parse(text), &out, &why)) << why;
    return out.image;
}

TEST(CliFields, EveryImageSurvivesJsonByteForByte) {
    std::vector<protocol::ConfigReadImage> images;
    protocol::ConfigReadImage img{};
    images.push_back(img);
    img.fill(0xFF);
    images.push_back(img);
    img.fill('<');
    images.push_back(img);
    // A NUL inside the prefix, bytes after it, and no NUL at all in the suffix.
    img.fill(0);
    img[protocol::rimg::PREFIX] = 'A';
    img[protocol::rimg::PREFIX + 2] = 'B';
    for (size_t i = 0; i < protocol::CONFIG_TEXT_FIELD_SIZE; ++i)
        img[protocol::rimg::SUFFIX + i] = uint8_t(0x80 + i);
    images.push_back(img);
    std::mt19937 rng(20261209);
    for (int n = 0; n < 3000; ++n) {
        for (auto& b : img) b = static_cast<uint8_t>(rng());
        images.push_back(img);
    }
    for (const auto& image : images) ASSERT_EQ(ThroughJson(image), image);
}

TEST(CliFields, RefusesUnknownNamesAndOutOfRangeValuesByName) {
    const struct {
        const char* doc;
        const char* error;
    } cases[] = {
        {R"({"colour": 1})", "colour: unknown field"},
        {R"({"usb_speed": 8})", "usb_speed: "},
        {R"({"track1_start": 256})", "track1_start: "},
        {R"({"track2_length": -1})", "track2_length: "},
        {R"({"track3_keep_spaces": 1.5})", "track3_keep_spaces: "},
        {R"({"track1_start_sentinel": "ab"})", "track1_start_sentinel: "},
        {R"({"track1_end_sentinel": 63})", "track1_end_sentinel: "},
        {R"({"prefix": "0123456789ABCDEF"})", "prefix: holds at most 15 bytes"},
        {R"({"suffix": "<FOO>"})", "suffix: unknown byte name"},
        {R"({"suffix": "a<b"})", "suffix: '<' opens"},
        {R"({"prefix": "\u00e9"})", "prefix: a byte outside printable ASCII"},
        {R"({"packet_terminator": "lf"})", "packet_terminator: "},
        {R"({"beep": 1})", "beep: must be true or false"},
        {R"({"option_bits_unnamed": 1})", "option_bits_unnamed: "},
        {R"({"read_bytes_13_16": [1, 2]})", "read_bytes_13_16: "},
        {R"({"usb_hid_mode": "on"})", "usb_hid_mode: "},
        {R"([1, 2])", "the document must be a JSON object"},
    };
    for (const auto& c : cases) {
        cli::Settings s;
        s.image.fill(0x11);
        const cli::Settings before = s;
        std::string why;
        EXPECT_FALSE(cli::MergeJson(nlohmann::json::parse(c.doc), &s, &why)) << c.doc;
        EXPECT_EQ(why.rfind(c.error, 0), 0u) << c.doc << " gave: " << why;
        EXPECT_EQ(s, before) << c.doc << ": a refused document changed the settings";
    }
}

TEST(CliFields, PartialDocumentsKeepTheOtherFields) {
    cli::Settings s = cli::FactorySettings();
    const cli::Settings before = s;
    std::string why;
    ASSERT_TRUE(
        cli::MergeJson(nlohmann::json::parse(R"({"$schema": "x", "beep": false, "track3_trim": true,
                                  "prefix": "<STX>A<<", "track2_terminator": 1})"),
                       &s, &why))
        << why;
    const auto changes = cli::Diff(before, s);
    std::vector<std::string> names;
    for (const auto& c : changes) names.push_back(c.field);
    EXPECT_EQ(names,
              (std::vector<std::string>{"track2_terminator", "prefix", "beep", "track3_trim"}));
    EXPECT_EQ(s.image[protocol::rimg::OPTION_FLAGS],
              protocol::OPT_BEEP_OFF | protocol::OPT_TRACK3_TRIM);
    EXPECT_EQ(s.image[protocol::rimg::PREFIX], protocol::STX);
    EXPECT_EQ(s.image[protocol::rimg::PREFIX + 2], '<');
    EXPECT_EQ(s.image[protocol::rimg::TRACK_TERMINATOR + 1], protocol::TERM_CR);
}

TEST(CliFields, ByteTextsEscapeBothWays) {
    const struct {
        std::string bytes, text;
    } cases[] = {
        {"AB", "AB"},
        {std::string("\x02"
                     "A\x03",
                     3),
         "<STX>A<ETX>"},
        {std::string("\0\r\n\x1b\x7f", 5), "<NUL><CR><LF><ESC><DEL>"},
        {"<>", "<<>"},
        {"\xe9\x80", "<xE9><x80>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cli::EscapeBytes(c.bytes), c.text);
        std::string back, why;
        ASSERT_TRUE(cli::UnescapeBytes(c.text, &back, &why)) << why;
        EXPECT_EQ(back, c.bytes);
    }
    std::string back, why;
    ASSERT_TRUE(cli::UnescapeBytes("<stx><xff>", &back, &why)) << why;
    EXPECT_EQ(back, "\x02\xff");
}

// The window starts with the speed at 6 over USB and 7 in serial port mode, and its USB HID
// mode box unchecked; a read image sent without naming them gets the same bytes.
TEST(CliFields, WriteImageTakesTheWindowsSpeedAndModeUnlessNamed) {
    const cli::Settings factory = cli::FactorySettings();
    EXPECT_EQ(cli::WriteImageFor(factory, true), protocol::FactoryWriteImageHid());
    protocol::ConfigWriteImage serial = cli::WriteImageFor(factory, false);
    EXPECT_EQ(serial[protocol::wimg::USB_SPEED], 7);
    EXPECT_EQ(serial[protocol::wimg::USB_HID_MODE_OFF], 1);
    EXPECT_EQ(serial[protocol::wimg::HEADER_CHECKSUM],
              protocol::ConfigHeaderChecksum(serial.data()));

    cli::Settings named = factory;
    named.usbSpeed = 2;
    named.usbHidMode = true;
    const protocol::ConfigWriteImage w = cli::WriteImageFor(named, false);
    EXPECT_EQ(w[protocol::wimg::USB_SPEED], 2);
    EXPECT_EQ(w[protocol::wimg::USB_HID_MODE_OFF], 0);
}

// Saving replaces a file whole or not at all.
TEST(CliFields, SavingReplacesAFileWholeOrLeavesIt) {
    char tmpl[] = "/tmp/zarn60-cli-save-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const cli::Settings s = cli::FactorySettings();
    for (const char* name : {"/a.json", "/a.cfg"}) {
        const std::string path = dir + name;
        std::ofstream(path) << "an older and much longer text than the new one might be..........";
        cli::SaveSettings(path, s);
        const cli::Document back = cli::LoadDocument(path);
        EXPECT_EQ(cli::Resolve(back, {}).image, s.image) << name;
    }
    for (const char* bad : {"/no-such-dir/a.json", "/no-such-dir/a.cfg"}) {
        try {
            cli::SaveSettings(dir + bad, s);
            ADD_FAILURE() << bad << " was saved";
        } catch (const cli::Error& e) {
            EXPECT_EQ(e.Code(), cli::EXIT_FILE) << e.what();
        }
    }
    std::filesystem::remove_all(dir);
}

// Text from outside reaches a terminal without a byte that could drive it; readable text,
// UTF-8 included, stays as it is.
TEST(CliFields, PrintableTextKeepsTextAndNamesEveryControl) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"till-01.json", "till-01.json"},
        {"Einstellungen \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         "Einstellungen \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\x1B[2J\x1B]0;title\x07", "<ESC>[2J<ESC>]0;title<BEL>"},
        {"a\tb\r\n", "a<HT>b<CR><LF>"},
        {"\x7F", "<DEL>"},
        {"\xC2\x9B"
         "2J",
         "<xC2><x9B>2J"},                     // C1 CSI as UTF-8
        {"\xFF\xFE", "<xFF><xFE>"},           // never UTF-8
        {"\xC0\xAF", "<xC0><xAF>"},           // overlong '/'
        {"\xED\xA0\x80", "<xED><xA0><x80>"},  // a surrogate
        {"\xE2\x82", "<xE2><x82>"},           // cut short
        {"<x41>", "<x41>"},                   // '<' is not doubled in messages
    };
    for (const auto& c : cases) EXPECT_EQ(cli::PrintableText(c.in), c.out) << c.in;
}

}  // namespace
