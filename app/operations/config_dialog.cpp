// Between the dialog's option controls and a reader configuration: the record gathered
// from the dialog, with the track output ranges checked.
#include "app/operations/config_dialog.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "app/zarn60_tool_dlg.h"

namespace operations {

namespace {

// A bound member as its edit shows it now. The exchange back to the controls
// puts the earlier texts into a too-long edit and those after it, so a length
// message comes once.
std::string ReadMember(CZARN60TOOLDlg& dlg, const std::string& member) {
    dlg.UpdateData(true);
    std::string value = member;
    dlg.UpdateData(false);
    return value;
}

uint8_t FirstByte(const std::string& text) {
    return text.empty() ? 0 : static_cast<uint8_t>(text[0]);
}

// Copies at most `room` bytes of text into the field from `at`; a field never
// spills.
size_t PutText(std::array<uint8_t, protocol::CONFIG_TEXT_FIELD_SIZE>& field, size_t at,
               const std::string& text, size_t room) {
    const size_t n = std::min(text.size(), std::min(room, field.size() - at));
    for (size_t i = 0; i < n; ++i) field[at + i] = static_cast<uint8_t>(text[i]);
    return at + n;
}

uint8_t Terminator(const CZARN60TOOLDlg& dlg, int checkId, int crId) {
    if (!dlg.IsChecked(checkId)) return protocol::TERM_NONE;
    return dlg.IsChecked(crId) ? protocol::TERM_CR : protocol::TERM_CRLF;
}

}  // namespace

int StartPositionNumber(const std::string& text) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    size_t i = 0, end = text.size();
    while (i < end && blank(text[i])) ++i;
    while (end > i && blank(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == end) return 0;
    long long value = 0;
    for (; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return 0;
    return static_cast<int>(value);
}

std::string TrackPositionErrorText(const TrackPositionError& error) {
    switch (error.track) {
        case 1:
            return "Track1 Err start end";
        case 2:
            return "Track 2 Err start end";
        default:
            return "Track 3 Err start end";
    }
}

std::variant<protocol::ReaderConfig, TrackPositionError> CollectReaderConfig(CZARN60TOOLDlg& dlg) {
    protocol::ReaderConfig cfg{};
    const bool framing = dlg.IsChecked(IDC_STX_YES);

    if (dlg.IsChecked(IDC_PREFIX_CHECK)) {
        cfg.optionFlags |= protocol::OPT_PREFIX;
        const std::string prefix = ReadMember(dlg, dlg.m_strPrefix);
        // With framing STX takes the field's first byte, leaving 14 for the text.
        if (framing) {
            cfg.prefix[0] = protocol::STX;
            PutText(cfg.prefix, 1, prefix, protocol::CONFIG_TEXT_FIELD_SIZE - 1);
        } else {
            PutText(cfg.prefix, 0, prefix, protocol::CONFIG_TEXT_FIELD_SIZE);
        }
    } else if (framing) {
        cfg.optionFlags |= protocol::OPT_PREFIX;
        cfg.prefix[0] = protocol::STX;
    }

    if (dlg.IsChecked(IDC_SUFFIX_CHECK)) {
        cfg.optionFlags |= protocol::OPT_SUFFIX;
        const std::string suffix = ReadMember(dlg, dlg.m_strSuffix);
        if (framing) {
            // ETX follows the text directly, so the text gets 14 bytes at most.
            size_t end = PutText(cfg.suffix, 0, suffix, protocol::CONFIG_TEXT_FIELD_SIZE - 1);
            cfg.suffix[end] = protocol::ETX;
        } else {
            PutText(cfg.suffix, 0, suffix, protocol::CONFIG_TEXT_FIELD_SIZE);
        }
    } else if (framing) {
        cfg.optionFlags |= protocol::OPT_SUFFIX;
        cfg.suffix[0] = protocol::ETX;
    }

    if (!dlg.IsChecked(IDC_BEEP_ON)) cfg.optionFlags |= protocol::OPT_BEEP_OFF;
    if (!dlg.IsChecked(IDC_TRIM_NO_CHANGE)) {
        cfg.optionFlags |= protocol::OPT_TRACK3_TRIM;
        const int keep = std::min(LeadingNumber(ReadMember(dlg, dlg.m_strTrimSpaces)), 255);
        cfg.trim3KeepSpaces = static_cast<uint8_t>(keep);
    }
    if (dlg.IsChecked(IDC_DISABLE_AUTO_OUTPUT)) cfg.optionFlags |= protocol::OPT_AUTO_OUTPUT_OFF;

    const int outputIds[3] = {IDC_OUTPUT_TRACK1, IDC_OUTPUT_TRACK2, IDC_OUTPUT_TRACK3};
    for (int t = 0; t < 3; ++t) cfg.trackEnable[t] = dlg.IsChecked(outputIds[t]) ? 1 : 0;

    const std::string* startMembers[3] = {&dlg.m_strTrack1SS, &dlg.m_strTrack2SS,
                                          &dlg.m_strTrack3SS};
    const std::string* endMembers[3] = {&dlg.m_strTrack1ES, &dlg.m_strTrack2ES, &dlg.m_strTrack3ES};
    for (int t = 0; t < 3; ++t) cfg.startSentinel[t] = FirstByte(ReadMember(dlg, *startMembers[t]));
    for (int t = 0; t < 3; ++t) cfg.endSentinel[t] = FirstByte(ReadMember(dlg, *endMembers[t]));

    cfg.packetTerminator = Terminator(dlg, IDC_END_PACKET, IDC_PACKET_CR);
    cfg.trackTerminator[0] = Terminator(dlg, IDC_END_TRACK1, IDC_TRACK1_CR);
    cfg.trackTerminator[1] = Terminator(dlg, IDC_END_TRACK2, IDC_TRACK2_CR);
    cfg.trackTerminator[2] = Terminator(dlg, IDC_END_TRACK3, IDC_TRACK3_CR);

    cfg.usbSpeed = static_cast<uint8_t>(dlg.SliderGetPos(IDC_USB_SPEED));
    cfg.usbHidModeOff = dlg.IsChecked(IDC_USB_HID_MODE) ? 0 : 1;

    const int startIds[3] = {IDC_TRACK1_START, IDC_TRACK2_START, IDC_TRACK3_START};
    for (int t = 0; t < 3; ++t)
        cfg.trackStart[t] = static_cast<uint8_t>(StartPositionNumber(dlg.GetText(startIds[t])));

    const std::string* trackEnds[3] = {&dlg.m_strTrack1End, &dlg.m_strTrack2End,
                                       &dlg.m_strTrack3End};
    for (int t = 0; t < 3; ++t) {
        const auto end = static_cast<uint8_t>(LeadingNumber(ReadMember(dlg, *trackEnds[t])));
        if (end < cfg.trackStart[t]) return TrackPositionError{t + 1};
        cfg.trackLength[t] = static_cast<uint8_t>(end - cfg.trackStart[t]);
    }
    return cfg;
}

}  // namespace operations
