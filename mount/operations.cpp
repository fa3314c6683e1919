#include "mount/operations.h"

#include "mount/daemon.h"
#include "mount/signals.h"
#include "report/printer.h"

#include <cerrno>
#include <cstring>
#include <fuse_lowlevel.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quodrel::mount {
namespace {

static_assert(kRoot == FUSE_ROOT_ID, "the tree's root is the kernel's");

// How long the kernel may keep what it was told: nothing ever changes.
constexpr double kKeep = 86400.0 * 365;

Mounted& mounted_of(fuse_req_t request) {
    return *static_cast<Mounted*>(fuse_req_userdata(request));
}

struct stat attributes(const Mounted& mounted, fuse_ino_t inode, const Node& node) {
    struct stat st = {};
    st.st_ino = inode;
    st.st_mode = node.folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    st.st_nlink = node.folder ? 2 : 1;
    st.st_size = static_cast<off_t>(node.size);
    st.st_blksize = 65536;
    st.st_blocks = static_cast<blkcnt_t>((node.size + 511) / 512);
    st.st_uid = mounted.user;
    st.st_gid = mounted.group;
    st.st_atim = st.st_mtim = st.st_ctim = mounted.archive.at_mount().st_mtim;
    return st;
}

fuse_entry_param entry_of(const Mounted& mounted, fuse_ino_t inode) {
    fuse_entry_param entry = {};
    entry.ino = inode;
    entry.generation = 1;
    entry.attr = attributes(mounted, inode, *mounted.tree.node(inode));
    entry.attr_timeout = kKeep;
    entry.entry_timeout = kKeep;
    return entry;
}

void on_init(void* data, struct fuse_conn_info* connection) {
    Mounted& mounted = *static_cast<Mounted*>(data);
    mounted.asks_open = !(connection->capable & FUSE_CAP_NO_OPEN_SUPPORT);
    mounted.asks_opendir = !(connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT);
    connection->max_read = mounted.max_read; // (libfuse wants the mount option repeated)
    // The mount is served: the program waiting in the foreground may say so and end.
    if (mounted.served)
        mounted.served();
}

void on_lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
    const Mounted& mounted = mounted_of(request);
    const Inode found = mounted.tree.find(parent, name);
    if (found == 0) {
        fuse_entry_param none = {}; // no such name, and the kernel may remember that
        none.entry_timeout = kKeep;
        fuse_reply_entry(request, &none);
        return;
    }
    const fuse_entry_param entry = entry_of(mounted, found);
    fuse_reply_entry(request, &entry);
}

void on_getattr(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info*) {
    const Mounted& mounted = mounted_of(request);
    const Node* node = mounted.tree.node(inode);
    if (!node) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    const struct stat st = attributes(mounted, inode, *node);
    fuse_reply_attr(request, &st, kKeep);
}

// Opening needs nothing of the mount: the mount is read-only, so the kernel refuses
// every open for writing itself, and a read names its inode. Told so once (ENOSYS),
// the kernel opens and closes without asking, and keeps a file's pages, and a
// folder's entries, from one open to the next. A kernel that cannot is told to keep
// them.
void on_open(fuse_req_t request, fuse_ino_t, struct fuse_file_info* info) {
    if (!mounted_of(request).asks_open) {
        fuse_reply_err(request, ENOSYS);
        return;
    }
    info->keep_cache = 1;
    fuse_reply_open(request, info);
}

void on_opendir(fuse_req_t request, fuse_ino_t, struct fuse_file_info* info) {
    if (!mounted_of(request).asks_opendir) {
        fuse_reply_err(request, ENOSYS);
        return;
    }
    info->keep_cache = 1;
    info->cache_readdir = 1;
    fuse_reply_open(request, info);
}

