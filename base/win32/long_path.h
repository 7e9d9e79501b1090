// How base/win32 names a file to the W functions at any length.
#pragma once

#include <string>

namespace zarn::files {

// The path as it is while its full form is short (under 248 characters, the classic limit
// for a folder); else that full form, with relative parts, "." and ".." and forward slashes
// resolved by the system as the classic form would have them, behind \\?\ (or \\?\UNC\ for
// \\server\share). A path that begins \\?\ or \\.\ is left as it is.
std::wstring LongPathForm(const std::wstring& path);

}  // namespace zarn::files
