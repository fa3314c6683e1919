// The one rule by which this system tells whether two names, or two paths, are one:
// a name clash in extraction, the entry a path finds, the entry a file of a folder
// laid over an archive replaces, the folder's path a comparison meets.
#pragma once

#include <string>
#include <string_view>

namespace quodrel {

struct NameRules {
    bool windows_rules = false; // Windows' names: no devices, no trailing dots or blanks
    // How the file system compares names, where it folds their case; else names are
    // the same only byte for byte.
    std::string (*fold)(const std::string& name) = nullptr;
};

// This system's rules: Windows' (and its folding of letter case) on Windows.
NameRules system_name_rules();

// A path or name as `rules` compare names: under Windows' rules "\\" separates as
// "/" does (no name Windows holds contains it) and names are folded as the file
// system folds them; elsewhere the bytes themselves.
std::string compared_path(std::string_view path, const NameRules& rules);

} // namespace quodrel
