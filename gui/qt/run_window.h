// The Qt6 window of the tool.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace gui {

// A `sim ...` command of the headless runner (without "sim "), printing to `out`; false
// with *error set when it cannot be run.
using SimulatorCommand =
    std::function<bool(const std::string& args, std::ostream& out, std::string* error)>;

// Creates the Qt application, shows the main dialog and runs it until it ends.
// `simulator` is set when the simulated readers are attached (the caller attaches them):
// the clock is then virtual and the window offers test cards to swipe.
// Returns the process exit status.
int RunWindow(int argc, char** argv, const SimulatorCommand& simulator);

}  // namespace gui
