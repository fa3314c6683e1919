// The command line, the terminal and standard output.
#pragma once

#include <string>
#include <vector>

namespace quodrel::platform {

// The program's arguments, without its own name, as UTF-8 on every system (Windows
// hands them over as UTF-16: they are split from the wide command line).
std::vector<std::string> arguments(int argc, char** argv);

// Waits for one key press on the terminal or console itself (not standard input),
// in raw mode without echo, and restores the previous mode. Returns the key's first
// byte (or 0x100 + a Windows virtual-key code), or -1 at once when there is no
// terminal.
int read_console_key();

// Makes standard output write every byte as given, with no newline translation. On a
// Windows console, its output code page is UTF-8 for the run, so names read right;
// it is put back when the program ends.
void prepare_standard_output();

} // namespace quodrel::platform
