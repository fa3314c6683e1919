#include "mount/signals.h"

#include "mount/rules.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fuse_lowlevel.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quodrel::mount {
namespace {

std::atomic<struct fuse_session*> g_session{nullptr};
std::string g_mount_point;
const char* g_point = nullptr;

// Takes the mount off its mount point at once, as fusermount3 -u -z does, with what a
// signal handler may call: umount2 where the process may (as root), fusermount3
// otherwise.
void detach() {
    if (!g_point || umount2(g_point, MNT_DETACH) == 0)
        return;
    const pid_t child = _Fork();
    if (child == 0) {
        execl("/usr/bin/fusermount3", "fusermount3", "-u", "-q", "-z", "--", g_point,
              static_cast<char*>(nullptr));
        execlp("fusermount3", "fusermount3", "-u", "-q", "-z", "--", g_point,
               static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child > 0) {
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

void on_signal(int signal, siginfo_t* info, void*) {
    const int saved = errno;
    if (own_fault(signal, info->si_code, info->si_pid, getpid())) {
        // It cannot go on: the mount goes, then the process by the signal's default
        // action, delivered as this handler returns (a fault comes again, abort()
        // raises again).
        detach();
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr);
        raise(signal);
    } else if (struct fuse_session* session = g_session.load()) {
        fuse_session_exit(session); // the serving threads' waits end, interrupted
    }
    errno = saved;
}

} // namespace

void end_session_on_signals(struct fuse_session* session, const std::string& mount_point) {
    g_mount_point = mount_point;
    g_point = g_mount_point.c_str();
    g_session.store(session);
    struct sigaction action = {};
    action.sa_sigaction = on_signal;
    action.sa_flags = SA_SIGINFO; // not restarted: a wait it interrupts looks again
    sigemptyset(&action.sa_mask);
    for (const int signal : ending_signals())
        sigaddset(&action.sa_mask, signal);
    for (const int signal : ending_signals()) {
        struct sigaction before;
        if (sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue;
        if (signal == SIGPIPE) {
            struct sigaction ignore = {};
            ignore.sa_handler = SIG_IGN;
            sigaction(signal, &ignore, nullptr);
        } else {
            sigaction(signal, &action, nullptr);
        }
    }
}

void forget_session() { g_session.store(nullptr); }

std::thread quiet_thread(std::function<void()> run) {
    sigset_t quiet, before;
    sigemptyset(&quiet);
    for (const int signal : ending_signals())
        if (!fault_signal(signal))
            sigaddset(&quiet, signal);
    pthread_sigmask(SIG_BLOCK, &quiet, &before);
    try {
        std::thread thread(std::move(run));
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return thread;
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        throw;
    }
}

} // namespace quodrel::mount
