// quodrel-mount ARCHIVE MOUNTPOINT: an archive as a read-only folder, over libfuse 3's
// low-level interface and the quodrel library. The archive is opened once: its table
// is read and checked as `quodrel -t` checks it, what extraction would refuse is named
// and left out (served.h, tree.h), and every read of a file is served from that same
// open file (operations.h), the small files of a folder handed to the kernel ahead of
// their reads once one of them is read (ahead.h). In the background as a daemon does,
// or in the foreground with -f (daemon.h); every signal that ends a process ends the
// mount as fusermount3 -u does (signals.h).
#include "mount/ahead.h"
#include "mount/daemon.h"
#include "mount/operations.h"
#include "mount/options.h"
#include "mount/signals.h"
#include "quodrel/quodrel.h"
#include "report/printer.h"

#include <cstdio>
#include <fuse_lowlevel.h>
#include <string>
#include <string_view>
#include <unistd.h>
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
    "  -o OPTIONS  mount options, such as allow_other (other users may look too);\n"
    "              the others it knows: allow_root, default_permissions,\n"
    "              auto_unmount, max_read=N, fsname=NAME, subtype=NAME, ro,\n"
    "              nosuid, nodev, noexec, noatime, suid, dev, exec, atime\n\n"
    "Unmount with: fusermount3 -u MOUNTPOINT\n"
    "Exit status: 0 mounted (and, with -f, unmounted again), 1 no mount was made (an\n"
    "ERROR! line says why), 2 the arguments fit no route.\n";

bool write_out(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// A path as every path is printed: its control bytes escaped.
std::string printable(const std::string& path) {
    std::string text(quodrel_printable(path.c_str(), nullptr, 0) + 1, '\0');
    text.resize(quodrel_printable(path.c_str(), &text[0], text.size()));
    return text;
}

// The session the program started leaves to its daemon as it is: unmounting, which
// frees the rest of it, is the daemon's.
struct fuse_session* g_daemons = nullptr;

// Serves the mount until it is unmounted or a signal ends it (0), or the kernel's
// device fails (an error below 0).
int serve(quodrel::mount::Mounted& mounted) {
    using namespace quodrel::mount;
    Ahead ahead(mounted.tree, mounted.archive, mounted.session);
    mounted.ahead = &ahead;
    struct fuse_loop_config config = {};
    config.clone_fd = 0;
    config.max_idle_threads = 10;
    ahead.start();
    const int served = fuse_session_loop_mt(mounted.session, &config);
    ahead.stop();
    mounted.ahead = nullptr;
    if (mounted.forgetting.joinable())
        mounted.forgetting.join();
    return served;
}

} // namespace

int main(int argc, char** argv) {
    using namespace quodrel::mount;
    open_standard_descriptors();
    const CommandLine line = read_command_line(argc, argv);
    if (line.route != CommandLine::Route::kMount) {
        std::fputs(kUsage, stdout);
        return line.route == CommandLine::Route::kHelp ? kExitOk : kExitUsage;
    }
    const std::string cannot_mount = "ERROR! Cannot mount " + printable(line.mount_point) + "\n";
    const std::string folder = mount_folder(line.mount_point);
    if (folder.empty()) {
        write_out(cannot_mount);
        return kExitError;
    }
    // Checked as -t checks: damage refuses the mount; refusals are named and left out,
    // and the mount stands without them.
    quodrel::Printer out(write_out);
    Mounted mounted;
    quodrel_error error = mounted.archive.open(line.archive, out);
    Daemon daemon;
    if (error == QUODREL_OK && !((line.foreground || daemon.prepare()) && descriptors_to_mount()))
        error = QUODREL_ERROR_DESCRIPTORS;
    if (error != QUODREL_OK) {
        const bool few = error == QUODREL_ERROR_DESCRIPTORS;
        out.print(quodrel::failure_event(error, (few ? line.mount_point : line.archive).c_str()));
        std::fflush(stdout);
        return kExitError;
    }
    std::fflush(stdout);
    mounted.user = getuid();
    mounted.group = getgid();
    mounted.max_read = line.max_read;
    mounted.tree = Tree::of(mounted.archive.archive());
    mounted.archive.on_change([&mounted] { archive_changed(mounted); });
    mounted.served = [&daemon] { daemon.served(); };

    std::vector<std::string> words = line.fuse_arguments;
    std::vector<char*> fuse_argv;
    for (std::string& word : words)
        fuse_argv.push_back(&word[0]);
    struct fuse_args args = FUSE_ARGS_INIT(static_cast<int>(fuse_argv.size()), fuse_argv.data());
    mounted.session =
        fuse_session_new(&args, &operations(), sizeof(struct fuse_lowlevel_ops), &mounted);
    fuse_opt_free_args(&args);
    if (!mounted.session || fuse_session_mount(mounted.session, folder.c_str()) != 0) {
        write_out(cannot_mount);
        if (mounted.session)
            fuse_session_destroy(mounted.session);
        return kExitError;
    }
    std::fflush(stdout);
    if (!line.foreground) {
        bool daemon_side = false;
        const bool served = daemon.leave(daemon_side);
        if (!daemon_side) {
            if (served) {
                g_daemons = mounted.session;
                return kExitOk; // the mount stands; the daemon serves it
            }
            fuse_session_unmount(mounted.session);
            fuse_session_destroy(mounted.session);
            write_out(cannot_mount);
            return kExitError;
        }
    }
    end_session_on_signals(mounted.session, folder);
    const int served = serve(mounted);
    fuse_session_unmount(mounted.session);
    forget_session();
    fuse_session_destroy(mounted.session);
    if (served < 0)
        tell(cannot_mount); // (in the background, the program started has said so)
    return served >= 0 ? kExitOk : kExitError;
}
