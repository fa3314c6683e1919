// quodrel-mount ARCHIVE MOUNTPOINT: an archive as a read-only folder, over libfuse 3's
// low-level interface and the quodrel library. The archive is opened once: its table
// is read and checked as `quodrel -t` checks it, what extraction would refuse is named
// and left out, and every read of a file is served from that same open file, so an
// archive replaced while mounted still shows what it held. Entries are known by
// number (an inode number is an entry's place in the tree), and the kernel keeps what
// it was told: names, folders, pages. Opening a file or a folder never reaches the
// mount, so a file read twice reaches it once; the small files of a folder listed are
// handed to the kernel before they are asked for. An archive written over in place is
// found out at the next read that reaches the mount; from then on reads fail rather
// than mix old bytes with new.
#define FUSE_USE_VERSION 35

#include "mount/rules.h"
#include "quodrel/quodrel.h"
#include "report/printer.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1; // no mount was made: an "ERROR! " line says why
constexpr int kExitUsage = 2; // the arguments fit no route

constexpr const char* kUsage =
    "Usage: quodrel-mount [-f] [-o OPTIONS] ARCHIVE MOUNTPOINT\n\n"
    "Shows the .dat archive ARCHIVE as a read-only folder at MOUNTPOINT, with the\n"
    "entries extraction would write; what it would refuse is named in ERROR! lines\n"
    "and left out, and the mount stands without it.\n\n"
    "  -f          stay in the foreground (Ctrl+C unmounts)\n"
    "  -o OPTIONS  mount options, such as allow_other (other users may look too)\n\n"
    "Unmount with: fusermount3 -u MOUNTPOINT\n"
    "Exit status: 0 mounted (and, with -f, unmounted again), 1 no mount was made (an\n"
    "ERROR! line says why), 2 the arguments fit no route.\n";

// How long the kernel may keep what it was told: nothing ever changes.
constexpr double kKeep = 86400.0 * 365;

// One folder or file of the mounted tree; its inode number is its place in
// Mounted::nodes plus one (the root is 1).
struct Node {
    std::string name;
    fuse_ino_t parent = FUSE_ROOT_ID;
    bool folder = true;
    std::uint64_t size = 0;           // a file's bytes,
    std::uint64_t data = 0;           // which start at this byte of the archive
    std::vector<fuse_ino_t> children; // a folder's, in the archive's order
};

struct Mounted {
    int file = -1;    // the archive, open for reading
    std::string name; // as the user gave it
    quodrel_archive* archive = nullptr;
    std::vector<Node> nodes;                             // [0] is the root
    std::unordered_map<std::string, fuse_ino_t> by_name; // key(parent, name) to a child
    struct stat at_mount = {};                           // the archive as it was mounted
    uid_t user = 0;
    gid_t group = 0;
    bool background = false;
    int ready = -1;           // told once the kernel's first request is answered
    unsigned max_read = 0;    // as -o max_read= asks, which the kernel is told again
    bool asks_open = true;    // whether the kernel asks before each open of a file,
    bool asks_opendir = true; // and of a folder
    struct fuse_session* session = nullptr;
    std::atomic<bool> changed{false}; // the archive was written over since
    std::thread forgetting;           // drops the kernel's pages of it then
};

Mounted g_mounted;

std::string key(fuse_ino_t parent, std::string_view name) {
    std::string text(reinterpret_cast<const char*>(&parent), sizeof parent);
    text.append(name);
    return text;
}

