// The rules by which Windows spells paths and splits command lines, as pure string
// functions: the Win32 layer uses them at its edge, and the unit tests check them on
// any host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quodrel::platform {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view text);

// The extended-length form of a path ("\\?\C:\dir\file", "\\?\UNC\server\share\dir"),
// which reaches every length the file system allows and takes names literally.
// `path` may be relative, drive-relative ("\dir", "C:dir") or absolute, with "/" or
// "\"; "." and ".." are resolved as Windows resolves them, by spelling.
// `current_dir` is the absolute current directory. An empty path stays empty.
std::string long_path(const std::string& path, const std::string& current_dir);

// Splits a command line into arguments by the rules of the C runtime: blanks and
// tabs separate, double quotes group, 2n backslashes before a quote give n and the
// quote groups, 2n+1 give n and a literal quote, other backslashes are literal, and
// "" inside quotes is a literal quote. The program's name (the first word, quoted
// or not, without escapes) is left out.
std::vector<std::string> split_command_line(const std::string& line);

} // namespace quodrel::platform
