// Clean-up when the run is ended from outside (any signal that ends a process by
// default and can be caught: an interrupt, termination, hang-up, Ctrl+\, a timer, a
// user or real-time signal, a fault sent by kill; on Windows Ctrl+C, Ctrl+Break or a
// closing console): no half-written output is left behind. A fault reaches whichever
// thread takes it, one of the library's too, and is handled there. The library tells,
// through the hooks given here, which file each of its threads is creating and when it
// is complete; the handlers remove what is not. Telling costs no system call: each
// thread has a slot of its own, allocated when the handlers are installed, and the
// handlers read only those.
#pragma once

#include "quodrel/quodrel.h"

#include <vector>

namespace quodrel::console {

// The signals that end the run and are handled so (POSIX; none on Windows).
const std::vector<int>& ending_signals();

// Installs the handlers and returns the hooks for operations that run on up to
// `threads` threads. Until it is called no handler is installed.
const quodrel_output_hooks* guard_outputs_on_signals(unsigned threads);

// Ends the run as an interrupt would, from any thread: every guarded output is
// removed, and the process exits with `status`.
[[noreturn]] void end_run(int status);

// Holds the signals that end the run (on Windows, the console's events) from now on,
// on the calling thread, the only one of the program's that takes them: an archive
// being put in place ends the run as a finished one. Called on the thread that runs
// the operations.
void hold_ending_signals();

// Lets them through again: one that came meanwhile ends the run now, as it would have.
void release_ending_signals();

// Stops the run until it is let go, for a test that does something (sends a signal) at
// a moment it chooses: POSIX stops the process until it is continued; Windows makes the
// file QUODREL_TEST_STOP_FILE names and waits until it is gone.
void stop_here();

} // namespace quodrel::console