// The tree extraction would write: entries it refuses are left out, with all inside.
void build_tree(Mounted& mounted) {
    mounted.nodes.assign(1, Node{});
    std::unordered_map<std::string, fuse_ino_t> by_path = {{"", FUSE_ROOT_ID}};
    std::vector<char> buffer(512);
    for (std::size_t i = 0; i < quodrel_entry_count(mounted.archive); ++i) {
        if (quodrel_entry_refusal(mounted.archive, i) != QUODREL_WRITTEN)
            continue;
        const std::size_t length =
            quodrel_entry_path(mounted.archive, i, buffer.data(), buffer.size());
        if (length >= buffer.size()) {
            buffer.resize(length + 1);
            quodrel_entry_path(mounted.archive, i, buffer.data(), buffer.size());
        }
        const std::string path(buffer.data(), length);
        const std::size_t slash = path.rfind('/');
        const auto parent = by_path.find(slash == std::string::npos ? "" : path.substr(0, slash));
        if (parent == by_path.end())
            continue; // (not met: a written entry's folder is written before it)
        Node node;
        node.name = slash == std::string::npos ? path : path.substr(slash + 1);
        node.parent = parent->second;
        node.folder = quodrel_entry_is_folder(mounted.archive, i) != 0;
        if (!node.folder) {
            node.size = static_cast<std::uint64_t>(quodrel_entry_size(mounted.archive, i));
            if (quodrel_entry_data_offset(mounted.archive, i, &node.data) != QUODREL_OK)
                continue; // (not met: extraction writes only a file whose bytes are there)
        }
        const fuse_ino_t inode = mounted.nodes.size() + 1;
        mounted.nodes[parent->second - 1].children.push_back(inode);
        mounted.by_name[key(node.parent, node.name)] = inode;
        if (node.folder)
            by_path[path] = inode;
        mounted.nodes.push_back(std::move(node));
    }
}

const Node* node_of(fuse_ino_t inode) {
    return inode >= 1 && inode <= g_mounted.nodes.size() ? &g_mounted.nodes[inode - 1] : nullptr;
}

struct stat attributes(fuse_ino_t inode, const Node& node) {
    struct stat st = {};
    st.st_ino = inode;
    st.st_mode = node.folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    st.st_nlink = node.folder ? 2 : 1;
    st.st_size = static_cast<off_t>(node.size);
    st.st_blksize = 65536;
    st.st_blocks = static_cast<blkcnt_t>((node.size + 511) / 512);
    st.st_uid = g_mounted.user;
    st.st_gid = g_mounted.group;
    st.st_atim = st.st_mtim = st.st_ctim = g_mounted.at_mount.st_mtim;
    return st;
}

fuse_entry_param entry_of(fuse_ino_t inode) {
    fuse_entry_param entry = {};
    entry.ino = inode;
    entry.generation = 1;
    entry.attr = attributes(inode, *node_of(inode));
    entry.attr_timeout = kKeep;
    entry.entry_timeout = kKeep;
    return entry;
}

