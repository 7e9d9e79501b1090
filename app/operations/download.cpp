// "Download Setting to Device": the dialog's options gathered into a record, the track
// output ranges checked, the write image sent over the current link.
#include "app/operations/config_dialog.h"
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/write_exchange.h"

void CZARN60TOOLDlg::OnDownloadSetting() {
    g_strReceived.clear();
    const auto collected = operations::CollectReaderConfig(*this);
    if (const auto* error = std::get_if<operations::TrackPositionError>(&collected)) {
        MessageBox(operations::TrackPositionErrorText(*error));
        return;
    }
    const protocol::ConfigWriteImage image =
        protocol::MakeConfigWriteImage(std::get<protocol::ReaderConfig>(collected));
    const operations::DialogWriteOutcome outcome =
        g_connectionMode == CONNECTION_SERIAL
            ? operations::WriteConfigOverSerial(*this, image,
                                                protocol::DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS)
            : operations::DialogWriteOutcome(protocol::WriteConfigOverHid(image, true));
    ShowStatus(operations::DownloadOutcomeText(outcome));
    EnableWriteButtons(true);
}
