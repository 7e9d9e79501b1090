// The .cfg settings file: exactly the 56 bytes of one configuration read image, file
// offset n holding image byte n, with no header and nothing after it.
#pragma once

#include <string>

#include "protocol/reader_config.h"

namespace settings_file {

constexpr const char* SETTINGS_FILE_DEFAULT_NAME = "Setup.cfg";

// Creates or replaces the settings file with the 56 bytes, as zarn::files::WriteFileSafely
// (base/file_io.h) does: only a regular file is opened, an existing one keeps its owner,
// group, mode, ACL, attributes and other names, and a failed save keeps the old file. False
// on any failure, an empty path included; *why, when given, then says why in a few words.
bool WriteSettingsFile(const std::string& path, const protocol::ConfigReadImage& image,
                       std::string* why = nullptr);

// Opens the existing regular file (anything else is refused without being opened, decided
// on the opened file) for reading and writing, so a file that cannot be written cannot be
// loaded either, and reads its first 56 bytes. False when the file cannot be opened or
// holds fewer than 56 bytes; later bytes are ignored.
bool ReadSettingsFile(const std::string& path, protocol::ConfigReadImage& image);

}  // namespace settings_file
