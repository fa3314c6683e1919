// How signals end the mount: every signal that ends a process by default, sent to
// the daemon (or to the program in the foreground: Ctrl+C, Ctrl+\), ends its session,
// after which it unmounts and exits as after fusermount3 -u. A fault of its own
// (mount::own_fault) detaches the mount first and then ends the process by its signal.
#pragma once

#include <functional>
#include <string>
#include <thread>

struct fuse_session;

namespace quodrel::mount {

// From now on each ending signal ends `session`, mounted at `mount_point`, except
// those ignored when the program started (a background job's SIGINT and SIGQUIT,
// nohup's SIGHUP: they stay so). SIGPIPE is ignored: writing to a closed output fails
// as a write, rather than ending the mount.
void end_session_on_signals(struct fuse_session* session, const std::string& mount_point);
// From now on signals leave `session` alone (it is about to be destroyed).
void forget_session();

// Starts a thread of the mount's own, with the ending signals but the faults blocked
// in it, so that a signal reaches a thread whose wait it interrupts (the serving
// threads, or the one waiting for them). Throws as std::thread does.
std::thread quiet_thread(std::function<void()> run);

} // namespace quodrel::mount
