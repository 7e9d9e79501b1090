// Texts in the headless runner's scripts and output: bytes, escaped so that a line shows
// every byte unambiguously.
#pragma once

#include <string>

namespace runner {

// "..." with printable ASCII as is, \" \\ \r \n \t, and \xNN (lower-case) for any other byte.
std::string Quote(const std::string& bytes);

// A TEXT argument: the rest of a line, outer blanks dropped unless the whole is wrapped in
// double quotes; inside, \\ \" \n \r \t and \xNN stand for bytes. False with *why set
// when it cannot be read.
bool ParseText(const std::string& raw, std::string* bytes, std::string* why);

// A word of the script quoted for an error line: at most 64 bytes of it, then "..." after
// the closing quote, so that a huge word never floods the output.
std::string QuoteCut(const std::string& bytes);

// The line without its trailing comment. A '#' that follows a blank starts a comment,
// unless it is inside a double-quoted word. The TEXT of type and paste and the argument of
// `sim card` and `sim version` run to the end of the line, '#' included, so that any
// sentinel can be typed; a comment may follow such a text when it is in double quotes.
std::string WithoutComment(const std::string& line);

}  // namespace runner