bool write_out(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// A path as every path is printed: its control bytes escaped.
std::string printable(const std::string& path) {
    std::string text(quodrel_printable(path.c_str(), nullptr, 0) + 1, '\0');
    text.resize(quodrel_printable(path.c_str(), &text[0], text.size()));
    return text;
}

// A line of the running mount: on standard output in the foreground, in the system
// log in the background, where standard output is the null device.
void tell(const std::string& line) {
    if (g_mounted.background) {
        syslog(LOG_ERR, "%.*s", static_cast<int>(line.size() - (line.empty() ? 0 : 1)),
               line.c_str());
    } else {
        write_out(line);
        std::fflush(stdout);
    }
}

// Drops what the kernel keeps of every file, so that no read is served from the
// archive as it was. Runs on a thread of its own: the kernel's dropping of a file's
// pages waits for reads of it in flight, which the serving threads must be free to
// answer.
void forget_every_file() {
    for (std::size_t i = 0; i < g_mounted.nodes.size(); ++i)
        if (!g_mounted.nodes[i].folder)
            fuse_lowlevel_notify_inval_inode(g_mounted.session, i + 1, 0, 0);
}

// Whether the archive is still the file that was mounted. Written over in place
// (quodrel::mount::same_contents), it is told once, in an "ERROR! " line on standard output (in the
// background, where there is none, in the system log), and every read fails from then
// on, kernel's pages included, rather than mix the old archive's bytes with the new.
bool archive_unchanged() {
    if (g_mounted.changed.load(std::memory_order_relaxed))
        return false;
    struct stat now;
    if (fstat(g_mounted.file, &now) == 0 && quodrel::mount::same_contents(g_mounted.at_mount, now))
        return true;
    if (g_mounted.changed.exchange(true))
        return false;
    const quodrel_event event =
        quodrel::failure_event(QUODREL_ERROR_CHANGED, g_mounted.name.c_str());
    std::string line(quodrel_event_text(&event, nullptr, 0) + 1, '\0');
    line.resize(quodrel_event_text(&event, &line[0], line.size()));
    tell(line);
    try {
        g_mounted.forgetting = std::thread(forget_every_file);
    } catch (...) {
        // No thread to be had: the kernel keeps the old archive's pages, whole and
        // unmixed, and every read that reaches the mount fails.
    }
    return false;
}

constexpr std::size_t kUnread = static_cast<std::size_t>(-1);

// Reads up to `size` bytes of a file from byte `from` on into `buffer`; how many (fewer
// only at the file's end), or kUnread. The archive is looked at after its bytes were
// read, so bytes given are always the mounted archive's: a change that came first is
// seen then (a write changes the time), and nothing read after it is given.
std::size_t read_checked(const Node& node, std::uint64_t from, std::size_t size,
                         std::vector<char>& buffer) {
    const std::uint64_t left = from < node.size ? node.size - from : 0;
    const std::size_t want = size < left ? size : static_cast<std::size_t>(left);
    if (buffer.size() < want)
        buffer.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = pread(g_mounted.file, buffer.data() + got, want - got,
                                static_cast<off_t>(node.data + from + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the archive cannot be read, or shrank: told below as a change
        got += static_cast<std::size_t>(n);
    }
    if (!archive_unchanged() || got < want)
        return kUnread;
    return got;
}

// Hands the kernel the bytes of the small files of a folder just listed, before they
// are asked for: reading a tree file by file then reaches the mount once a folder
// rather than once a file (each trip to the mount and back costs as much as reading a
// small file). Bounded: files up to kAheadFile bytes, kAheadFolder bytes a folder, each
// folder once; the kernel may drop these pages as any others. On a thread of its own,
// beside the serving threads.
class Ahead {
public:
    static constexpr std::uint64_t kAheadFile = 256 * 1024;
    static constexpr std::uint64_t kAheadFolder = 16 * 1024 * 1024;

    void start() {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            // No thread to be had: every read reaches the mount, as without this.
        }
    }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            stopped_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }
    void listed(fuse_ino_t folder) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (stopped_ || !thread_.joinable() || handed_.count(folder) != 0)
                return;
            handed_.insert(folder);
            folders_.push_back(folder);
        }
        wake_.notify_one();
    }

