// The mount's answers to the kernel, over libfuse 3's low-level interface. Entries
// are known by inode number (mount::Tree), and the kernel keeps what it was told:
// names, folders, pages. Opening a file or a folder never reaches the mount, so a
// file read twice reaches it once.
#pragma once

#include "mount/ahead.h"
#include "mount/served.h"
#include "mount/tree.h"

#include <functional>
#include <sys/types.h>
#include <thread>

struct fuse_lowlevel_ops;
struct fuse_session;

namespace quodrel::mount {

// What the callbacks serve: the session's user data.
struct Mounted {
    Tree tree;
    Served archive;
    uid_t user = 0;
    gid_t group = 0;
    unsigned max_read = 0;    // as -o max_read= asks, which the kernel is told again
    bool asks_open = true;    // whether the kernel asks before each open of a file,
    bool asks_opendir = true; // and of a folder
    struct fuse_session* session = nullptr;
    Ahead* ahead = nullptr;       // told of every read
    std::function<void()> served; // once the kernel's first request is answered
    std::thread forgetting;       // drops the kernel's pages of a changed archive
};

// The callbacks.
const struct fuse_lowlevel_ops& operations();

// Tells, once, that the archive was written over (an "ERROR! " line: mount::tell), and
// drops what the kernel keeps of every file on a thread of its own, so that no read is
// served from the archive as it was: the kernel's dropping of a file's pages waits for
// reads of it in flight, which the serving threads must be free to answer.
void archive_changed(Mounted& mounted);

} // namespace quodrel::mount
