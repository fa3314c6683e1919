// UTF-8 and UTF-16 at the edge of the Win32 layer (Windows only).
#pragma once

#include <string>

namespace quodrel::platform {

std::wstring to_utf16(const std::string& utf8);
std::string to_utf8(const std::wstring& utf16);

// A path as the program holds it (UTF-8, as the user gave it or joined from names)
// in the extended-length UTF-16 form the wide calls take.
std::wstring native_path(const std::string& path);

} // namespace quodrel::platform
