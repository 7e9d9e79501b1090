// "Get Version": over USB the reply report's text is shown at once; over the
// serial port the receive poll shows whatever the reader answers.
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/reader_config.h"
#include "protocol/special_exchange.h"

void CZARN60TOOLDlg::OnGetVersion() {
    if (g_connectionMode == CONNECTION_SERIAL) {
        const operations::DialogSpecialOutcome outcome =
            operations::SendCommandFromDialog(*this, protocol::CMD_GET_VERSION);
        if (outcome != protocol::SPECIAL_OK) ShowStatus(operations::SpecialOutcomeText(outcome));
        return;
    }
    std::string text;
    const protocol::SpecialOutcome outcome = protocol::ReadVersionOverHid(&text);
    if (outcome != protocol::SPECIAL_OK) {
        ShowStatus(operations::SpecialOutcomeText(outcome));
        EnableWriteButtons(true);
        return;
    }
    ShowStatus(text);
}
