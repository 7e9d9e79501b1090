// "Back to Default Factory Setting": the stored configuration of the current
// link sent without reading the dialog, and the option controls put back to the
// factory values.
#include "app/operations/config_dialog.h"
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/write_exchange.h"

void operations::SetFactoryControls(CZARN60TOOLDlg& dlg) {
    for (int t = 0; t < 3; ++t) {
        dlg.SetText(IDC_TRACK1_SS + t, DEFAULT_START_SENTINELS[t]);
        dlg.EnableControl(IDC_TRACK1_SS + t, true);
        dlg.SetText(IDC_TRACK1_ES + t, DEFAULT_END_SENTINEL);
        dlg.EnableControl(IDC_TRACK1_ES + t, true);
    }
    dlg.SetCheck(IDC_DISABLE_SS, false);
    dlg.SetCheck(IDC_DISABLE_ES, false);
    for (int id : {IDC_OUTPUT_TRACK1, IDC_OUTPUT_TRACK2, IDC_OUTPUT_TRACK3}) dlg.SetCheck(id, true);
    for (int id : {IDC_END_TRACK1, IDC_END_TRACK2, IDC_END_TRACK3, IDC_TRACK1_CRLF, IDC_TRACK2_CRLF,
                   IDC_TRACK3_CRLF}) {
        dlg.SetCheck(id, true);
        dlg.EnableControl(id, true);
    }
    for (int id : {IDC_TRACK1_CR, IDC_TRACK2_CR, IDC_TRACK3_CR}) {
        dlg.SetCheck(id, false);
        dlg.EnableControl(id, true);
    }
    for (int id : {IDC_END_PACKET, IDC_PACKET_CRLF, IDC_PACKET_CR}) {
        dlg.SetCheck(id, false);
        dlg.EnableControl(id, false);
    }
    dlg.SetCheck(IDC_TRIM_NO_CHANGE, true);
    dlg.SetCheck(IDC_TRIM_SPACES, false);
    dlg.SetText(IDC_TRIM_COUNT, "");
    dlg.EnableControl(IDC_TRIM_COUNT, false);
    dlg.SetCheck(IDC_PREFIX_CHECK, false);
    dlg.SetCheck(IDC_SUFFIX_CHECK, false);
    dlg.SetText(IDC_PREFIX, "");
    dlg.SetText(IDC_SUFFIX, "");
    dlg.SetCheck(IDC_BEEP_ON, true);
    dlg.SetCheck(IDC_BEEP_OFF, false);
    dlg.SetCheck(IDC_STX_NO, true);
    dlg.SetCheck(IDC_STX_YES, false);
    for (int id : {IDC_TRACK1_START, IDC_TRACK2_START, IDC_TRACK3_START, IDC_TRACK1_END,
                   IDC_TRACK2_END, IDC_TRACK3_END})
        dlg.SetText(id, "");
    dlg.EnableWriteButtons(true);
}

void CZARN60TOOLDlg::OnFactoryDefault() {
    if (g_connectionMode == CONNECTION_SERIAL) {
        KillTimer();
        g_strReceived.clear();
        const operations::DialogWriteOutcome outcome = operations::WriteConfigOverSerial(
            *this, protocol::FactoryWriteImageSerial(), protocol::FACTORY_SERIAL_REPLY_TIMEOUT_MS);
        ShowStatus(operations::FactoryOutcomeText(outcome));
        if (outcome && outcome->result == protocol::WRITE_SENT)
            operations::SetFactoryControls(*this);
        return;
    }
    // Over USB g_strReceived is left as it is: only a serial exchange competes
    // with the poll.
    EnableWriteButtons(false);
    const protocol::ConfigWriteOutcome outcome =
        protocol::WriteConfigOverHid(protocol::FactoryWriteImageHid(), false);
    ShowStatus(operations::FactoryOutcomeText(outcome));
    if (outcome.result == protocol::WRITE_SENT) operations::SetFactoryControls(*this);
    EnableWriteButtons(true);
}
