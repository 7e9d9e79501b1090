#include "app/operations/dialog_exchanges.h"

#include "app/zarn60_tool_dlg.h"

namespace operations {

DialogWriteOutcome WriteConfigOverSerial(CZARN60TOOLDlg& dlg,
                                         const protocol::ConfigWriteImage& image,
                                         uint32_t replyTimeoutMs) {
    // The poll would otherwise swallow the reader's reply.
    dlg.KillTimer();
    const std::string com = dlg.ComText();
    if (com.empty()) return std::nullopt;
    const protocol::ConfigWriteOutcome outcome =
        protocol::WriteConfigToPort(LeadingNumber(com), image, replyTimeoutMs,
                                    [&dlg](bool isBusy) { dlg.EnableWriteButtons(!isBusy); });
    if (outcome.result == protocol::WRITE_SENT) dlg.SetTimer(POLL_PERIOD_MS);
    return outcome;
}

DialogReadOutcome ReadConfigOverSerial(CZARN60TOOLDlg& dlg, protocol::ConfigReadImage& image) {
    const std::string com = dlg.ComText();
    if (com.empty()) return std::nullopt;
    return protocol::ReadConfigFromPort(LeadingNumber(com), image);
}

bool ReadConfigOverCurrentLink(CZARN60TOOLDlg& dlg, uint32_t pauseMs,
                               protocol::ConfigReadImage& image) {
    if (g_connectionMode == CONNECTION_SERIAL) {
        dlg.UpdateData(true);
        const DialogReadOutcome outcome = ReadConfigOverSerial(dlg, image);
        if (outcome == protocol::READ_OK) return true;
        dlg.ShowStatus(ReadOutcomeText(outcome));
        return false;
    }
    const protocol::ConfigReadOutcome outcome = protocol::ReadConfigOverHid(pauseMs, image);
    if (outcome == protocol::READ_OK) return true;
    dlg.ShowStatus(ReadOutcomeText(outcome));
    dlg.EnableWriteButtons(true);
    return false;
}

DialogSpecialOutcome SendCommandFromDialog(CZARN60TOOLDlg& dlg, uint8_t command) {
    dlg.KillTimer();
    g_strReceived.clear();
    const std::string com = dlg.ComText();
    if (com.empty()) return std::nullopt;
    const protocol::SpecialOutcome outcome =
        protocol::SendCommandToPort(LeadingNumber(com), command);
    // The answer is not awaited here: the poll shows it byte by byte as it comes.
    if (outcome == protocol::SPECIAL_OK) dlg.SetTimer(POLL_PERIOD_MS);
    return outcome;
}

}  // namespace operations
