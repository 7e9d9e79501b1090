// The option interlocks: what a click on one option control does to the others. Each
// handler runs after the clicked control's own check state has changed. Checks set here
// never clear a radio's partner, so rows that must show no choice are cleared explicitly.
#include "app/zarn60_tool_dlg.h"

namespace {

constexpr int kTrackEnds[] = {IDC_END_TRACK1, IDC_END_TRACK2, IDC_END_TRACK3};
constexpr int kTrackRadios[] = {IDC_TRACK1_CRLF, IDC_TRACK1_CR,   IDC_TRACK2_CRLF,
                                IDC_TRACK2_CR,   IDC_TRACK3_CRLF, IDC_TRACK3_CR};
// With STX/ETX framing the reader's 15-byte suffix field also carries the ETX.
constexpr size_t kFramedTextMax = 14;
constexpr int kSuffixLimit = 15;

}  // namespace

void CZARN60TOOLDlg::OnEndOfPacket() {
    if (IsChecked(IDC_END_PACKET)) {
        for (int id : kTrackEnds) EnableControl(id, false);
        for (int id : kTrackRadios) EnableControl(id, false);
        EnableControl(IDC_PACKET_CRLF, true);
        EnableControl(IDC_PACKET_CR, true);
        SetCheck(IDC_PACKET_CR, true);
    } else {
        for (int id : kTrackEnds) EnableControl(id, true);
        EnableControl(IDC_END_PACKET, false);
        for (int id : kTrackRadios) EnableControl(id, true);
        EnableControl(IDC_PACKET_CRLF, false);
        EnableControl(IDC_PACKET_CR, false);
        SetCheck(IDC_PACKET_CRLF, false);
        SetCheck(IDC_PACKET_CR, false);
    }
}

void CZARN60TOOLDlg::OnEndTrack(int track) {
    if (track < 1 || track > 3) return;
    const int index = track - 1;
    const int crlf = kTrackRadios[2 * index];
    const int cr = kTrackRadios[2 * index + 1];
    if (IsChecked(kTrackEnds[index])) {
        EnableControl(IDC_END_PACKET, false);
        SetCheck(cr, true);
        EnableControl(IDC_PACKET_CRLF, false);
        EnableControl(IDC_PACKET_CR, false);
        SetCheck(IDC_PACKET_CRLF, false);
        SetCheck(IDC_PACKET_CR, false);
    } else {
        SetCheck(crlf, false);
        SetCheck(cr, false);
        bool otherChecked = false;
        for (int i = 0; i < 3; ++i) {
            if (i != index && IsChecked(kTrackEnds[i])) otherChecked = true;
        }
        if (!otherChecked) {
            EnableControl(IDC_END_PACKET, true);
            EnableControl(IDC_PACKET_CRLF, true);
            EnableControl(IDC_PACKET_CR, true);
        }
    }
}

void CZARN60TOOLDlg::OnPacketRadio() {
    SetCheck(IDC_END_PACKET, true);
}

// The save result is not looked at: the defaults go in whatever it reported.
void CZARN60TOOLDlg::OnDisableSS() {
    if (IsChecked(IDC_DISABLE_SS)) {
        UpdateData(true);
        m_strTrack1SS.clear();
        m_strTrack2SS.clear();
        m_strTrack3SS.clear();
        UpdateData(false);
        EnableControl(IDC_TRACK1_SS, false);
        EnableControl(IDC_TRACK2_SS, false);
        EnableControl(IDC_TRACK3_SS, false);
    } else {
        EnableControl(IDC_TRACK1_SS, true);
        EnableControl(IDC_TRACK2_SS, true);
        EnableControl(IDC_TRACK3_SS, true);
        UpdateData(true);
        m_strTrack1SS = DEFAULT_START_SENTINELS[0];
        m_strTrack2SS = DEFAULT_START_SENTINELS[1];
        m_strTrack3SS = DEFAULT_START_SENTINELS[2];
        UpdateData(false);
    }
}

void CZARN60TOOLDlg::OnDisableES() {
    if (IsChecked(IDC_DISABLE_ES)) {
        UpdateData(true);
        m_strTrack1ES.clear();
        m_strTrack2ES.clear();
        m_strTrack3ES.clear();
        UpdateData(false);
        EnableControl(IDC_TRACK1_ES, false);
        EnableControl(IDC_TRACK2_ES, false);
        EnableControl(IDC_TRACK3_ES, false);
    } else {
        EnableControl(IDC_TRACK1_ES, true);
        EnableControl(IDC_TRACK2_ES, true);
        EnableControl(IDC_TRACK3_ES, true);
        UpdateData(true);
        m_strTrack1ES = DEFAULT_END_SENTINEL;
        m_strTrack2ES = DEFAULT_END_SENTINEL;
        m_strTrack3ES = DEFAULT_END_SENTINEL;
        UpdateData(false);
    }
}

void CZARN60TOOLDlg::OnTrimNoChange() {
    EnableControl(IDC_TRIM_COUNT, false);
}

void CZARN60TOOLDlg::OnTrimSpaces() {
    EnableControl(IDC_TRIM_COUNT, true);
}

void CZARN60TOOLDlg::OnSuffixCheck() {
    if (IsChecked(IDC_STX_YES)) {
        if (IsChecked(IDC_SUFFIX_CHECK)) LimitText(IDC_SUFFIX, static_cast<int>(kFramedTextMax));
    } else {
        LimitText(IDC_SUFFIX, kSuffixLimit);
    }
}

void CZARN60TOOLDlg::OnStxNo() {
    LimitText(IDC_SUFFIX, kSuffixLimit);
}

void CZARN60TOOLDlg::OnStxYes() {
    // Set again even when short enough; the suffix's change rule then finds nothing to do.
    SetText(IDC_SUFFIX, GetText(IDC_SUFFIX).substr(0, kFramedTextMax));
    SetText(IDC_PREFIX, GetText(IDC_PREFIX).substr(0, kFramedTextMax));
}

void CZARN60TOOLDlg::OnSuffixChange() {
    if (!IsChecked(IDC_STX_YES)) return;
    std::string text = GetText(IDC_SUFFIX);
    if (text.size() > kFramedTextMax) SetText(IDC_SUFFIX, text.substr(0, kFramedTextMax));
}
