// The dialog side of the serial exchanges: the port number comes from combo box 1050, the
// receive poll stops around the exchange and starts again after it, and the write buttons
// stay disabled while the port is busy; and the configuration read over either link.
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

// The configuration read of "Upload Setting" and "Save setting to File" over the current
// link: over the serial port after a saving data exchange (a failed length check has shown
// its message and the read goes on), over USB with pauseMs after each report. A failure
// shows its text, and over USB enables the write buttons again. True once all 56 bytes of
// `image` arrived. The receive poll is the caller's.
bool ReadConfigOverCurrentLink(CZARN60TOOLDlg& dlg, uint32_t pauseMs,
                               protocol::ConfigReadImage& image);

// Serial, dialog side of "Get Version" and "Read Card": stops the receive poll and empties
// the receive text, opens the port named in combo box 1050, sends the command and restarts
// the poll at 10 ms after SPECIAL_OK so that it shows the answer (empty text: no outcome,
// nothing sent).
DialogSpecialOutcome SendCommandFromDialog(CZARN60TOOLDlg& dlg, uint8_t command);

}  // namespace operations
