// The .cfg settings file: exactly the 56 bytes of one configuration read image, file
// offset n holding image byte n, with no header and nothing after it.
#pragma once

#include <string>

#include "protocol/reader_config.h"

constexpr const char* SETTINGS_FILE_DEFAULT_NAME = "Setup.cfg";

// Saves `bytes` as the whole content of the file at `path`, creating it if it is missing.
// The path is opened as given (symbolic links and permissions as the system rules for an
// open), and only a regular file is ever opened. An existing file keeps its owner, group,
// mode, other names and attributes; it is replaced atomically where that keeps them all,
// and rewritten in place otherwise (or when there is no room or no right to replace it),
// never cut short before the new bytes are in. True only when every byte is on disk; a
// failed save leaves an existing file as it was, as far as the failure lets it be put
// back, and removes a file it created.
bool WriteFileSafely(const std::string& path, const std::string& bytes);

// Creates or replaces the settings file with the 56 bytes, as WriteFileSafely does. False
// on any failure, an empty path included.
bool WriteSettingsFile(const std::string& path, const ConfigReadImage& image);

// Opens the existing regular file (anything else is refused before it is opened) for
// reading and writing, so a file that cannot be written cannot be loaded either, and reads
// its first 56 bytes. False when the file cannot be
// opened or holds fewer than 56 bytes; later bytes are ignored.
bool ReadSettingsFile(const std::string& path, ConfigReadImage& image);
