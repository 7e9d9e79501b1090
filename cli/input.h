// Reading an input file of the command line, "-" being standard input.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// Up to `maxBytes` bytes of `path`, and in *size the whole size (for standard input: the
// bytes read, maxBytes + 1 when more were waiting). A file must be a regular file: a
// folder, FIFO or device is refused before anything is read. Throws EXIT_FILE with
// "PATH: cannot read: reason".
std::string ReadInput(const std::string& path, size_t maxBytes, uint64_t* size);

}  // namespace cli
