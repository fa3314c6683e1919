// The terminal and standard output.
#pragma once

namespace quodrel::platform {

// Waits for one key press on the terminal or console itself (not standard input),
// in raw mode without echo, and restores the previous mode. Returns the key's first
// byte (or 0x100 + a Windows virtual-key code), or -1 at once when there is no
// terminal.
int read_console_key();

// Makes standard output write every byte as given, with no newline translation.
void prepare_standard_output();

} // namespace quodrel::platform
