// How Windows spells paths, as pure string functions: the Win32 layer uses them at its
// edge, and the unit tests check them on any host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quodrel::rules {

// Whether a folder as a user gave it ends in a separator ("out/", and under Windows'
// rules "out\\"), or is a drive's current folder ("Z:", under Windows' rules), after
// which a name follows without another separator.
bool ends_in_separator(std::string_view folder, bool windows_rules);

// Whether a path is already in the extended-length ("\\?\") or device ("\\.\") form.
bool is_literal_form(std::string_view path);

// Whether a path is in the extended-length form ("\\?\"), which Windows takes
// literally, "/" being no separator there. (Below "\\.\" it still normalises names:
// "save." is "save" there.)
bool is_extended_form(std::string_view path);

// A literal-form path with every "/" after its prefix made a "\": the program joins
// names to paths with "/", which inside such a path must be the real separator.
// (No name Windows holds contains "/".)
std::string with_backslashes(std::string_view path);

// The extended-length form of an absolute path as Windows resolves one (what
// GetFullPathNameW gives: "C:\dir\file", "\\server\share\dir", "\\.\C:\dir"):
// "\\?\C:\dir\file", "\\?\UNC\server\share\dir", which reaches every length the
// file system allows and takes names literally from then on. A path in the
// extended-length form already is given back with backslashes; a device path that is
// no drive ("\\.\pipe\x") likewise; anything else comes back as it is.
std::string extended_form(std::string_view full_path);

// A typed path with its last part as Windows reads it: trailing dots and blanks
// dropped ("ref.dat." and "ref.dat " name ref.dat, "src." names src, "C:src." names
// src in drive C's current folder). A part that is ".", "..", or dots and blanks alone
// ("C:.." is the parent of drive C's current folder), and a path in the
// extended-length form, which Windows takes literally, stay as they are.
std::string as_windows_reads(std::string_view path);

// What the program makes of something already where it would make a folder or write
// a file, from the attributes Windows reports for it (FILE_ATTRIBUTE_*): a reparse
// point (a symbolic link or a junction, to a folder or to a file) and a device are
// never written through; otherwise a folder or a file.
enum class Existing { folder, file, refused };
Existing existing_from_attributes(std::uint32_t attributes);

} // namespace quodrel::rules
