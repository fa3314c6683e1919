// How Windows spells a path that reaches every length, as a pure string function:
// the Win32 layer uses it at its edge, and the unit tests check it on any host.
#pragma once

#include <string>

namespace quodrel::rules {

// The extended-length form of a path ("\\?\C:\dir\file", "\\?\UNC\server\share\dir"),
// which reaches every length the file system allows and takes names literally.
// `path` may be relative, drive-relative ("\dir", "C:dir") or absolute, with "/" or
// "\"; "." and ".." are resolved as Windows resolves them, by spelling.
// `current_dir` is the absolute current directory. An empty path stays empty.
std::string long_path(const std::string& path, const std::string& current_dir);

} // namespace quodrel::rules