private:
    void run() {
        std::vector<char> buffer;
        for (;;) {
            fuse_ino_t folder;
            {
                std::unique_lock<std::mutex> lock(lock_);
                wake_.wait(lock, [this] { return stopped_ || !folders_.empty(); });
                if (stopped_)
                    return;
                folder = folders_.front();
                folders_.pop_front();
            }
            std::uint64_t handed = 0;
            for (const fuse_ino_t child : g_mounted.nodes[folder - 1].children) {
                const Node& node = g_mounted.nodes[child - 1];
                if (node.folder || node.size > kAheadFile || handed + node.size > kAheadFolder)
                    continue;
                const std::size_t length = read_checked(node, 0, node.size, buffer);
                if (length == kUnread)
                    return; // the archive changed: nothing more of it is handed on
                struct fuse_bufvec bytes = {};
                bytes.count = 1;
                bytes.buf[0].size = length;
                bytes.buf[0].mem = buffer.data();
                fuse_lowlevel_notify_store(g_mounted.session, child, 0, &bytes,
                                           static_cast<fuse_buf_copy_flags>(0));
                handed += length;
            }
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<fuse_ino_t> folders_;
    std::unordered_set<fuse_ino_t> handed_;
    bool stopped_ = false;
    std::thread thread_;
};

Ahead g_ahead;

void on_init(void*, struct fuse_conn_info* connection) {
    g_mounted.asks_open = !(connection->capable & FUSE_CAP_NO_OPEN_SUPPORT);
    g_mounted.asks_opendir = !(connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT);
    connection->max_read = g_mounted.max_read; // (libfuse wants the mount option repeated)
    // The mount is served: the program waiting in the foreground may say so and end.
    if (g_mounted.ready >= 0) {
        const char served = 1;
        while (write(g_mounted.ready, &served, 1) < 0 && errno == EINTR) {
        }
        close(g_mounted.ready);
        g_mounted.ready = -1;
    }
}

void on_lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
    const auto found = g_mounted.by_name.find(key(parent, name));
    if (found == g_mounted.by_name.end()) {
        fuse_entry_param none = {}; // no such name, and the kernel may remember that
        none.entry_timeout = kKeep;
        fuse_reply_entry(request, &none);
        return;
    }
    const fuse_entry_param entry = entry_of(found->second);
    fuse_reply_entry(request, &entry);
}

void on_getattr(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info*) {
    const Node* node = node_of(inode);
    if (!node) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    const struct stat st = attributes(inode, *node);
    fuse_reply_attr(request, &st, kKeep);
}

// Opening needs nothing of the mount: the mount is read-only, so the kernel refuses
// every open for writing itself, and a read names its inode. Told so once (ENOSYS),
// the kernel opens and closes without asking, and keeps a file's pages, and a
// folder's entries, from one open to the next. A kernel that cannot is told to keep
// them.
void on_open(fuse_req_t request, fuse_ino_t, struct fuse_file_info* info) {
    if (!g_mounted.asks_open) {
        fuse_reply_err(request, ENOSYS);
        return;
    }
    info->keep_cache = 1;
    fuse_reply_open(request, info);
}

