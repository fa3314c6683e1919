// The mount's own rules, apart from FUSE: when the archive it serves counts as
// changed, which signals end it, and which files it hands the kernel ahead of reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace quodrel::mount {

// Whether an open file holds what it held: the same size and modification time, and
// the same change time unless its links changed (a new file renamed over it, or its
// deletion, which leave its bytes as they were). A write moves both times; putting
// the modification time back (cp -p, touch -r) moves the change time again.
bool same_contents(const struct stat& before, const struct stat& now);

// Every signal whose default action ends the process and that a process can catch:
// each ends the mount's session, which then unmounts as fusermount3 -u would.
const std::vector<int>& ending_signals();

// Whether a signal is one the kernel raises for a fault of the thread that runs
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS) or that abort() raises.
bool fault_signal(int signal);

// Whether a signal is the process's own fault (a bad address, an abort of its own)
// rather than sent to it: then it cannot go on, and dies by the signal once the
// mount is detached. `code` and `sender` are the signal's si_code and si_pid (the
// sender counts only where si_code is not above 0, as the kernel fills it).
bool own_fault(int signal, int code, pid_t sender, pid_t self);

// The read-ahead's bounds: files up to kAheadFile bytes, kAheadFolder bytes a folder.
constexpr std::uint64_t kAheadFile = 256 * 1024;
constexpr std::uint64_t kAheadFolder = 16 * 1024 * 1024;
constexpr std::uint64_t kNotAFile = UINT64_MAX;

// Which of a folder's children (their sizes in the archive's order, kNotAFile for a
// folder) to hand the kernel ahead of their reads, in that order, once child `read`
// has been read: the small files after it, then those before it, within the bounds.
// A reader that reads one file of a folder is likely to read the others, in the
// listing's order; one that only walks the tree reads none, and is handed none.
std::vector<std::size_t> files_ahead(const std::vector<std::uint64_t>& sizes, std::size_t read);

} // namespace quodrel::mount
