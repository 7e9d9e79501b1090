// "Download Setting to Device": the dialog's options gathered into a record, the track
// output ranges checked, the write image sent over the current link.
#include "app/operations/config_dialog.h"
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/write_exchange.h"

void CZARN60TOOLDlg::OnDownloadSetting() {
    g_strReceived.clear();
    const auto collected = CollectReaderConfig(*this);
    if (const auto* error = std::get_if<TrackPositionError>(&collected)) {
        MessageBox(TrackPositionErrorText(*error));
        return;
    }
    const ConfigWriteImage image = MakeConfigWriteImage(std::get<ReaderConfig>(collected));
    const ConfigWriteOutcome outcome =
        g_connectionMode == CONNECTION_SERIAL
            ? WriteConfigOverSerial(*this, image, DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS)
            : WriteConfigOverHid(image, true);
    ShowStatus(DownloadOutcomeText(outcome));
    EnableControl(IDC_DOWNLOAD, true);
    EnableControl(IDC_FACTORY, true);
}
