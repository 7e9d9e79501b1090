// The headless runner: drives the real dialog logic from a script, one command a line,
// with a Host that prints what a user would see.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>

namespace runner {

// Runs one `sim` command (the text after "sim "); false with *error set when it fails.
using SimCommand =
    std::function<bool(const std::string& args, std::ostream& out, std::string* error)>;

// Runs the script to its end or to the end of the dialog. Returns the exit status:
// 0, or 2 after an `error line N: ...`. `sim` may be empty (no simulated reader).
int RunScript(std::istream& script, std::ostream& out, const SimCommand& sim);

}  // namespace runner
