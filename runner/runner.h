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

// No sensible script comes near this size; reading stops here (a stream without end,
// /dev/zero, never grows memory without bound).
constexpr long long kMaxScriptSize = 16LL << 20;

// Runs the script to its end or to the end of the dialog. Returns the exit status: 0; 2
// after an `error line N: ...` (also for a script that cannot be read or is longer than
// kMaxScriptSize); 1 when `out` cannot be written, after which nothing more runs.
// `sim` may be empty (no simulated reader).
int RunScript(std::istream& script, std::ostream& out, const SimCommand& sim);

// A short account of the main operations run headless against a simulated reader (`sim`
// drives it): one line each with the operation, its link and its result text. Returns 0,
// 2 when a step could not run, 1 when `out` cannot be written.
int RunAccount(std::ostream& out, const SimCommand& sim);

}  // namespace runner
