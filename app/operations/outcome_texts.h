// The dialog's texts for the reader's outcomes, and the one outcome the dialog adds to
// them: a serial exchange that never began because combo box 1050 names no port.
#pragma once

#include <optional>
#include <string>

#include "protocol/read_exchange.h"
#include "protocol/special_exchange.h"
#include "protocol/write_exchange.h"

namespace operations {

// An exchange the dialog started: no value when combo box 1050 named no port (nothing was
// sent), otherwise the reader's outcome. Over USB there is always one.
using DialogReadOutcome = std::optional<protocol::ConfigReadOutcome>;
using DialogWriteOutcome = std::optional<protocol::ConfigWriteOutcome>;
using DialogSpecialOutcome = std::optional<protocol::SpecialOutcome>;

// The test box's texts when combo box 1050 names no port, and when the port named does not
// open.
inline constexpr const char* NO_PORT_NUMBER_TEXT = "please setup Serial number";
inline constexpr const char* PORT_OPEN_FAILED_TEXT = "Port Number Error";

// The failure texts of a configuration read; READ_OK is the caller's own text and gives an
// empty string here.
std::string ReadOutcomeText(DialogReadOutcome outcome);

// The texts of the two operations that write a configuration.
std::string DownloadOutcomeText(const DialogWriteOutcome& outcome);
std::string FactoryOutcomeText(const DialogWriteOutcome& outcome);

// The failure texts of "Get Version" and "Read Card"; SPECIAL_OK and SPECIAL_TOO_MANY give an
// empty string.
std::string SpecialOutcomeText(DialogSpecialOutcome outcome);

}  // namespace operations
