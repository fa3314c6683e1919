// Hands the kernel the bytes of a folder's small files before they are asked for,
// once a file in it has been read: reading a tree file by file then reaches the mount
// about once a folder rather than once a file (each trip to the mount and back costs
// as much as reading a small file), while a walk that reads nothing (find, ls -R, du)
// is handed nothing. Bounded as mount::files_ahead says, each folder once; the kernel
// may drop these pages as any others. On a thread of its own, beside the serving
// threads.
#pragma once

#include "mount/served.h"
#include "mount/tree.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

struct fuse_session;

namespace quodrel::mount {

class Ahead {
public:
    Ahead(const Tree& tree, Served& served, struct fuse_session* session);
    Ahead(const Ahead&) = delete;
    Ahead& operator=(const Ahead&) = delete;
    ~Ahead() { stop(); }

    // Starts the thread (without one, every read reaches the mount, as without this);
    // stop ends it, at the next file.
    void start();
    void stop();

    // A file was read (its inode): the other small files of its folder are handed on,
    // the first time a file of that folder is read.
    void read(Inode file);

private:
    void run();
    void hand(Inode folder, Inode read, std::vector<char>& buffer);

    const Tree& tree_;
    Served& served_;
    struct fuse_session* session_;
    std::unique_ptr<std::atomic<bool>[]> handed_; // by a folder's inode - 1
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::pair<Inode, Inode>> folders_; // (folder, the file read in it)
    std::atomic<bool> stopped_{false};
    std::thread thread_;
};

} // namespace quodrel::mount
