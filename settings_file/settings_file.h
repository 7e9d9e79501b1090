// The .cfg settings file: exactly the 56 bytes of one configuration read image, file
// offset n holding image byte n, with no header and nothing after it.
#pragma once

#include <string>

#include "protocol/reader_config.h"

constexpr const char* SETTINGS_FILE_DEFAULT_NAME = "Setup.cfg";

// Creates or replaces the file with the 56 bytes. The bytes go to a new file in the same
// folder first, which is flushed to disk and then renamed over the target, so a write that
// fails half-way leaves an existing file as it was. An existing target must be a regular
// file that can be opened for writing. False on any failure, an empty path included.
bool WriteSettingsFile(const std::string& path, const ConfigReadImage& image);

// Opens the existing file for reading and writing (so a file that cannot be written
// cannot be loaded either) and reads its first 56 bytes. False when the file cannot be
// opened or holds fewer than 56 bytes; later bytes are ignored.
bool ReadSettingsFile(const std::string& path, ConfigReadImage& image);
