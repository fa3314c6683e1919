#include "rules/windows_paths.h"

namespace quodrel::rules {

bool ends_in_separator(std::string_view folder, bool windows_rules) {
    if (folder.empty())
        return false;
    if (!windows_rules)
        return folder.back() == '/';
    return folder.back() == '/' || folder.back() == '\\' ||
           (folder.size() == 2 && folder[1] == ':');
}
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

bool is_literal_form(std::string_view path) {
    return path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) &&
           (path[2] == '?' || path[2] == '.') && is_separator(path[3]);
}

bool is_extended_form(std::string_view path) { return is_literal_form(path) && path[2] == '?'; }

std::string as_windows_reads(std::string_view path) {
    if (is_extended_form(path))
        return std::string(path);
    const std::size_t cut = path.find_last_of("/\\");
    // "X:name" is name in drive X's current folder: the drive is no part of it.
    const bool drive_relative =
        cut == std::string_view::npos && path.size() >= 2 && is_letter(path[0]) && path[1] == ':';
    const std::size_t start = cut != std::string_view::npos ? cut + 1 : drive_relative ? 2 : 0;
    const std::size_t keep = path.substr(start).find_last_not_of(". ");
    if (keep == std::string_view::npos)
        return std::string(path);
    return std::string(path.substr(0, start + keep + 1));
}

std::string with_backslashes(std::string_view path) {
    // The prefix is kept; after it, "/" becomes "\\" and separators in a row are one
    // (literal paths take an empty part for a name).
    std::string out(path.substr(0, path.size() < 4 ? path.size() : 4));
    for (char& c : out)
        if (c == '/')
            c = '\\';
    for (std::size_t i = out.size(); i < path.size(); ++i) {
        const char c = path[i] == '/' ? '\\' : path[i];
        if (c != '\\' || out.back() != '\\')
            out += c;
    }
    return out;
}

std::string extended_form(std::string_view full_path) {
    // A folder's closing separator goes ("C:\\maps\\" is "C:\\maps"), but for a drive's root.
    while (full_path.size() > 3 && is_separator(full_path.back()) &&
           !(full_path.size() == 7 && is_literal_form(full_path) && full_path[5] == ':'))
        full_path.remove_suffix(1);
    // A drive reached through the device form is the same drive, named literally.
    if (is_literal_form(full_path) && full_path[2] == '.' && full_path.size() >= 6 &&
        is_letter(full_path[4]) && full_path[5] == ':')
        return "\\\\?\\" + with_backslashes(full_path.substr(4));
    if (is_literal_form(full_path))
        return with_backslashes(full_path);
    if (full_path.size() >= 3 && is_letter(full_path[0]) && full_path[1] == ':' &&
        is_separator(full_path[2]))
        return "\\\\?\\" + with_backslashes(full_path);
    if (full_path.size() >= 3 && is_separator(full_path[0]) && is_separator(full_path[1]) &&
        !is_separator(full_path[2]))
        return "\\\\?\\UNC\\" + with_backslashes(full_path.substr(2));
    return std::string(full_path);
}

Existing existing_from_attributes(std::uint32_t attributes) {
    constexpr std::uint32_t kFolder = 0x10, kDevice = 0x40, kReparsePoint = 0x400;
    if (attributes & (kReparsePoint | kDevice))
        return Existing::refused;
    return attributes & kFolder ? Existing::folder : Existing::file;
}

} // namespace quodrel::rules
