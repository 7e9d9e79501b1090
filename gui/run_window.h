// The Qt6 window of the tool.
#pragma once

namespace gui {

// Creates the Qt application, shows the main dialog and runs it until it ends.
// `simulated` says whether the simulated readers are attached (the caller attaches them).
// Returns the process exit status.
int RunWindow(int argc, char** argv, bool simulated);

}  // namespace gui
