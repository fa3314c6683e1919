// UTF-8 and UTF-16 at the edge of the Win32 layer: the wide calls take wchar_t, which
// is a UTF-16 code unit on Windows.
#pragma once

#include "rules/utf8.h"

#include <string>

namespace quodrel::platform {

inline std::wstring to_utf16(const std::string& utf8) { return rules::to_utf16<wchar_t>(utf8); }

inline std::string to_utf8(const std::wstring& utf16) { return rules::to_utf8(utf16); }

} // namespace quodrel::platform
