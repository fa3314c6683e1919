#include "mount/rules.h"

#include <csignal>

namespace quodrel::mount {
namespace {

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool same_contents(const struct stat& before, const struct stat& now) {
    return now.st_size == before.st_size && same_time(now.st_mtim, before.st_mtim) &&
           (same_time(now.st_ctim, before.st_ctim) || now.st_nlink != before.st_nlink);
}

const std::vector<int>& ending_signals() {
    static const std::vector<int> signals = [] {
        std::vector<int> list = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                                 SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                                 SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                                 SIGPROF, SIGPOLL, SIGPWR,    SIGSYS};
        for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
            list.push_back(signal); // (below SIGRTMIN: the C library's own)
        return list;
    }();
    return signals;
}

bool fault_signal(int signal) {
    switch (signal) {
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGBUS:
    case SIGFPE:
    case SIGSEGV:
    case SIGSYS: return true;
    default: return false;
    }
}

bool own_fault(int signal, int code, pid_t sender, pid_t self) {
    return fault_signal(signal) && (code > 0 || sender == self);
}

std::vector<std::size_t> files_ahead(const std::vector<std::uint64_t>& sizes, std::size_t read) {
    std::vector<std::size_t> chosen;
    std::uint64_t handed = 0;
    for (std::size_t step = 1; step < sizes.size(); ++step) {
        const std::size_t i = (read + step) % sizes.size();
        const std::uint64_t size = sizes[i];
        if (size == kNotAFile || size == 0 || size > kAheadFile || handed + size > kAheadFolder)
            continue;
        chosen.push_back(i);
        handed += size;
    }
    return chosen;
}

} // namespace quodrel::mount
