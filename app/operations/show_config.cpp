// Showing a read image in the option controls. The controls are set directly:
// no click handler of the interlocks runs. Only the suffix edit's change rule
// does, because setting that edit's text is a change like any other.
#include <string>

#include "app/operations/config_dialog.h"
#include "app/zarn60_tool_dlg.h"

namespace {

constexpr int TRACK_CHECKS[3] = {IDC_END_TRACK1, IDC_END_TRACK2, IDC_END_TRACK3};
constexpr int TRACK_CRLF[3] = {IDC_TRACK1_CRLF, IDC_TRACK2_CRLF, IDC_TRACK3_CRLF};
constexpr int TRACK_CR[3] = {IDC_TRACK1_CR, IDC_TRACK2_CR, IDC_TRACK3_CR};
constexpr int TRACK_ROW_CONTROLS[9] = {IDC_END_TRACK1,  IDC_END_TRACK2,  IDC_END_TRACK3,
                                       IDC_TRACK1_CRLF, IDC_TRACK1_CR,   IDC_TRACK2_CRLF,
                                       IDC_TRACK2_CR,   IDC_TRACK3_CRLF, IDC_TRACK3_CR};
constexpr int PACKET_ROW_CONTROLS[3] = {IDC_END_PACKET, IDC_PACKET_CRLF, IDC_PACKET_CR};

std::string SentinelText(uint8_t b) {
    return b == 0 ? std::string() : std::string(1, char(b));
}

// The byte as a signed 8-bit number in decimal, as "%d" writes it.
std::string NumberText(uint8_t b) {
    return std::to_string(static_cast<int8_t>(b));
}

// Bytes up to the first NUL, without the framing byte the field may carry.
std::string FieldText(const std::array<uint8_t, protocol::CONFIG_TEXT_FIELD_SIZE>& field,
                      uint8_t framing) {
    std::string text;
    for (uint8_t b : field) {
        if (b == 0) break;
        if (b != framing) text.push_back(static_cast<char>(b));
    }
    return text;
}

void ShowSentinels(CZARN60TOOLDlg& dlg, const protocol::ReaderConfig& cfg) {
    // Track 1 alone decides whether each row is in use; tracks 2 and 3 follow it.
    const bool ssShown = cfg.startSentinel[0] != 0;
    const bool esShown = cfg.endSentinel[0] != 0;
    dlg.SetCheck(IDC_DISABLE_SS, !ssShown);
    dlg.SetCheck(IDC_DISABLE_ES, !esShown);
    for (int t = 0; t < 3; ++t) {
        dlg.SetText(IDC_TRACK1_SS + t, ssShown ? SentinelText(cfg.startSentinel[t]) : "");
        dlg.EnableControl(IDC_TRACK1_SS + t, ssShown);
        dlg.SetText(IDC_TRACK1_ES + t, esShown ? SentinelText(cfg.endSentinel[t]) : "");
        dlg.EnableControl(IDC_TRACK1_ES + t, esShown);
    }
}

void ShowPacketTerminator(CZARN60TOOLDlg& dlg, uint8_t value) {
    if (value == protocol::TERM_NONE) {
        dlg.SetCheck(IDC_PACKET_CRLF, false);
        dlg.SetCheck(IDC_PACKET_CR, false);
        return;
    }
    if (value != protocol::TERM_CR && value != protocol::TERM_CRLF)
        return;  // unknown codes leave the row
    for (int id : PACKET_ROW_CONTROLS) dlg.EnableControl(id, true);
    for (int id : TRACK_ROW_CONTROLS) {
        dlg.EnableControl(id, false);
        dlg.SetCheck(id, false);
    }
    dlg.SetCheck(IDC_END_PACKET, true);
    dlg.SetCheck(IDC_PACKET_CR, value == protocol::TERM_CR);
    dlg.SetCheck(IDC_PACKET_CRLF, value == protocol::TERM_CRLF);
}

void ShowTrackTerminator(CZARN60TOOLDlg& dlg, int t, uint8_t value) {
    if (value == protocol::TERM_NONE) {
        // Only the radios: the check box keeps its state and nothing changes
        // enabling.
        dlg.SetCheck(TRACK_CRLF[t], false);
        dlg.SetCheck(TRACK_CR[t], false);
        return;
    }
    if (value != protocol::TERM_CR && value != protocol::TERM_CRLF) return;
    for (int id : TRACK_ROW_CONTROLS) dlg.EnableControl(id, true);
    for (int id : PACKET_ROW_CONTROLS) {
        dlg.EnableControl(id, false);
        dlg.SetCheck(id, false);
    }
    dlg.SetCheck(TRACK_CHECKS[t], true);
    dlg.SetCheck(TRACK_CR[t], value == protocol::TERM_CR);
    dlg.SetCheck(TRACK_CRLF[t], value == protocol::TERM_CRLF);
}

void ShowOptions(CZARN60TOOLDlg& dlg, const protocol::ReaderConfig& cfg) {
    uint8_t flags = cfg.optionFlags;
    if (flags > 0x0F) {
        // Readers set 0x80 for "Disable auto output": such a record is shown by its
        // four low bits, with the box taken from the high bit. Records without high
        // bits keep leaving the box alone.
        dlg.SetCheck(IDC_DISABLE_AUTO_OUTPUT, (flags & protocol::OPT_AUTO_OUTPUT_OFF) != 0);
        flags &= 0x0F;
    }
    const bool prefix = flags & protocol::OPT_PREFIX;
    dlg.SetCheck(IDC_PREFIX_CHECK, prefix);
    dlg.SetText(IDC_PREFIX, prefix ? FieldText(cfg.prefix, protocol::STX) : "");

    const bool suffix = flags & protocol::OPT_SUFFIX;
    dlg.SetCheck(IDC_SUFFIX_CHECK, suffix);
    dlg.SetText(IDC_SUFFIX, suffix ? FieldText(cfg.suffix, protocol::ETX) : "");

    const bool beepOff = flags & protocol::OPT_BEEP_OFF;
    dlg.SetCheck(IDC_BEEP_ON, !beepOff);
    dlg.SetCheck(IDC_BEEP_OFF, beepOff);

    const bool trim = flags & protocol::OPT_TRACK3_TRIM;
    dlg.SetCheck(IDC_TRIM_NO_CHANGE, !trim);
    dlg.SetCheck(IDC_TRIM_SPACES, trim);
    dlg.EnableControl(IDC_TRIM_COUNT, trim);
    dlg.SetText(IDC_TRIM_COUNT, trim ? NumberText(cfg.trim3KeepSpaces) : "");
}

}  // namespace

