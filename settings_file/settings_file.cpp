// The settings file's format on top of the platform's file access (base/file_io.h): the
// 56 bytes saved safely as the whole file, and loaded from the first 56 bytes of a regular
// file opened for reading and writing.
#include "settings_file/settings_file.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "base/file_io.h"

namespace settings_file {

bool WriteSettingsFile(const std::string& path, const protocol::ConfigReadImage& image,
                       std::string* why) {
    return zarn::files::WriteFileSafely(path, std::string(image.begin(), image.end()), why);
}

bool ReadSettingsFile(const std::string& path, protocol::ConfigReadImage& image) {
    // Read and write access, as the file was always opened: a file that cannot be written
    // cannot be loaded. Anything but a regular file is refused without being opened.
    std::string bytes;
    uint64_t size = 0;
    std::string error;
    if (!zarn::files::ReadRegularFile(path, zarn::files::Access::READ_WRITE, image.size(), &bytes,
                                      &size, &error) ||
        bytes.size() < image.size())
        return false;
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return true;
}

}  // namespace settings_file
