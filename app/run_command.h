// The front end: chooses a route from the arguments and runs it.
#pragma once

#include <string>
#include <vector>

namespace quodrel {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitError = 1; // an "ERROR! " line was printed
constexpr int kExitUsage = 2; // the arguments fit no route: the usage text was shown

// Runs the program on its arguments (without the program's own name) and returns
// the exit status.
int run_command(const std::vector<std::string>& args);

// The program's arguments, without its own name, as UTF-8 on every system (Windows
// hands them over as one UTF-16 command line, split here by its own rules).
std::vector<std::string> arguments(int argc, char** argv);

// How many threads move file contents: QUODREL_THREADS when set (1 to 1024), else one
// per core.
unsigned requested_threads();

// Prints the usage text, then waits for a key.
void print_usage();

// Prints the usage text with the routes for scripts, the exit statuses and where
// to read more; no key wait.
void print_help();

// Waits for one key press on the console, without echo; returns at once when there
// is no console. Returns the key's first byte, or -1.
int wait_for_key();

// The archive a dropped folder is packed into: beside it, under its name plus
// ".dat". Trailing separators go first ("maps/" gives "maps.dat"), but a root keeps
// one ("/" gives "/.dat"; with the Windows rules "\" and "C:\" likewise).
std::string archive_path_beside(const std::string& folder, bool windows_rules);

// Whether a folder's path ends in a "." or ".." part ("src/..", "."; with the Windows
// rules also "src\\.", and "C:", "C:." or "C:..", drive C's current folder or its
// parent), which names the folder only as resolved: such a folder's archive is named
// after the folder the path resolves to, not after the dots or the drive.
bool ends_in_dots_part(const std::string& folder, bool windows_rules);

// Whether a dropped path names an archive: its last four characters are ".dat" in
// any letter case.
bool has_archive_suffix(const std::string& path);

} // namespace quodrel
