// Why a link could not open its device. Both links keep the reason of their last failed
// open (SerialLink::LastOpenError, HidLink::LastOpenError) beside their 0/-1 and
// handle/invalid results, so that a caller can say why without looking at the devices
// again.
#pragma once

#include <string>

namespace zarn {

enum class OpenError {
    None,          // opened
    NoDevice,      // nothing there, or no device behind the number
    InUse,         // held by another program
    NoPermission,  // present, but this user may not open it
    NotATerminal,  // present, but not a line (serial only)
    Other,         // present, and opening or configuring it failed
};

struct OpenFailure {
    OpenError error = OpenError::None;
    std::string detail;  // for people: "mode 0660, group dialout"; may be empty
};

// "ok", "no device", "in use", "no permission", "not a terminal", "cannot open".
const char* OpenErrorText(OpenError e);
// The text and, when there is one, the detail in parentheses.
std::string OpenFailureText(const OpenFailure& failure);

}  // namespace zarn
