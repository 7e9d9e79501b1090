#include "app/operations/dialog_exchanges.h"

#include "app/zarn60_tool_dlg.h"

namespace operations {

protocol::ConfigWriteOutcome WriteConfigOverSerial(CZARN60TOOLDlg& dlg,
                                                   const protocol::ConfigWriteImage& image,
                                                   uint32_t replyTimeoutMs) {
    // The poll would otherwise swallow the reader's reply.
    dlg.KillTimer();
    const std::string com = dlg.ComText();
    if (com.empty()) return {protocol::WRITE_NO_PORT_NUMBER};
    protocol::ConfigWriteOutcome outcome =
        protocol::WriteConfigToPort(LeadingNumber(com), image, replyTimeoutMs, [&dlg](bool isBusy) {
            dlg.EnableControl(IDC_DOWNLOAD, !isBusy);
            dlg.EnableControl(IDC_FACTORY, !isBusy);
        });
    if (outcome.result == protocol::WRITE_SENT) dlg.SetTimer(POLL_PERIOD_MS);
    return outcome;
}

protocol::ConfigReadOutcome ReadConfigOverSerial(CZARN60TOOLDlg& dlg,
                                                 protocol::ConfigReadImage& image) {
    const std::string com = dlg.ComText();
    if (com.empty()) return protocol::READ_NO_PORT_NUMBER;
    return protocol::ReadConfigFromPort(LeadingNumber(com), image);
}

void SendCommandFromDialog(CZARN60TOOLDlg& dlg, uint8_t command) {
    dlg.KillTimer();
    g_strReceived.clear();
    const std::string com = dlg.ComText();
    if (com.empty()) {
        dlg.ShowStatus("please setup Serial number");
        return;
    }
    if (protocol::SendCommandToPort(LeadingNumber(com), command) != protocol::SPECIAL_OK) {
        dlg.ShowStatus("Port Number Error");
        return;
    }
    // The answer is not awaited here: the poll shows it byte by byte as it comes.
    dlg.SetTimer(POLL_PERIOD_MS);
}

}  // namespace operations
