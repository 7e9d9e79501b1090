// Files in the page. A page has no file system of its own: the files it may read are the
// ones the user picked or dropped, and a save goes to the file the user chose in the
// browser's save dialog or, where the browser has none, to a download. The page's script
// (base/web/files.js) holds both under the names the file dialog returned; this layer
// keeps the rules of file_io.h on them.
#include <emscripten.h>

#include <algorithm>
#include <vector>

#include "base/file_io.h"
#include "base/web/page_wait.h"

extern "C" {
// base/web/files.js
int zarn_file_size(const char* path);
int zarn_file_read(const char* path, uint8_t* buffer, int length);
int zarn_file_write(const char* path, const uint8_t* bytes, int length);
}

namespace zarn::files {

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* bytes,
                     uint64_t* fileSize, std::string* error) {
    return ReadRegularFile(path, Access::READ, maxBytes, bytes, fileSize, error);
}

bool ReadRegularFile(const std::string& path, Access /*access*/, size_t maxBytes,
                     std::string* bytes, uint64_t* fileSize, std::string* error) {
    const int size = path.empty() ? -1 : zarn_file_size(path.c_str());
    if (size < 0) {
        if (error) *error = "no such file";
        return false;
    }
    std::vector<uint8_t> buffer(std::min<size_t>(maxBytes, static_cast<size_t>(size)));
    const int got = zarn_file_read(path.c_str(), buffer.data(), static_cast<int>(buffer.size()));
    if (got < 0) {
        if (error) *error = "no such file";
        return false;
    }
    if (bytes) bytes->assign(buffer.begin(), buffer.begin() + got);
    if (fileSize) *fileSize = static_cast<uint64_t>(size);
    return true;
}

bool WriteFileSafely(const std::string& path, const std::string& bytes, std::string* error) {
    if (web::WaitInFlight()) {
        // A save needs the page (the browser writes the file): never from inside a wait.
        if (error) *error = "busy";
        return false;
    }
    int result = 1;
    if (!path.empty()) {
        const web::PageWait wait;
        result = zarn_file_write(path.c_str(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<int>(bytes.size()));
    }
    if (result == 0) return true;
    if (error) *error = result == 1 ? "no such file" : "write failed";
    return false;
}

}  // namespace zarn::files
