// Runs the real program and inspects what it leaves on disk.
#pragma once

#include "e2e/texts.h"

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Result {
    std::string out; // everything the program wrote to stdout
    int status = -1; // exit status, or 128 + signal
};

// Whether the program under test is the Windows one, run under Wine: set by the
// environment variable QUODREL_EXE, the path of quodrel.exe. The same cases then run
// against it; those that need POSIX-only things (links, FIFOs, signals, other
// users) skip themselves.
bool under_wine();

// The one Wine prefix of a test run: beside quodrel.exe, made by tests/wine/prefix.sh.
std::string wine_prefix();

// Skips a case that needs what only POSIX systems have (in a file that includes gtest).
#define SKIP_UNDER_WINE(why)                                                                       \
    if (!::e2e::under_wine()) {                                                                    \
    } else                                                                                         \
        GTEST_SKIP() << (why)

// Runs the program in `cwd` in a new session, so it has no controlling terminal
// and any key wait returns at once; stdin is /dev/null. `unprivileged` runs it as
// user nobody when the tests run as root, so that permissions take effect. A
// `file_size_limit` makes every write past that many bytes of a file fail, as a
// full disk would.
Result quodrel(const std::vector<std::string>& args, const std::string& cwd,
               bool unprivileged = false, std::uint64_t file_size_limit = 0);

// What the program may use of the machine.
struct Limits {
    bool unprivileged = false;     // run as user nobody (when the tests run as root)
    std::uint64_t file_size = 0;   // bytes of one file, as a full disk would stop it
    std::uint64_t descriptors = 0; // files open at once
    bool no_more_threads = false;  // no thread can be started (with `unprivileged`)
    std::vector<int> closed;       // standard descriptors closed when it starts (>&-)
    bool default_sigxfsz = false;  // a write past `file_size` raises SIGXFSZ, not ignored
    bool read_errors = false;      // standard error is what is read, standard output discarded
    // Standard input: `input` through a pipe, written by a process of its own, when
    // `feed_input`; else the null device. Standard output into the file `output_path`
    // when it is set (with `read_errors`).
    bool feed_input = false;
    std::string input;
    std::string input_path; // standard input from this file, when it is set
    std::string output_path;
    // Standard input, or output, is a terminal (a pseudo-terminal nobody types on).
    bool terminal_input = false;
    bool terminal_output = false;
};

Result quodrel_limited(const std::vector<std::string>& args, const std::string& cwd,
                       const Limits& limits);

// Runs the program like quodrel() and gives what it wrote to standard error.
Result quodrel_errors(const std::vector<std::string>& args, const std::string& cwd);

// Runs the program like quodrel() with QUODREL_THREADS set to `threads`.
Result quodrel_threads(unsigned threads, const std::vector<std::string>& args,
                       const std::string& cwd);

// Runs the Linux program, also when the cases run against the Windows one: to
// compare what the two make of the same tree.
Result native_quodrel(const std::vector<std::string>& args, const std::string& cwd);

// Starts another Windows program under Wine, as quodrel() starts quodrel.exe, with its
// output discarded, and does not wait.
int start_under_wine(const std::string& exe, const std::vector<std::string>& args,
                     const std::string& cwd);

// Starts the program like quodrel() with its output discarded, and does not wait.
int start_quodrel(const std::vector<std::string>& args, const std::string& cwd);

// A run started to stop at a moment a test chooses (QUODREL_TEST_STOP_AT: commit,
// committing, placed, end), its standard output kept, so that what the test does then
// (a signal sent, a file renamed) meets the run there. Under Wine the run waits while a
// file it made in `cwd` stands (signals are POSIX only). Killed if still running when it
// goes.
class StoppedRun {
public:
    StoppedRun(const std::string& moment, const std::vector<std::string>& args,
               const std::string& cwd);
    ~StoppedRun();
    StoppedRun(const StoppedRun&) = delete;
    StoppedRun& operator=(const StoppedRun&) = delete;
    // Waits until it stops at its moment: false when it ended first.
    bool stopped();
    void signal(int sig);
    // Continues it and waits for its end: what it printed and its status.
    Result finish();

private:
    int pid_ = -1;
    std::string out_path_;
    std::string stop_file_; // (under Wine)
    int status_ = -1;
    bool seen_stopped_ = false; // (natively: continued only once seen stopped)
};

// Whether process `pid` holds open an unfinished file in `folder` (a temporary archive,
// a file being extracted): named ".quodrel-..." or, where the file system allows,
// without a name yet.
bool writes_unfinished_file(int pid, const std::string& folder);

// A fresh folder below `base`, removed with everything in it afterwards.
class TempDir {
public:
    explicit TempDir(const std::string& base = "/tmp");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
void make_dirs(const std::string& path); // every missing level
bool exists(const std::string& path);
bool is_dir(const std::string& path);
// Every entry below root, one line each, sorted: "d /sub" or "f /sub/b.bin <bytes>".
std::string tree(const std::string& root);
// Every path below root, sorted, "/"-prefixed.
std::vector<std::string> paths_below(const std::string& root);

} // namespace e2e
