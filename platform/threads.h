// What the library's own threads ask of the system.
#pragma once

namespace quodrel::platform {

// Keeps every asynchronous signal (an interrupt, termination, a timer, a closed pipe)
// away from the calling thread, so that the host's handlers run on the host's own
// threads. Called first thing by every thread the library starts.
void block_asynchronous_signals();

} // namespace quodrel::platform
