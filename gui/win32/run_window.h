// The Win32 window of the tool. No platform header here: the program's entry includes it.
#pragma once

namespace gui::win32 {

// Shows the main dialog and runs it until it ends. `simulated` says whether the simulated
// readers are attached (the caller attaches them). Returns the process exit status; a
// window that cannot be created is reported in a message box and gives 1.
int RunWindow(bool simulated);

}  // namespace gui::win32

namespace gui::win32 {

// A window program has no console of its own: the listings and the runner print to the
// console it was started from, unless their output already goes to a file or pipe.
void AttachParentConsole();

}  // namespace gui::win32
