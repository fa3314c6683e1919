// What the mount needs of the system to stand: its standard descriptors, the folder
// it stands on, enough descriptors, and going to the background as a daemon does,
// where its lines go to the system log.
#pragma once

#include <string>

namespace quodrel::mount {

// Opens the null device onto each closed standard descriptor (read-only onto 1 and 2,
// write-only onto 0, so that using a closed one still fails), before anything else is
// opened: the archive must never become one of them, which the daemon points at the
// null device.
void open_standard_descriptors();

// The folder a mount can stand on, as an absolute path (the daemon leaves the current
// folder, and unmounts by this path); "" when `path` is no folder (libfuse would mount
// on a file too).
std::string mount_folder(const std::string& path);

// Whether libfuse can have the descriptors it opens to mount: the FUSE device, and
// where it mounts through fusermount3 (a user who is not root), the socket pair on
// which it is handed the device.
bool descriptors_to_mount();

// The background: what the daemon needs is taken while a failure can still be told
// (the null device for its standard descriptors, and a pipe on which it tells the
// program it left that the mount is served).
class Daemon {
public:
    ~Daemon();
    // False when it cannot be had (too few descriptors).
    bool prepare();
    // Goes to the background. In the program started: true once the mount is served
    // (exit status 0), false when the daemon could not serve it. In the daemon
    // (`daemon_side`): true.
    bool leave(bool& daemon_side);
    // In the daemon: tells the program it left that the mount is served.
    void served();

private:
    int null_ = -1;
    int ready_[2] = {-1, -1};
};

// A line of the running mount: on standard output in the foreground, in the system
// log in the background, where standard output is the null device.
void tell(const std::string& line);

} // namespace quodrel::mount