void on_opendir(fuse_req_t request, fuse_ino_t, struct fuse_file_info* info) {
    if (!g_mounted.asks_opendir) {
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
    const Node* node = node_of(inode);
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
        const char* name = i == 0 ? "." : i == 1 ? ".." : g_mounted.nodes[child - 1].name.c_str();
        std::size_t added;
        if (plus && i >= 2) {
            const fuse_entry_param entry = entry_of(child);
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
            st.st_mode = g_mounted.nodes[child - 1].folder ? S_IFDIR : S_IFREG;
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
    g_ahead.listed(inode);
}

void on_readdirplus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                    struct fuse_file_info*) {
    list(request, inode, size, offset, true);
    g_ahead.listed(inode);
}

// A file's bytes, read from the archive and checked (read_checked). They are copied
// through the mount rather than spliced from the archive's pages: a spliced range
// is read by the kernel after the mount has looked at the archive, and could be the
// new bytes of a change it did not see.
void on_read(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
             struct fuse_file_info*) {
    const Node* node = node_of(inode);
    if (!node || node->folder || offset < 0) {
        fuse_reply_err(request, !node ? ENOENT : node->folder ? EISDIR : EINVAL);
        return;
    }
    thread_local std::vector<char> buffer;
    const auto from = static_cast<std::uint64_t>(offset);
    const std::size_t length = read_checked(*node, from, size, buffer);
    if (length == kUnread)
        fuse_reply_err(request, EIO);
    else
        fuse_reply_buf(request, buffer.data(), length);
}

// Reads the archive for the library, from the one descriptor the mount opened.
int64_t read_archive(void* context, void* buffer, size_t size, uint64_t offset) {
    const int file = *static_cast<const int*>(context);
    for (;;) {
        const ssize_t n = pread(file, buffer, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// What the check tells, but its totals: the refusals, in the program's words.
int print_refusals(void* context, const quodrel_event* event) {
    if (event->kind != QUODREL_EVENT_END)
        static_cast<quodrel::Printer*>(context)->print(*event);
    return 0;
}

// Opens the archive as a plain file, once, and reads it through the library: its
// table read and checked as -t checks it. False, with why printed, when it cannot be
// mounted.
bool open_archive(const std::string& path, Mounted& mounted, quodrel::Printer& out) {
    mounted.file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (mounted.file < 0 || fstat(mounted.file, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.print(quodrel::failure_event(QUODREL_ERROR_OPEN, path.c_str()));
        return false;
    }
    mounted.at_mount = st;
    mounted.name = path;
    const quodrel_error error =
        quodrel_open_reader(read_archive, static_cast<uint64_t>(st.st_size), &mounted.file,
                            path.c_str(), QUODREL_OPEN_REQUIRE_MAGIC, &mounted.archive);
    if (error != QUODREL_OK) {
        out.print(quodrel::failure_event(error, path.c_str()));
        return false;
    }
    quodrel_options options = QUODREL_OPTIONS_INIT;
    options.on_event = print_refusals;
    options.context = &out;
    quodrel_check(mounted.archive, &options);
    return true;
}

// Opens the null device onto each closed standard descriptor (read-only onto 1 and 2,
// write-only onto 0, so that using a closed one still fails), before anything else is
// opened: the archive must never become one of them, which the daemon points at the
// null device.
void open_standard_descriptors() {
    for (int standard = 0; standard <= 2; ++standard) {
        if (fcntl(standard, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int null = open("/dev/null", (standard == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
        if (null >= 0 && null != standard) {
            dup2(null, standard);
            close(null);
        }
    }
}

// What the daemon needs to go to the background, taken while a failure can still be
// told: the null device for its standard descriptors, and a pipe on which it tells
// the program it left that the mount is served.
struct Daemon {
    int null = -1;
    int ready[2] = {-1, -1};
};

bool prepare_daemon(Daemon& daemon) {
    daemon.null = open("/dev/null", O_RDWR | O_CLOEXEC);
    return daemon.null >= 0 && pipe2(daemon.ready, O_CLOEXEC) == 0;
}

// Runs in the background as a daemon does. In the program started: true once the
// mount is served (exit status 0), false when the daemon could not serve it. In the
// daemon (`daemon_side`): true.
bool go_to_background(Daemon& daemon, bool& daemon_side) {
    daemon_side = false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        daemon_side = true;
        setsid();
        if (chdir("/") != 0) {
            // (nothing depends on it: the mount point was made absolute before)
        }
        dup2(daemon.null, 0);
        dup2(daemon.null, 1);
        dup2(daemon.null, 2);
        close(daemon.null);
        close(daemon.ready[0]);
        g_mounted.ready = daemon.ready[1];
        return true;
    }
    close(daemon.ready[1]);
    char served = 0;
    ssize_t n;
    while ((n = read(daemon.ready[0], &served, 1)) < 0 && errno == EINTR) {
    }
    close(daemon.ready[0]);
    return n == 1;
}

// The folder a mount can stand on, as an absolute path (the daemon leaves the current
// folder, and unmounts by this path); "" when `path` is no folder (libfuse would mount
// on a file too).
std::string mount_folder(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    const std::string folder = real ? real : "";
    std::free(real);
    struct stat st;
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "";
    return folder;
}

// What main opened, closed on every way out.
void close_all() {
    if (g_mounted.session)
        fuse_session_destroy(g_mounted.session);
    quodrel_close(g_mounted.archive);
    if (g_mounted.file >= 0)
        close(g_mounted.file);
}

} // namespace

int main(int argc, char** argv) {
    open_standard_descriptors();
    bool foreground = false;
    std::vector<std::string> options, paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (arg == "-f")
            foreground = true;
        else if (arg == "-o" && i + 1 < argc)
            options.push_back(argv[++i]);
        else if (arg.rfind("-o", 0) == 0 && arg.size() > 2)
            options.push_back(arg.substr(2));
        else
            paths.push_back(arg);
    }
    const quodrel::mount::AskedOptions asked = quodrel::mount::read_options(options);
    g_mounted.max_read = asked.max_read;
    if (paths.size() != 2 || asked.writing) {
        std::fputs(kUsage, stdout);
        return kExitUsage;
    }
    const std::string cannot_mount = "ERROR! Cannot mount " + printable(paths[1]) + "\n";
    const std::string folder = mount_folder(paths[1]);
    if (folder.empty()) {
        write_out(cannot_mount);
        return kExitError;
    }
    // Checked as -t checks: damage refuses the mount; refusals are named and left out,
    // and the mount stands without them.
    quodrel::Printer out(write_out);
    const bool opened = open_archive(paths[0], g_mounted, out);
    std::fflush(stdout);
    if (!opened) {
        close_all();
        return kExitError;
    }
    Daemon daemon;
    if (!foreground && !prepare_daemon(daemon)) {
        out.print(quodrel::failure_event(QUODREL_ERROR_DESCRIPTORS, paths[1].c_str()));
        std::fflush(stdout);
        close_all();
        return kExitError;
    }
    g_mounted.user = getuid();
    g_mounted.group = getgid();
    build_tree(g_mounted);

    struct fuse_lowlevel_ops operations = {};
    operations.init = on_init;
    operations.lookup = on_lookup;
    operations.getattr = on_getattr;
    operations.open = on_open;
    operations.read = on_read;
    operations.opendir = on_opendir;
    operations.readdir = on_readdir;
    operations.readdirplus = on_readdirplus;
    std::vector<std::string> words = {argv[0], "-o", "ro,fsname=quodrel,subtype=quodrel"};
    for (const std::string& option : options) {
        words.push_back("-o");
        words.push_back(option);
    }
    std::vector<char*> fuse_argv;
    for (std::string& word : words)
        fuse_argv.push_back(&word[0]);
    struct fuse_args args = FUSE_ARGS_INIT(static_cast<int>(fuse_argv.size()), fuse_argv.data());
    g_mounted.session = fuse_session_new(&args, &operations, sizeof operations, nullptr);
    fuse_opt_free_args(&args);
    if (!g_mounted.session || fuse_session_mount(g_mounted.session, folder.c_str()) != 0) {
        write_out(cannot_mount);
        close_all();
        return kExitError;
    }
    std::fflush(stdout);
    if (!foreground) {
        bool daemon_side = false;
        const bool served = go_to_background(daemon, daemon_side);
        if (!daemon_side) {
            if (served)
                return kExitOk; // the mount stands; the daemon serves it
            fuse_session_unmount(g_mounted.session);
            write_out(cannot_mount);
            close_all();
            return kExitError;
        }
        g_mounted.background = true;
        openlog("quodrel-mount", LOG_PID, LOG_USER);
    }
    fuse_set_signal_handlers(g_mounted.session); // SIGINT, SIGTERM, SIGHUP: unmount and end
    struct fuse_loop_config config = {};
    config.clone_fd = 0;
    config.max_idle_threads = 10;
    g_ahead.start();
    // 0 once unmounted, the number of the signal that ended it, or an error below 0.
    const int served = fuse_session_loop_mt(g_mounted.session, &config);
    g_ahead.stop();
    fuse_remove_signal_handlers(g_mounted.session);
    if (g_mounted.forgetting.joinable())
        g_mounted.forgetting.join();
    fuse_session_unmount(g_mounted.session);
    if (served < 0)
        tell(cannot_mount); // (in the background, the program started has said so)
    close_all();
    return served >= 0 ? kExitOk : kExitError;
}
