// What the program's routes ask of the disk themselves, before any operation: what a
// dropped path is. One implementation per system (posix/paths.inc, win32/paths.inc).
#pragma once

#include <string>

namespace quodrel::console {

// Whether the program runs under Windows' rules for names and paths.
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Whether `path` opens for reading as a file: a folder, a FIFO or a device does not
// (and a FIFO never blocks the test); an empty path names nothing.
bool opens_as_file(const std::string& path);

// Whether anything is at `path` (links followed).
bool exists(const std::string& path);

// The absolute path that `path` names, as the system resolves it ("." and ".."
// resolved; on POSIX systems links too); `path` itself where it cannot be resolved.
std::string resolved(const std::string& path);

// `path` with its last part as the file or folder there names itself: on Windows a
// short (8.3) alias becomes the long name it stands for ("MYLO~OU1.DAT" the file
// "My long archive.dat"); elsewhere, or where nothing is there, `path` as it is.
std::string with_long_name(const std::string& path);

} // namespace quodrel::console
