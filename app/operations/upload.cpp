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
    if (!operations::ReadConfigOverCurrentLink(*this, protocol::UPLOAD_REPORT_PAUSE_MS, image))
        return;
    if (g_connectionMode == CONNECTION_SERIAL) SetTimer(POLL_PERIOD_MS);
    operations::ShowReaderConfig(*this, image);
    ShowStatus("Get Setting Ok");
}
