// The dialog side of the serial exchanges: the port number comes from combo box 1050, the
// receive poll stops around the exchange and starts again after it, and the write buttons
// stay disabled while the port is busy.
#pragma once

#include <cstdint>

#include "app/operations/outcome_texts.h"

class CZARN60TOOLDlg;

namespace operations {

// Serial, dialog side: stops the receive poll, takes the port number from combo box 1050
// (empty text: no outcome, nothing sent), keeps 1013 and 1014 disabled while the port is
// busy and restarts the poll at 10 ms after WRITE_SENT; after any failure it stays stopped.
DialogWriteOutcome WriteConfigOverSerial(CZARN60TOOLDlg& dlg,
                                         const protocol::ConfigWriteImage& image,
                                         uint32_t replyTimeoutMs);

// Serial, dialog side: the port number from combo box 1050 (empty text: no outcome, nothing
// sent).
DialogReadOutcome ReadConfigOverSerial(CZARN60TOOLDlg& dlg, protocol::ConfigReadImage& image);

// Serial, dialog side of "Get Version" and "Read Card": stops the receive poll and empties
// the receive text, opens the port named in combo box 1050, sends the command and restarts
// the poll at 10 ms after SPECIAL_OK so that it shows the answer (empty text: no outcome,
// nothing sent).
DialogSpecialOutcome SendCommandFromDialog(CZARN60TOOLDlg& dlg, uint8_t command);

}  // namespace operations