void operations::ShowReaderConfig(CZARN60TOOLDlg& dlg, const protocol::ConfigReadImage& image) {
    const protocol::ReaderConfig cfg = protocol::ParseConfigReadImage(image);

    // Resets every bound edit's limit too, the suffix edit's back to 15.
    dlg.UpdateData(false);

    ShowSentinels(dlg, cfg);

    const int outputIds[3] = {IDC_OUTPUT_TRACK1, IDC_OUTPUT_TRACK2, IDC_OUTPUT_TRACK3};
    for (int t = 0; t < 3; ++t) dlg.SetCheck(outputIds[t], cfg.trackEnable[t] == 1);

    // The packet first, then the tracks: a record with both ends with the track
    // rows on.
    ShowPacketTerminator(dlg, cfg.packetTerminator);
    for (int t = 0; t < 3; ++t) ShowTrackTerminator(dlg, t, cfg.trackTerminator[t]);

    // Framing before the options, so that the suffix change rule sees the final
    // choice.
    const bool framing = cfg.prefix[0] == protocol::STX;
    dlg.SetCheck(IDC_STX_NO, !framing);
    dlg.SetCheck(IDC_STX_YES, framing);

    ShowOptions(dlg, cfg);

    const int startIds[3] = {IDC_TRACK1_START, IDC_TRACK2_START, IDC_TRACK3_START};
    for (int t = 0; t < 3; ++t)
        dlg.SetText(startIds[t], cfg.trackStart[t] == 0 ? "" : NumberText(cfg.trackStart[t]));

    const int endIds[3] = {IDC_TRACK1_END, IDC_TRACK2_END, IDC_TRACK3_END};
    for (int t = 0; t < 3; ++t) {
        const auto end = static_cast<uint8_t>(cfg.trackStart[t] + cfg.trackLength[t]);
        dlg.SetText(endIds[t], end == 0 ? "" : NumberText(end));
    }
}
