// UTF-8 and UTF-16 at the edge of the Win32 layer, for the Windows parts of files,
// the terminal and clean-up.
#pragma once

#include <string>
#include <windows.h>

namespace quodrel::platform {

inline std::wstring to_utf16(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

inline std::string to_utf8(const std::wstring& utf16) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), &utf8[0], n,
                            nullptr, nullptr);
    return utf8;
}

} // namespace quodrel::platform
