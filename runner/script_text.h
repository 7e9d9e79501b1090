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

}  // namespace runner
