#include "rules/windows_paths.h"

#include <vector>

namespace quodrel::rules {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_drive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// The root of an absolute path ("C:\", "\\server\share\") and the rest after it.
void split_root(const std::string& path, std::string& root, std::string& rest) {
    if (is_drive(path)) {
        root = path.substr(0, 2) + "\\";
        rest = path.substr(2);
        return;
    }
    // \\server\share
    std::size_t at = 2;
    std::size_t server_end = path.find_first_of("\\/", at);
    if (server_end == std::string::npos) {
        root = "\\\\" + path.substr(at) + "\\";
        rest.clear();
        return;
    }
    std::size_t share_end = path.find_first_of("\\/", server_end + 1);
    if (share_end == std::string::npos)
        share_end = path.size();
    root = "\\\\" + path.substr(at, server_end - at) + "\\" +
           path.substr(server_end + 1, share_end - server_end - 1) + "\\";
    rest = path.substr(share_end);
}

// Joins `rest` onto `root`, dropping empty and "." components and taking ".." back,
// never above the root.
std::string normalize(const std::string& root, const std::string& rest) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !is_separator(rest[end]))
            ++end;
        const std::string part = rest.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out = root;
    for (std::size_t i = 0; i < parts.size(); ++i)
        out += (i == 0 ? "" : "\\") + parts[i];
    return out;
}

} // namespace

std::string long_path(const std::string& path, const std::string& current_dir) {
    if (path.empty())
        return path;
    if (path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) &&
        (path[2] == '?' || path[2] == '.') && is_separator(path[3]))
        return path; // already in the extended or device form
    std::string absolute;
    if (is_separator(path[0]) && path.size() >= 2 && is_separator(path[1])) {
        absolute = path; // \\server\share
    } else if (is_drive(path) && path.size() >= 3 && is_separator(path[2])) {
        absolute = path; // C:\dir
    } else if (is_separator(path[0])) {
        // The root of the current drive.
        std::string root, rest;
        split_root(current_dir, root, rest);
        absolute = root + path;
    } else if (is_drive(path)) {
        // "C:dir": below the current directory when that is on C:, else below C:'s root.
        const bool same = is_drive(current_dir) && (current_dir[0] | 0x20) == (path[0] | 0x20);
        absolute =
            same ? current_dir + "\\" + path.substr(2) : path.substr(0, 2) + "\\" + path.substr(2);
    } else {
        absolute = current_dir + "\\" + path;
    }
    std::string root, rest;
    split_root(absolute, root, rest);
    const std::string whole = normalize(root, rest);
    if (is_drive(whole))
        return "\\\\?\\" + whole;
    return "\\\\?\\UNC\\" + whole.substr(2);
}

} // namespace quodrel::rules
