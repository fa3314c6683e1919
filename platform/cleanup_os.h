// What the clean-up's common part needs from each system (cleanup_posix.cpp,
// cleanup_win32.cpp), and what it gives their handlers.
#pragma once

namespace quodrel::platform::cleanup {

// Installs the handlers that call sweep(); once per process.
void install_handlers();
// Removes a file from within a handler.
void remove_now(const char* path);
// Sleeps about a millisecond from within a handler.
void nap();
// Blocks the calling thread for good: the process is about to end.
[[noreturn]] void wait_for_the_end();
// Ends the process by `signal` with its default action (POSIX only).
[[noreturn]] void end_by(int signal);

// Removes every guarded output. Waits (a bounded while) for slots of other threads
// that are in the middle of creating their file.
void sweep();
// For a POSIX handler on the main thread: when the main thread itself was in the
// middle of creating an output, the signal is kept for output_created to act on,
// and true is returned.
bool defer_while_main_creates(int signal);

} // namespace quodrel::platform::cleanup
