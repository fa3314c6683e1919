// The mount's rules apart from FUSE: what counts as an archive changed under the
// mount, which signals end it (against what each signal does to a process left to its
// default), and which files it hands the kernel ahead of reads.
#include "mount/rules.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quodrel::mount {
namespace {

TEST(MountedArchive, ChangedByItsBytesNotByItsName) {
    struct stat before = {};
    before.st_size = 1000;
    before.st_mtim = {100, 5};
    before.st_ctim = {100, 5};
    before.st_nlink = 1;
    const struct {
        const char* what;
        off_t size;
        struct timespec modified, changed;
        nlink_t links;
        bool same;
    } rows[] = {
        {"untouched", 1000, {100, 5}, {100, 5}, 1, true},
        {"renamed over, or deleted: its links went", 1000, {100, 5}, {200, 0}, 0, true},
        {"another name linked to it", 1000, {100, 5}, {200, 0}, 2, true},
        {"written over, longer", 1001, {200, 0}, {200, 0}, 1, false},
        {"written over, same size", 1000, {200, 0}, {200, 0}, 1, false},
        {"written in the same second", 1000, {100, 6}, {100, 6}, 1, false},
        {"written, time put back (cp -p)", 1000, {100, 5}, {200, 0}, 1, false},
        {"cut short, time put back", 10, {100, 5}, {200, 0}, 1, false},
        {"its rights changed", 1000, {100, 5}, {200, 0}, 1, false},
    };
    for (const auto& row : rows) {
        struct stat now = before;
        now.st_size = row.size;
        now.st_mtim = row.modified;
        now.st_ctim = row.changed;
        now.st_nlink = row.links;
        EXPECT_EQ(same_contents(before, now), row.same) << row.what;
    }
}

// Whether a process left to a signal's default action ends by it: a child raises it
// on itself (a stop is continued), and says by its exit how it ended.
bool ends_by_default(int signal) {
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_DUMPABLE, 0); // no core file for the signals that dump one
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr);
        sigset_t just_this;
        sigemptyset(&just_this);
        sigaddset(&just_this, signal);
        sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
        raise(signal);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, WUNTRACED) == child && WIFSTOPPED(status))
        kill(child, SIGCONT);
    return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

TEST(MountSignals, EveryOneThatEndsAProcessEndsTheMount) {
    const std::vector<int>& ending = ending_signals();
    for (int signal = 1; signal <= SIGRTMAX; ++signal) {
        if (signal > SIGSYS && signal < SIGRTMIN)
            continue; // the C library's own, which no program may catch
        const bool listed = std::find(ending.begin(), ending.end(), signal) != ending.end();
        const bool caught = signal != SIGKILL && signal != SIGSTOP;
        EXPECT_EQ(listed, caught && ends_by_default(signal)) << "signal " << signal;
    }
    for (const int signal : {SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN, SIGRTMAX})
        EXPECT_NE(std::find(ending.begin(), ending.end(), signal), ending.end()) << signal;
}

TEST(MountSignals, OnlyItsOwnFaultsCannotGoOn) {
    const pid_t self = 100, other = 200;
    const struct {
        const char* what;
        int signal, code;
        pid_t sender;
        bool own;
    } rows[] = {
        {"a bad address", SIGSEGV, SEGV_MAPERR, 0, true},
        {"a bus error", SIGBUS, BUS_ADRERR, 0, true},
        {"a division by zero", SIGFPE, FPE_INTDIV, 0, true},
        {"an illegal instruction", SIGILL, ILL_ILLOPC, 0, true},
        {"a breakpoint", SIGTRAP, TRAP_BRKPT, 0, true},
        {"a call seccomp refused", SIGSYS, 1, 0, true},
        {"the kernel's own", SIGSEGV, SI_KERNEL, 0, true},
        {"abort()", SIGABRT, SI_TKILL, self, true},
        {"raise() of a fault", SIGSEGV, SI_TKILL, self, true},
        {"kill -SEGV from another", SIGSEGV, SI_USER, other, false},
        {"kill -ABRT from another", SIGABRT, SI_USER, other, false},
        {"sigqueue of SIGBUS from another", SIGBUS, SI_QUEUE, other, false},
        {"kill -TERM", SIGTERM, SI_USER, other, false},
        {"SIGQUIT from the terminal", SIGQUIT, SI_KERNEL, 0, false},
        {"alarm()", SIGALRM, SI_KERNEL, 0, false},
        {"its own SIGUSR1", SIGUSR1, SI_TKILL, self, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(own_fault(row.signal, row.code, row.sender, self), row.own) << row.what;
}

// A folder read at its first file (1 byte), then 63 files of the largest size handed,
// then 200 KiB (fits), 100 KiB (would pass the folder's bound) and 50 KiB (fits).
std::vector<std::uint64_t> folder_to_its_bound() {
    static_assert(kAheadFolder == 64 * kAheadFile, "the rows below count on it");
    std::vector<std::uint64_t> sizes(64, kAheadFile);
    sizes[0] = 1;
    sizes.insert(sizes.end(), {200 * 1024, 100 * 1024, 50 * 1024});
    return sizes;
}
std::vector<std::size_t> handed_of_full_folder() {
    std::vector<std::size_t> handed;
    for (std::size_t i = 1; i <= 64; ++i)
        handed.push_back(i);
    handed.push_back(66);
    return handed;
}

TEST(MountAhead, HandsTheSmallFilesAfterTheOneReadThenBefore) {
    constexpr std::uint64_t kFolder = kNotAFile;
    constexpr std::uint64_t kBig = kAheadFile + 1;
    const struct {
        const char* what;
        std::vector<std::uint64_t> sizes;
        std::size_t read;
        std::vector<std::size_t> handed;
    } rows[] = {
        {"the first read: all the others, in order", {10, 20, 30, 40}, 0, {1, 2, 3}},
        {"one in the middle: those after, then before", {10, 20, 30, 40}, 2, {3, 0, 1}},
        {"the last", {10, 20, 30}, 2, {0, 1}},
        {"alone in its folder", {10}, 0, {}},
        {"folders, big and empty files left out", {10, kFolder, kBig, 0, kAheadFile}, 0, {4}},
        {"a big file read: its small neighbours", {kBig, 5, 6}, 0, {1, 2}},
        {"the folder's bound: a file that would pass it is left, a smaller one after it fits",
         folder_to_its_bound(), 0, handed_of_full_folder()},
    };
    for (const auto& row : rows)
        EXPECT_EQ(files_ahead(row.sizes, row.read), row.handed) << row.what;
}

} // namespace
} // namespace quodrel::mount
