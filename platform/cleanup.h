// Clean-up when the run is ended from outside (an interrupt, termination or hang-up
// signal; on Windows Ctrl+C, Ctrl+Break or a closing console): no half-written
// output is left behind. Each thread that creates outputs holds a slot; slot 0
// belongs to the main thread. Marking an output costs no system call: the handlers
// are installed once, and they read the paths from these pre-allocated slots.
#pragma once

#include <string>

namespace quodrel::platform {

// How many threads may guard outputs at once: the main thread's slot 0 and one each
// for up to 64 more. Whoever starts threads that write outputs caps their count by it.
constexpr int kCleanupSlots = 65;

struct Folder;

// Installs the handlers and guards outputs from then on; until it is called (a
// library never does), outputs are not guarded and no handler is installed.
void guard_outputs_on_signals();

// Before the call that creates `path`, or `name` in `folder`.
void begin_output(int slot, const std::string& path);
void begin_output(int slot, const Folder& folder, const std::string& name);
// After that call: when `created`, the file is removed if the run is ended before
// output_finished.
void output_created(int slot, bool created);
// The output is complete (or its writer removed it itself): it stays.
void output_finished(int slot);

// Ends the run as an interrupt would, from any thread: every guarded output is
// removed, and the process exits with `status`.
[[noreturn]] void end_run(int status);

// Keeps the ending signals away from the calling thread, so that they are handled on
// the main thread. Called first thing by every worker thread.
void keep_signals_from_this_thread();

} // namespace quodrel::platform
