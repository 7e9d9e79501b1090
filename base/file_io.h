// Small files on the local file system: read only when they are regular files, decided on
// the file that was opened, and saved so that a reader of the name sees the old file or the
// new one, whole. Each platform has its own implementation (base/posix/, base/win32/); this
// header is the whole interface. Paths are byte strings: as the system takes them on POSIX,
// UTF-8 on Windows (opened as UTF-16, at any length).
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

// How a file is opened for reading.
enum class Access {
    READ,        // reading only (shared with other readers on Windows)
    READ_WRITE,  // reading and writing (unshared on Windows): a file that cannot be written,
                 // or is open elsewhere on Windows, is refused with "permission denied"
};

// ReadRegularFile with the file opened as `access` says.
bool ReadRegularFile(const std::string& path, Access access, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error);

// Saves `bytes` as the whole content of the file at `path`, creating it if it is missing.
// The path is opened as given (symbolic links and permissions as the system rules for an
// open) and only a regular file is ever opened, decided on the opened file. An existing file
// keeps its owner, group, mode, ACL and extended attributes and its other names: it is
// replaced atomically (a sibling flushed and renamed over it) where the sibling can be made
// identical in all of these, and rewritten in place otherwise or when there is no room or
// no right to replace it, never cut short before the new bytes are in. True only when
// every byte is on disk. A failed save leaves an existing file's bytes and length as they
// were (only its length when it could not be read), removes a file it created and leaves
// no temporary file; *error, when given, says why in a few lower-case words.
bool WriteFileSafely(const std::string& path, const std::string& bytes,
                     std::string* error = nullptr);

}  // namespace zarn::files
