#include "mount/ahead.h"

#include "mount/rules.h"
#include "mount/signals.h"

#include <fuse_lowlevel.h>

namespace quodrel::mount {

Ahead::Ahead(const Tree& tree, Served& served, struct fuse_session* session)
    : tree_(tree), served_(served), session_(session), handed_(new std::atomic<bool>[tree.size()]) {
    for (std::size_t i = 0; i < tree.size(); ++i)
        handed_[i].store(false, std::memory_order_relaxed);
}

void Ahead::start() {
    try {
        thread_ = quiet_thread([this] { run(); });
    } catch (...) {
        // No thread to be had: every read reaches the mount, as without this.
    }
}

void Ahead::stop() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopped_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void Ahead::read(Inode file) {
    const Node* node = tree_.node(file);
    if (!node)
        return;
    std::atomic<bool>& handed = handed_[node->parent - 1];
    if (handed.load(std::memory_order_relaxed) || handed.exchange(true))
        return; // (each read asks: most find their folder handed already)
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (stopped_ || !thread_.joinable())
            return;
        folders_.emplace_back(node->parent, file);
    }
    wake_.notify_one();
}

void Ahead::run() {
    std::vector<char> buffer;
    for (;;) {
        std::pair<Inode, Inode> next;
        {
            std::unique_lock<std::mutex> lock(lock_);
            wake_.wait(lock, [this] { return stopped_ || !folders_.empty(); });
            if (stopped_)
                return;
            next = folders_.front();
            folders_.pop_front();
        }
        hand(next.first, next.second, buffer);
    }
}

void Ahead::hand(Inode folder, Inode read, std::vector<char>& buffer) {
    const std::vector<Inode>& children = tree_.node(folder)->children;
    std::vector<std::uint64_t> sizes;
    std::size_t read_at = 0;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Node& child = *tree_.node(children[i]);
        sizes.push_back(child.folder ? kNotAFile : child.size);
        if (children[i] == read)
            read_at = i;
    }
    for (const std::size_t i : files_ahead(sizes, read_at)) {
        if (stopped_)
            return;
        const Inode file = children[i];
        const std::size_t length = served_.read(*tree_.node(file), 0, sizes[i], buffer);
        if (length == Served::kUnread)
            return; // the archive changed: nothing more of it is handed on
        struct fuse_bufvec bytes = {};
        bytes.count = 1;
        bytes.buf[0].size = length;
        bytes.buf[0].mem = buffer.data();
        fuse_lowlevel_notify_store(session_, file, 0, &bytes, static_cast<fuse_buf_copy_flags>(0));
    }
}

} // namespace quodrel::mount
