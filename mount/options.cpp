#include "mount/options.h"

#include <cstddef>
#include <fuse_log.h>
#include <fuse_opt.h>

namespace quodrel::mount {
namespace {

enum Key { kForeground, kHelp, kWriting, kNoAtime, kAtime };

// Where fuse_opt_parse puts what it reads (standard layout: it writes max_read by
// its offset).
struct Reading {
    unsigned max_read = 0;
    bool foreground = false;
    bool help = false;
    bool writing = false;
    bool noatime = false; // the last of noatime and atime given
    std::vector<std::string>* paths = nullptr;
};

// Every option the mount knows. Those kept go to libfuse as they were given: who may
// look (allow_other, allow_root, default_permissions), unmounting when the daemon
// ends however it ends (auto_unmount), the largest read, the names /proc/mounts
// shows, and the usual mount flags, which a read-only folder of plain files meets
// anyway. noatime and atime are read here, the last one given winning, and only
// noatime is handed on: atime is the kernel's default, and libfuse 3.17 no longer
// takes the word.
const struct fuse_opt kOptions[] = {
    FUSE_OPT_KEY("-f", kForeground),
    FUSE_OPT_KEY("-h", kHelp),
    FUSE_OPT_KEY("--help", kHelp),
    FUSE_OPT_KEY("rw", kWriting),
    FUSE_OPT_KEY("ro", FUSE_OPT_KEY_DISCARD), // the mount is read-only anyway
    {"max_read=%u", offsetof(Reading, max_read), 0},
    FUSE_OPT_KEY("max_read=", FUSE_OPT_KEY_KEEP), // (libfuse reads it too)
    FUSE_OPT_KEY("allow_other", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("allow_root", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("default_permissions", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("auto_unmount", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("fsname=", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("subtype=", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("nosuid", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("suid", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("nodev", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("dev", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("noexec", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("exec", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("noatime", kNoAtime),
    FUSE_OPT_KEY("atime", kAtime),
    FUSE_OPT_END,
};

int take(void* data, const char* argument, int key, struct fuse_args*) {
    Reading& reading = *static_cast<Reading*>(data);
    switch (key) {
    case FUSE_OPT_KEY_NONOPT: reading.paths->push_back(argument); return 0;
    case kForeground: reading.foreground = true; return 0;
    case kHelp: reading.help = true; return 0;
    case kWriting: reading.writing = true; return 0;
    case kNoAtime: reading.noatime = true; return 0;
    case kAtime: reading.noatime = false; return 0;
    default: return -1; // (FUSE_OPT_KEY_OPT) an option the mount does not know
    }
}

void say_nothing(enum fuse_log_level, const char*, va_list) {}

} // namespace

CommandLine read_command_line(int argc, char** argv) {
    CommandLine line;
    std::vector<std::string> paths;
    Reading reading;
    reading.paths = &paths;
    // On success fuse_opt_parse puts in `args` what it kept for libfuse (a copy of its
    // own); main's arguments stay as they are.
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    fuse_set_log_func(say_nothing);
    const bool read = argc > 0 && fuse_opt_parse(&args, &reading, kOptions, take) == 0;
    fuse_set_log_func(nullptr);
    if (read) {
        line.fuse_arguments = {args.argv[0], "-o",
                               reading.noatime ? "ro,fsname=quodrel,subtype=quodrel,noatime"
                                               : "ro,fsname=quodrel,subtype=quodrel"};
        line.fuse_arguments.insert(line.fuse_arguments.end(), args.argv + 1, args.argv + args.argc);
    }
    fuse_opt_free_args(&args);
    if (reading.help) {
        line.route = CommandLine::Route::kHelp;
        return line;
    }
    if (!read || reading.writing || paths.size() != 2)
        return line;
    line.route = CommandLine::Route::kMount;
    line.foreground = reading.foreground;
    line.archive = paths[0];
    line.mount_point = paths[1];
    line.max_read = reading.max_read;
    return line;
}

} // namespace quodrel::mount
