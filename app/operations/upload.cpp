// "Upload Setting from Device": the reader's configuration read back and shown
// in the option controls. The dialog changes only once all 56 bytes have
// arrived.
#include "app/operations/config_dialog.h"
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/read_exchange.h"

void CZARN60TOOLDlg::OnUploadSetting() {
    // In either mode: over serial the poll would swallow the reply.
    KillTimer();
    g_strReceived.clear();

    protocol::ConfigReadImage image{};
    if (g_connectionMode == CONNECTION_SERIAL) {
        UpdateData(true);  // a failed length check has shown its message; go on
        const operations::DialogReadOutcome outcome =
            operations::ReadConfigOverSerial(*this, image);
        if (outcome != protocol::READ_OK) {
            ShowStatus(operations::ReadOutcomeText(outcome));
            return;
        }
        SetTimer(POLL_PERIOD_MS);
    } else {
        const protocol::ConfigReadOutcome outcome =
            protocol::ReadConfigOverHid(protocol::UPLOAD_REPORT_PAUSE_MS, image);
        if (outcome != protocol::READ_OK) {
            ShowStatus(operations::ReadOutcomeText(outcome));
            EnableWriteButtons(true);
            return;
        }
    }
    operations::ShowReaderConfig(*this, image);
    ShowStatus("Get Setting Ok");
}
