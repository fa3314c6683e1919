// quodrel-mount ARCHIVE MOUNTPOINT: an archive as a read-only folder, over libfuse 3
// and the quodrel library. The archive is opened once: its table is read and checked
// as `quodrel -t` checks it, what extraction would refuse is named and left out, and
// every read of a file is one positioned read of that same open file, so an archive
// replaced while mounted still shows what it held.
#define FUSE_USE_VERSION 35

#include "quodrel/quodrel.h"
#include "report/printer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fuse.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1; // an "ERROR! " line was printed
constexpr int kExitUsage = 2; // the arguments fit no route

constexpr const char* kUsage =
    "Usage: quodrel-mount [-f] [-o OPTIONS] ARCHIVE MOUNTPOINT\n\n"
    "Shows the .dat archive ARCHIVE as a read-only folder at MOUNTPOINT, with the\n"
    "entries extraction would write; what it would refuse is named and left out.\n\n"
    "  -f          stay in the foreground (Ctrl+C unmounts)\n"
    "  -o OPTIONS  mount options, such as allow_other (other users may look too)\n\n"
    "Unmount with: fusermount3 -u MOUNTPOINT\n"
    "Exit status: 0 mounted, 1 an ERROR! line was printed (a damaged archive is not\n"
    "mounted), 2 the arguments fit no route.\n";

// One folder or file of the mounted tree.
struct Node {
    std::size_t entry = 0; // its entry in the archive (the root has none)
    bool folder = true;
    std::vector<std::string> children; // names, in the archive's order
};

struct Mounted {
    int file = -1; // the archive, open for reading
    quodrel_archive* archive = nullptr;
    std::vector<Node> nodes;                              // [0] is the root
    std::unordered_map<std::string, std::size_t> by_path; // "/maps/level1.map" to its node
    struct timespec time = {};                            // the archive's modification time
    uid_t user = 0;
    gid_t group = 0;
};

Mounted g_mounted;

// The tree extraction would write: entries it refuses are left out, with all inside.
void build_tree(Mounted& mounted) {
    mounted.nodes.assign(1, Node{});
    mounted.by_path["/"] = 0;
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
        const std::string path = "/" + std::string(buffer.data(), length);
        const std::size_t slash = path.rfind('/');
        const auto parent = mounted.by_path.find(slash == 0 ? "/" : path.substr(0, slash));
        if (parent == mounted.by_path.end())
            continue; // (not met: a written entry's folder is written before it)
        Node node;
        node.entry = i;
        node.folder = quodrel_entry_is_folder(mounted.archive, i) != 0;
        mounted.nodes[parent->second].children.push_back(path.substr(slash + 1));
        mounted.by_path[path] = mounted.nodes.size();
        mounted.nodes.push_back(std::move(node));
    }
}

const Node* find(const char* path) {
    const auto found = g_mounted.by_path.find(path);
    return found == g_mounted.by_path.end() ? nullptr : &g_mounted.nodes[found->second];
}

void* on_init(struct fuse_conn_info*, struct fuse_config* config) {
    // Nothing ever changes: the kernel may keep what it read, names and pages alike.
    config->kernel_cache = 1;
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    return nullptr;
}

int on_getattr(const char* path, struct stat* st, struct fuse_file_info*) {
    const Node* node = find(path);
    if (!node)
        return -ENOENT;
    std::memset(st, 0, sizeof *st);
    st->st_mode = node->folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    st->st_nlink = node->folder ? 2 : 1;
    st->st_size = node->folder ? 0 : quodrel_entry_size(g_mounted.archive, node->entry);
    st->st_uid = g_mounted.user;
    st->st_gid = g_mounted.group;
    st->st_atim = st->st_mtim = st->st_ctim = g_mounted.time;
    return 0;
}

int on_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
               enum fuse_readdir_flags) {
    const Node* node = find(path);
    if (!node)
        return -ENOENT;
    if (!node->folder)
        return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const std::string& name : node->children)
        fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
}

int on_open(const char* path, struct fuse_file_info* info) {
    const Node* node = find(path);
    if (!node)
        return -ENOENT;
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    info->keep_cache = 1;
    return 0;
}

int on_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info*) {
    const Node* node = find(path);
    if (!node)
        return -ENOENT;
    if (node->folder)
        return -EISDIR;
    if (offset < 0)
        return -EINVAL;
    std::size_t got = 0;
    const quodrel_error error = quodrel_read(
        g_mounted.archive, node->entry, static_cast<std::uint64_t>(offset), buffer, size, &got);
    return error == QUODREL_OK ? static_cast<int>(got) : -EIO;
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

bool write_out(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// A path as every path is printed: its control bytes escaped.
std::string printable(const std::string& path) {
    std::string text(quodrel_printable(path.c_str(), nullptr, 0) + 1, '\0');
    text.resize(quodrel_printable(path.c_str(), &text[0], text.size()));
    return text;
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
    mounted.time = st.st_mtim;
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

// Runs in the background as a daemon does: the parent returns once the mount stands.
bool go_to_background() {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child > 0)
        return true; // (the parent)
    setsid();
    if (chdir("/") != 0)
        _exit(1);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2)
            close(null);
    }
    return false;
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
    if (paths.size() != 2) {
        std::fputs(kUsage, stdout);
        return kExitUsage;
    }
    // Checked as -t checks: damage refuses the mount; refusals are named and left out.
    quodrel::Printer out(write_out);
    const bool opened = open_archive(paths[0], g_mounted, out);
    std::fflush(stdout);
    if (!opened) {
        quodrel_close(g_mounted.archive);
        if (g_mounted.file >= 0)
            close(g_mounted.file);
        return kExitError;
    }
    g_mounted.user = getuid();
    g_mounted.group = getgid();
    build_tree(g_mounted);

    struct fuse_operations operations = {};
    operations.init = on_init;
    operations.getattr = on_getattr;
    operations.readdir = on_readdir;
    operations.open = on_open;
    operations.read = on_read;
    std::vector<std::string> words = {argv[0], "-o", "ro,fsname=quodrel,subtype=quodrel"};
    for (const std::string& option : options) {
        words.push_back("-o");
        words.push_back(option);
    }
    std::vector<char*> fuse_argv;
    for (std::string& word : words)
        fuse_argv.push_back(&word[0]);
    struct fuse_args args = FUSE_ARGS_INIT(static_cast<int>(fuse_argv.size()), fuse_argv.data());
    struct fuse* fuse = fuse_new(&args, &operations, sizeof operations, nullptr);
    if (!fuse) {
        std::printf("ERROR! Cannot mount %s\n", printable(paths[1]).c_str());
        return kExitError;
    }
    if (fuse_mount(fuse, paths[1].c_str()) != 0) {
        std::printf("ERROR! Cannot mount %s\n", printable(paths[1]).c_str());
        fuse_destroy(fuse);
        return kExitError;
    }
    const int status = out.failed() ? kExitError : kExitOk;
    std::fflush(stdout);
    if (!foreground && go_to_background())
        return status; // the mount stands; the child serves it
    struct fuse_session* session = fuse_get_session(fuse);
    fuse_set_signal_handlers(session); // SIGINT, SIGTERM, SIGHUP: unmount and end
    struct fuse_loop_config config = {};
    config.clone_fd = 0;
    config.max_idle_threads = 10;
    const int served = fuse_loop_mt(fuse, &config);
    fuse_remove_signal_handlers(session);
    fuse_unmount(fuse);
    fuse_destroy(fuse);
    quodrel_close(g_mounted.archive);
    close(g_mounted.file);
    return served == 0 ? status : kExitError;
}
