// A read image from a reader or a file, through the dialog and back out as a write image:
// ParseConfigReadImage -> ShowReaderConfig -> CollectReaderConfig -> MakeConfigWriteImage.
//
// Input: one 56-byte image, optionally followed by a second one that is shown over what
// the first left in the dialog (shorter tails are padded with zeros). For the last image
// shown, every field the dialog can represent must come back unchanged, a message box must
// appear exactly when a shown text is longer than its edit's limit, showing an image twice
// must change nothing, and what comes back must be a fixed point of the same round trip.
#include <algorithm>
#include <cstring>
#include <variant>

#include "app/operations/config_dialog.h"
#include "fuzz/fuzz_support.h"
#include "protocol/reader_config.h"
#include "sim/reader.h"

namespace {

constexpr int BOUND_EDITS[] = {IDC_TRACK1_SS,  IDC_TRACK2_SS,    IDC_TRACK3_SS,  IDC_TRACK1_ES,
                               IDC_TRACK2_ES,  IDC_TRACK3_ES,    IDC_PREFIX,     IDC_SUFFIX,
                               IDC_TRIM_COUNT, IDC_HIDDEN_VALUE, IDC_TRACK1_END, IDC_TRACK2_END,
                               IDC_TRACK3_END};

bool SomeTextOverLimit(const CZARN60TOOLDlg& dlg) {
    for (int id : BOUND_EDITS) {
        const ui::Control& c = dlg.GetControl(id);
        if (c.limit > 0 && c.text.size() > static_cast<size_t>(c.limit)) return true;
    }
    return false;
}

// The bytes of a prefix or suffix field a user sees: up to the first NUL, framing left out.
std::string UserText(const std::array<uint8_t, protocol::CONFIG_TEXT_FIELD_SIZE>& field,
                     uint8_t framing) {
    std::string text;
    for (uint8_t b : field) {
        if (b == 0) break;
        if (b != framing) text.push_back(static_cast<char>(b));
    }
    return text;
}

std::string Hex(const uint8_t* p, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

// The write image carries the record field by field, with a correct header checksum, and
// the simulated reader reads the same record out of it.
void CheckWriteImage(const protocol::ReaderConfig& cfg) {
    const protocol::ConfigWriteImage image = protocol::MakeConfigWriteImage(cfg);
    FUZZ_CHECK(image[0] == protocol::CMD_ESC && image[1] == protocol::CMD_SET_CONFIG_2,
               "command bytes");
    FUZZ_CHECK(
        image[protocol::wimg::HEADER_CHECKSUM] == protocol::ConfigHeaderChecksum(image.data()),
        "checksum");
    for (size_t i = 18; i < 24; ++i) FUZZ_CHECK(image[i] == 0, "reserved byte %zu", i);
    FUZZ_CHECK(image[62] == 0 && image[63] == 0, "reserved tail");
    FUZZ_CHECK(protocol::ParseConfigWriteImage(image) == cfg, "write image %s",
               Hex(image.data(), image.size()).c_str());
    protocol::ReaderConfig back = protocol::ParseConfigReadImage(sim::ReaderReadImage(image));
    back.usbSpeed = cfg.usbSpeed;
    back.usbHidModeOff = cfg.usbHidModeOff;
    FUZZ_CHECK(back == cfg, "the reader's read image of the write image");
}

// What CollectReaderConfig must give for the fields a shown image decides on its own.
void CheckFieldsSurvive(const protocol::ReaderConfig& in, const protocol::ReaderConfig& out) {
    for (int t = 0; t < 3; ++t) {
        FUZZ_CHECK(out.trackEnable[t] == (in.trackEnable[t] == 1 ? 1 : 0), "trackEnable %d", t);
        FUZZ_CHECK(out.startSentinel[t] == (in.startSentinel[0] != 0 ? in.startSentinel[t] : 0),
                   "startSentinel %d", t);
        FUZZ_CHECK(out.endSentinel[t] == (in.endSentinel[0] != 0 ? in.endSentinel[t] : 0),
                   "endSentinel %d", t);
        FUZZ_CHECK(out.trackStart[t] == in.trackStart[t], "trackStart %d", t);
        FUZZ_CHECK(out.trackLength[t] == in.trackLength[t], "trackLength %d", t);
    }
    const auto known = [](uint8_t v) { return v == protocol::TERM_CR || v == protocol::TERM_CRLF; };
    bool anyTrack = false;
    for (int t = 0; t < 3; ++t) {
        if (!known(in.trackTerminator[t])) continue;
        anyTrack = true;
        FUZZ_CHECK(out.trackTerminator[t] == in.trackTerminator[t], "trackTerminator %d", t);
    }
    if (anyTrack) {
        FUZZ_CHECK(out.packetTerminator == protocol::TERM_NONE,
                   "packet terminator beside a track one");
    } else if (known(in.packetTerminator)) {
        FUZZ_CHECK(out.packetTerminator == in.packetTerminator, "packetTerminator");
        for (int t = 0; t < 3; ++t)
            FUZZ_CHECK(out.trackTerminator[t] == protocol::TERM_NONE,
                       "track terminator beside the packet");
    }

    const uint8_t flags = in.optionFlags & 0x0F;
    const bool framing = in.prefix[0] == protocol::STX;
    FUZZ_CHECK((out.optionFlags & 0x70) == 0, "reserved option bits %02x", out.optionFlags);
    FUZZ_CHECK(((out.optionFlags & protocol::OPT_BEEP_OFF) != 0) ==
                   ((flags & protocol::OPT_BEEP_OFF) != 0),
               "beep");
    FUZZ_CHECK(((out.optionFlags & protocol::OPT_TRACK3_TRIM) != 0) ==
                   ((flags & protocol::OPT_TRACK3_TRIM) != 0),
               "trim flag");
    FUZZ_CHECK(
        out.trim3KeepSpaces == ((flags & protocol::OPT_TRACK3_TRIM) ? in.trim3KeepSpaces : 0),
        "trim count");
    if (in.optionFlags > 0x0F) {
        FUZZ_CHECK((out.optionFlags & protocol::OPT_AUTO_OUTPUT_OFF) ==
                       (in.optionFlags & protocol::OPT_AUTO_OUTPUT_OFF),
                   "auto output");
    }

    // Prefix: the user's text (at most 14 bytes of it beside STX), behind STX when framed.
    const bool prefixOn = (flags & protocol::OPT_PREFIX) != 0;
    FUZZ_CHECK(((out.optionFlags & protocol::OPT_PREFIX) != 0) == (prefixOn || framing),
               "prefix flag");
    std::array<uint8_t, protocol::CONFIG_TEXT_FIELD_SIZE> prefix{};
    {
        std::string text = prefixOn ? UserText(in.prefix, protocol::STX) : std::string();
        size_t at = 0;
        if (framing) {
            prefix[at++] = protocol::STX;
            text = text.substr(0, protocol::CONFIG_TEXT_FIELD_SIZE - 1);
        }
        std::copy(text.begin(), text.end(), prefix.begin() + static_cast<long>(at));
    }
    FUZZ_CHECK(out.prefix == prefix, "prefix field %s from %s",
               Hex(out.prefix.data(), out.prefix.size()).c_str(),
               Hex(in.prefix.data(), in.prefix.size()).c_str());

    // Suffix: the user's text, ETX right after it when framed.
    const bool suffixOn = (flags & protocol::OPT_SUFFIX) != 0;
    FUZZ_CHECK(((out.optionFlags & protocol::OPT_SUFFIX) != 0) == (suffixOn || framing),
               "suffix flag");
    std::array<uint8_t, protocol::CONFIG_TEXT_FIELD_SIZE> suffix{};
    {
        std::string text = suffixOn ? UserText(in.suffix, protocol::ETX) : std::string();
        if (framing)
            text = text.substr(0, protocol::CONFIG_TEXT_FIELD_SIZE - 1) + char(protocol::ETX);
        std::copy(text.begin(), text.end(), suffix.begin());
    }
    FUZZ_CHECK(out.suffix == suffix, "suffix field %s from %s",
               Hex(out.suffix.data(), out.suffix.size()).c_str(),
               Hex(in.suffix.data(), in.suffix.size()).c_str());
}

// The first track whose end position wraps past 255, which no end text can express.
int WrappingTrack(const protocol::ReaderConfig& in) {
    for (int t = 0; t < 3; ++t)
        if (in.trackStart[t] + in.trackLength[t] > 255) return t + 1;
    return 0;
}

struct RoundTrip {
    bool overLimit = false;
    int boxes = 0;
    std::variant<protocol::ReaderConfig, operations::TrackPositionError> collected;
};

// Shows the image (twice, which must change nothing) and gathers the record back.
RoundTrip ShowAndCollect(fuzz::FreshDialog& d, const protocol::ConfigReadImage& image) {
    operations::ShowReaderConfig(d.dlg, image);
    const auto once = fuzz::Snapshot(d.dlg);
    operations::ShowReaderConfig(d.dlg, image);
    const auto twice = fuzz::Snapshot(d.dlg);
    FUZZ_CHECK(once == twice, "showing the image again changed control %d",
               fuzz::FirstDifference(once, twice));
    RoundTrip r;
    r.overLimit = SomeTextOverLimit(d.dlg);
    const int before = d.host.messageBoxes;
    r.collected = operations::CollectReaderConfig(d.dlg);
    r.boxes = d.host.messageBoxes - before;
    // The length check speaks once per gathering, and only for a text over its limit.
    FUZZ_CHECK(r.boxes == (r.overLimit ? 1 : 0), "%d message boxes, text over limit: %d", r.boxes,
               r.overLimit);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 2 * protocol::CONFIG_READ_IMAGE_SIZE) return -1;
    protocol::ConfigReadImage first{}, second{};
    std::memcpy(first.data(), data, std::min(size, protocol::CONFIG_READ_IMAGE_SIZE));
    const bool two = size > protocol::CONFIG_READ_IMAGE_SIZE;
    if (two)
        std::memcpy(second.data(), data + protocol::CONFIG_READ_IMAGE_SIZE,
                    size - protocol::CONFIG_READ_IMAGE_SIZE);

    fuzz::FreshDialog d;
    if (two) operations::ShowReaderConfig(d.dlg, first);
    const protocol::ConfigReadImage& image = two ? second : first;
    const protocol::ReaderConfig in = protocol::ParseConfigReadImage(image);
    FUZZ_CHECK(in.usbSpeed == 0 && in.usbHidModeOff == 0, "read image has no speed");

    const RoundTrip r = ShowAndCollect(d, image);
    if (const auto* error = std::get_if<operations::TrackPositionError>(&r.collected)) {
        // With the lengths put back after a length message the members decide, not the image.
        if (!r.overLimit)
            FUZZ_CHECK(error->track == WrappingTrack(in), "track error %d", error->track);
        return 0;
    }
    const protocol::ReaderConfig& out = std::get<protocol::ReaderConfig>(r.collected);
    CheckWriteImage(out);
    if (r.overLimit) return 0;
    FUZZ_CHECK(WrappingTrack(in) == 0, "no track error for a wrapping end position");
    CheckFieldsSurvive(in, out);

    // What came back is what the dialog can hold: the same trip leaves it as it is.
    const protocol::ConfigReadImage again = protocol::MakeConfigReadImage(
        out,
        {image[protocol::rimg::READER_OWN_HEAD], image[protocol::rimg::READER_OWN_HEAD + 1],
         image[protocol::rimg::READER_OWN_HEAD + 2], image[protocol::rimg::READER_OWN_HEAD + 3]},
        image[protocol::rimg::READER_OWN_TAIL]);
    const RoundTrip r2 = ShowAndCollect(d, again);
    if (r2.overLimit) return 0;
    const auto* out2 = std::get_if<protocol::ReaderConfig>(&r2.collected);
    FUZZ_CHECK(out2 != nullptr, "track error on the second trip");
    FUZZ_CHECK(*out2 == out, "second trip changed the record");
    return 0;
}
