// Small files on the local file system: read only when they are regular files, decided on
// the file that was opened. Each platform has its own implementation (base/posix/,
// base/win32/); this header is the whole interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn::files {

// Opens `path` for reading and decides on the opened file itself (no second lookup of the
// name) that it is a regular file; a FIFO, device, socket or folder is refused before any
// byte is read and without blocking. Reads at most `maxBytes` bytes into *bytes (fewer when
// the file is shorter) and sets *fileSize to the file's whole size as fstat gives it, so a
// caller can refuse or note what lies beyond. False on failure, with *error a short
// lower-case English reason ("no such file", "permission denied", "not a regular file", "is
// a folder", or strerror's text).
bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error);

}  // namespace zarn::files
