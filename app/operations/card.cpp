// "Read Card": over USB the reader's reports are collected until it falls
// silent and shown as hex; over the serial port the receive poll shows the card
// data as characters.
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/reader_config.h"
#include "protocol/special_exchange.h"

void CZARN60TOOLDlg::OnReadCard() {
    if (g_connectionMode == CONNECTION_SERIAL) {
        const operations::DialogSpecialOutcome outcome =
            operations::SendCommandFromDialog(*this, protocol::CMD_READ_CARD);
        if (outcome != protocol::SPECIAL_OK) ShowStatus(operations::SpecialOutcomeText(outcome));
        return;
    }
    ShowStatus("");
    std::string data;
    // The wait can take a while (a card to swipe, 500 ms of silence at the end):
    // the text goes out through the host at once, so a view repaints it before
    // the reads block.
    const protocol::SpecialOutcome outcome =
        protocol::ReadCardOverHid(&data, [this] { ShowStatus("Please wait for reading data!"); });
    if (outcome == protocol::SPECIAL_TOO_MANY)
        return;  // the reader never fell silent: nothing shown
    if (outcome != protocol::SPECIAL_OK) {
        ShowStatus(operations::SpecialOutcomeText(outcome));
        EnableWriteButtons(true);
        return;
    }
    // No data exchange back into the edits here: the members hold only what the last
    // saving exchange took, so it would undo what was typed since, and refill sentinel
    // edits that "Disable SS"/"Disable ES" emptied.
    ShowStatus(protocol::CardDataToHex(data));
}
