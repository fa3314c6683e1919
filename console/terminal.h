// The command line, the terminal and standard output. One implementation per system
// (posix/terminal.inc, win32/terminal.inc), chosen by terminal.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quodrel::console {

// The command line as one UTF-8 string where the system hands it over whole
// (Windows, as UTF-16); false where the arguments arrive already split (argv).
bool whole_command_line(std::string& line);

// Which console key events end a wait (Windows reports keys as events with a
// virtual-key code and the character they produce, if any).
using KeyEndsWait = bool (*)(bool key_down, unsigned virtual_key, unsigned char character);

// Waits for one key press on the terminal or console itself (not standard input),
// in raw mode without echo, and restores the previous mode. On a terminal every key
// ends the wait; on a console the events `ends_wait` accepts do. Returns the key's
// first byte (or 0x100 + a Windows virtual-key code), or -1 at once when there is no
// terminal.
int read_console_key(KeyEndsWait ends_wait);

// Opens the null device onto each of the standard descriptors 0, 1 and 2 that is
// closed (write-only onto 0, read-only onto 1 and 2, so that reading a closed input
// and writing a closed output still fail), so that no file the program opens later
// can become one of them. First thing a program does.
void open_standard_descriptors();

// Makes standard output and standard error write every byte as given, with no newline
// translation.
void prepare_standard_output();

// Writes a piece of the program's text (UTF-8) to standard output, or standard error:
// a Windows console gets it as UTF-16, so names show right in any code page; anything
// else gets the very bytes. False when it could not be written.
bool write_text(std::string_view text);
bool write_error_text(std::string_view text);

// Standard input and output as an archive's bytes, never text (Windows reads and
// writes them in binary mode, as prepare_standard_output sets them).
// Whether standard input (0) or output (1) is a terminal or console.
bool is_a_terminal(int standard);
// Readies standard input to be read as an archive: a pipe widened where the system
// lets it be (fewer turns between its writer and this reader).
void prepare_input();
// Reads standard input to its end where it is a pipe, so that what writes into it is not
// cut off (a file or a device is left as it is: /dev/zero has no end).
void drain_input();

} // namespace quodrel::console