// A folder's entries from `offset` on, as many as fit in `size` bytes; with `plus`,
// each with its attributes, so that reading a folder also looks up its names.
void list(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus) {
    const Mounted& mounted = mounted_of(request);
    const Node* node = mounted.tree.node(inode);
    if (!node) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    if (!node->folder) {
        fuse_reply_err(request, ENOTDIR);
        return;
    }
    std::vector<char> buffer(size);
    std::size_t used = 0;
    const std::size_t count = node->children.size() + 2;
    for (std::size_t i = offset < 0 ? 0 : static_cast<std::size_t>(offset); i < count; ++i) {
        const fuse_ino_t child = i == 0 ? inode : i == 1 ? node->parent : node->children[i - 2];
        const char* name = i == 0 ? "." : i == 1 ? ".." : mounted.tree.node(child)->name.c_str();
        std::size_t added;
        if (plus && i >= 2) {
            const fuse_entry_param entry = entry_of(mounted, child);
            added = fuse_add_direntry_plus(request, buffer.data() + used, size - used, name, &entry,
                                           static_cast<off_t>(i + 1));
        } else if (plus) {
            fuse_entry_param dots = {}; // "." and "..": the kernel looks them up itself
            dots.attr.st_ino = child;
            dots.attr.st_mode = S_IFDIR;
            added = fuse_add_direntry_plus(request, buffer.data() + used, size - used, name, &dots,
                                           static_cast<off_t>(i + 1));
        } else {
            struct stat st = {};
            st.st_ino = child;
            st.st_mode = mounted.tree.node(child)->folder ? S_IFDIR : S_IFREG;
            added = fuse_add_direntry(request, buffer.data() + used, size - used, name, &st,
                                      static_cast<off_t>(i + 1));
        }
        if (added > size - used)
            break;
        used += added;
    }
    fuse_reply_buf(request, buffer.data(), used);
}

void on_readdir(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                struct fuse_file_info*) {
    list(request, inode, size, offset, false);
}

void on_readdirplus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                    struct fuse_file_info*) {
    list(request, inode, size, offset, true);
}

// A file's bytes, read from the archive and checked (Served::read). They are copied
// through the mount rather than spliced from the archive's pages: a spliced range
// is read by the kernel after the mount has looked at the archive, and could be the
// new bytes of a change it did not see. Its folder's other small files follow ahead.
void on_read(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
             struct fuse_file_info*) {
    Mounted& mounted = mounted_of(request);
    const Node* node = mounted.tree.node(inode);
    if (!node || node->folder || offset < 0) {
        fuse_reply_err(request, !node ? ENOENT : node->folder ? EISDIR : EINVAL);
        return;
    }
    thread_local std::vector<char> buffer;
    const std::size_t length =
        mounted.archive.read(*node, static_cast<std::uint64_t>(offset), size, buffer);
    if (length == Served::kUnread)
        fuse_reply_err(request, EIO);
    else
        fuse_reply_buf(request, buffer.data(), length);
    if (mounted.ahead)
        mounted.ahead->read(inode);
}

// Drops what the kernel keeps of every file.
void forget_every_file(const Mounted& mounted) {
    for (Inode inode = kRoot; inode <= mounted.tree.size(); ++inode)
        if (!mounted.tree.node(inode)->folder)
            fuse_lowlevel_notify_inval_inode(mounted.session, inode, 0, 0);
}

struct fuse_lowlevel_ops make_operations() {
    struct fuse_lowlevel_ops operations = {};
    operations.init = on_init;
    operations.lookup = on_lookup;
    operations.getattr = on_getattr;
    operations.open = on_open;
    operations.read = on_read;
    operations.opendir = on_opendir;
    operations.readdir = on_readdir;
    operations.readdirplus = on_readdirplus;
    return operations;
}

} // namespace

const struct fuse_lowlevel_ops& operations() {
    static const struct fuse_lowlevel_ops all = make_operations();
    return all;
}

void archive_changed(Mounted& mounted) {
    const quodrel_event event =
        quodrel::failure_event(QUODREL_ERROR_CHANGED, mounted.archive.name().c_str());
    std::string line(quodrel_event_text(&event, nullptr, 0) + 1, '\0');
    line.resize(quodrel_event_text(&event, &line[0], line.size()));
    tell(line);
    try {
        mounted.forgetting = quiet_thread([&mounted] { forget_every_file(mounted); });
    } catch (...) {
        // No thread to be had: the kernel keeps the old archive's pages, whole and
        // unmixed, and every read that reaches the mount fails.
    }
}

} // namespace quodrel::mount
