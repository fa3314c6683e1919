#include "e2e/harness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

bool under_wine() {
    const char* exe = std::getenv("QUODREL_EXE");
    return exe && *exe;
}

std::string wine_prefix() {
    const std::string exe = std::getenv("QUODREL_EXE");
    return exe.substr(0, exe.rfind('/') + 1) + "wine-prefix";
}

namespace {

// The program, where user nobody can run it: a copy in a folder of its own in /tmp,
// as the build may lie anywhere (below /root, say, which only root may enter), with
// the shared library it runs on beside it (found there through LD_LIBRARY_PATH, its
// RUNPATH naming the build).
const char* const kCopied[] = {"quodrel", "libquodrel.so.2"};

const std::string& reachable_binary() {
    static const std::string path = [] {
        char folder[] = "/tmp/quodrel-bin-XXXXXX";
        if (!mkdtemp(folder) || chmod(folder, 0755) != 0)
            throw std::runtime_error("a folder for the program");
        const std::string binary = QUODREL_BINARY;
        const std::string build = binary.substr(0, binary.rfind('/') + 1);
        for (std::size_t k = 0; k < std::size(kCopied); ++k) {
            const std::string from = k == 0 ? binary : build + kCopied[k];
            const std::string copy = std::string(folder) + "/" + kCopied[k];
            if (k > 0 && access(from.c_str(), F_OK) != 0)
                continue; // a program linked statically
            write_file(copy, read_file(from));
            if (chmod(copy.c_str(), 0755) != 0)
                throw std::runtime_error("the program's copy");
        }
        static const std::string to_remove = folder;
        std::atexit([] {
            for (const char* name : kCopied)
                unlink((to_remove + "/" + name).c_str());
            rmdir(to_remove.c_str());
        });
        return std::string(folder) + "/quodrel";
    }();
    return path;
}

// Starts the program in a new session (so without a controlling terminal) in `cwd`,
// stdin from /dev/null, stdout to `out_fd`.
pid_t spawn(const std::vector<std::string>& args, const std::string& cwd, int out_fd,
            const Limits& limits, bool native = false, const char* windows_exe = nullptr,
            int in_fd = -1, const char* terminal = nullptr) {
    const bool unprivileged = limits.unprivileged;
    const std::uint64_t file_size_limit = limits.file_size;
    const char* program_for_nobody =
        unprivileged && !under_wine() ? reachable_binary().c_str() : QUODREL_BINARY;
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    setsid();
    // Signals that dump core by default (Ctrl+\, a CPU limit) leave no core behind.
    const struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(125);
    if (unprivileged && !under_wine()) {
        const std::string copy = program_for_nobody;
        setenv("LD_LIBRARY_PATH", copy.substr(0, copy.rfind('/')).c_str(), 1);
    }
    if (file_size_limit != 0) {
        // Writes past the limit fail as on a full disk (the signal they would raise
        // is ignored, and stays ignored in the program).
        const struct rlimit limit = {file_size_limit, file_size_limit};
        // Unless the case is about the signal, it is ignored before the program starts
        // (Wine's own processes would end by it).
        if (!limits.default_sigxfsz)
            signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(124);
    }
    const int null_fd = open("/dev/null", O_RDONLY);
    if (chdir(cwd.c_str()) != 0 || null_fd < 0)
        _exit(126);
    if (!limits.input_path.empty())
        in_fd = open(limits.input_path.c_str(), O_RDONLY);
    dup2(in_fd >= 0 ? in_fd : null_fd, 0);
    dup2(out_fd, limits.read_errors ? 2 : 1);
    if (limits.read_errors) {
        const int discard = limits.output_path.empty() ? open("/dev/null", O_WRONLY)
                                                       : open(limits.output_path.c_str(),
                                                              O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(discard, 1);
        close(discard);
    }
    if (terminal) {
        const int tty = open(terminal, O_RDWR | O_NOCTTY);
        if (tty < 0)
            _exit(123);
        dup2(tty, limits.terminal_input ? 0 : 1);
        close(tty);
    }
    if (null_fd > 2)
        close(null_fd);
    for (const int standard : limits.closed)
        close(standard);
    // Nothing of the test run's own (a test runner's pipes) is handed on: the program
    // starts with the standard descriptors alone, as from a shell.
    for (int other = 3; other < 1024; ++other)
        close(other);
    if (limits.descriptors != 0) {
        const struct rlimit limit = {limits.descriptors, limits.descriptors};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(124);
    }
    if (limits.no_more_threads) {
        // No thread or process more for this user (as user nobody: root is exempt).
        const struct rlimit limit = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &limit) != 0)
            _exit(124);
    }
    std::vector<char*> argv;
    if (under_wine() && !native) {
        setenv("WINEPREFIX", wine_prefix().c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // No menu entries or file associations in the user's home.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        argv.push_back(const_cast<char*>("wine"));
        argv.push_back(windows_exe ? const_cast<char*>(windows_exe) : std::getenv("QUODREL_EXE"));
    } else {
        argv.push_back(const_cast<char*>(unprivileged ? program_for_nobody : QUODREL_BINARY));
    }
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

} // namespace

namespace {

// A process of its own that writes `bytes` into a pipe and ends: the read end, or -1.
int feed(const std::string& bytes, pid_t& feeder) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    feeder = fork();
    if (feeder == 0) {
        signal(SIGPIPE, SIG_IGN); // a reader that stops early is no failure of the writer's
        close(fds[0]);
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(fds[1], bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    return fds[0];
}

// A pseudo-terminal for a run: the name of its side the run opens ("" when none).
class PseudoTerminal {
public:
    explicit PseudoTerminal(bool wanted) {
        if (!wanted)
            return;
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("a pseudo-terminal");
        name_ = ptsname(master_);
    }
    ~PseudoTerminal() {
        if (master_ >= 0)
            close(master_);
    }
    const char* name() const { return name_.empty() ? nullptr : name_.c_str(); }

private:
    int master_ = -1;
    std::string name_;
};

Result run_once(const std::vector<std::string>& args, const std::string& cwd, const Limits& limits,
                bool native = false) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_t feeder = -1;
    const int in_fd = limits.feed_input ? feed(limits.input, feeder) : -1;
    const PseudoTerminal terminal(limits.terminal_input || limits.terminal_output);
    const pid_t pid =
        spawn(args, cwd, pipe_fds[1], limits, native, nullptr, in_fd, terminal.name());
    close(pipe_fds[1]);
    if (in_fd >= 0)
        close(in_fd);
    Result run;
    char buffer[65536];
    int status = 0;
    bool ended = false;
    int quiet_polls = 0;
    // Reads until the pipe closes or, once the program has ended, until nothing more
    // has come for a while. Not simply until the pipe closes: under Wine, helper
    // processes the first start leaves running inherit the pipe and hold it open long
    // after the program is gone (they never write to it).
    constexpr int kQuietPollsAfterEnd = 5; // of 40 ms each
    for (;;) {
        struct pollfd ready = {pipe_fds[0], POLLIN, 0};
        if (poll(&ready, 1, ended ? 40 : 20) > 0) {
            const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
            if (n > 0) {
                run.out.append(buffer, static_cast<std::size_t>(n));
                quiet_polls = 0;
                continue;
            }
            if (n == 0 || errno != EINTR)
                break;
            continue;
        }
        if (ended && ++quiet_polls >= kQuietPollsAfterEnd)
            break;
        if (!ended)
            ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    close(pipe_fds[0]);
    if (!ended)
        waitpid(pid, &status, 0);
    if (feeder > 0)
        waitpid(feeder, nullptr, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// Wine itself, rarely, fails around the program: its loader on the way out
// ("Inconsistency detected by ld.so", status 127), or a start that never reaches the
// program. The program itself never ends with 127 and always prints something.
bool wine_failed(const Result& run) { return run.status == 127 || run.out.empty(); }

} // namespace

Result quodrel(const std::vector<std::string>& args, const std::string& cwd, bool unprivileged,
               std::uint64_t file_size_limit) {
    Limits limits;
    limits.unprivileged = unprivileged;
    limits.file_size = file_size_limit;
    return quodrel_limited(args, cwd, limits);
}

Result quodrel_limited(const std::vector<std::string>& args, const std::string& cwd,
                       const Limits& limits) {
    Result run = run_once(args, cwd, limits);
    for (int retry = 0; retry < 2 && under_wine() && wine_failed(run); ++retry) {
        std::fprintf(stderr,
                     "note: Wine failed to run the program (status %d, %zu bytes out); "
                     "once more\n",
                     run.status, run.out.size());
        run = run_once(args, cwd, limits);
    }
    return run;
}

Result quodrel_errors(const std::vector<std::string>& args, const std::string& cwd) {
    Limits limits;
    limits.read_errors = true;
    Result run = run_once(args, cwd, limits);
    // Nothing on standard error is no failure of Wine's here: only its status tells.
    for (int retry = 0; retry < 2 && under_wine() && run.status == 127; ++retry)
        run = run_once(args, cwd, limits);
    return run;
}

Result quodrel_threads(unsigned threads, const std::vector<std::string>& args,
                       const std::string& cwd) {
    const char* before = std::getenv("QUODREL_THREADS");
    const std::string saved = before ? before : "";
    setenv("QUODREL_THREADS", std::to_string(threads).c_str(), 1);
    Result run = quodrel(args, cwd);
    if (before)
        setenv("QUODREL_THREADS", saved.c_str(), 1);
    else
        unsetenv("QUODREL_THREADS");
    return run;
}

Result native_quodrel(const std::vector<std::string>& args, const std::string& cwd) {
    return run_once(args, cwd, Limits{}, true);
}

bool writes_unfinished_file(int pid, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* item = readdir(dir)) {
        char target[4096];
        const ssize_t n = readlink((fds + "/" + item->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const std::string path(target, static_cast<std::size_t>(n));
        // An unnamed file shows as "FOLDER/#INODE (deleted)".
        found = found || path.rfind(folder + "/.quodrel-", 0) == 0 ||
                (path.rfind(folder + "/#", 0) == 0 && path.find(" (deleted)") != std::string::npos);
    }
    closedir(dir);
    return found;
}

int start_under_wine(const std::string& exe, const std::vector<std::string>& args,
                     const std::string& cwd) {
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(args, cwd, null_fd, Limits{}, false, exe.c_str());
    close(null_fd);
    return pid;
}

int start_quodrel(const std::vector<std::string>& args, const std::string& cwd) {
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(args, cwd, null_fd, Limits{});
    close(null_fd);
    return pid;
}

StoppedRun::StoppedRun(const std::string& moment, const std::vector<std::string>& args,
                       const std::string& cwd) {
    char path[] = "/tmp/quodrel-out-XXXXXX";
    const int out = mkstemp(path);
    if (out < 0)
        throw std::runtime_error("mkstemp");
    out_path_ = path;
    stop_file_ = cwd + "/quodrel-stopped";
    setenv("QUODREL_TEST_STOP_AT", moment.c_str(), 1);
    setenv("QUODREL_TEST_STOP_FILE", "quodrel-stopped", 1);
    pid_ = spawn(args, cwd, out, Limits{});
    unsetenv("QUODREL_TEST_STOP_AT");
    unsetenv("QUODREL_TEST_STOP_FILE");
    close(out);
}

StoppedRun::~StoppedRun() {
    unlink(stop_file_.c_str());
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(out_path_.c_str());
}

bool StoppedRun::stopped() {
    int status = 0;
    if (under_wine()) {
        for (;;) {
            if (exists(stop_file_))
                return true;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                break;
            usleep(10000);
        }
    } else {
        while (waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
        }
        if (WIFSTOPPED(status))
            return seen_stopped_ = true;
    }
    status_ = status; // it ended before its moment came
    return false;
}

void StoppedRun::signal(int sig) { kill(pid_, sig); }

Result StoppedRun::finish() {
    if (status_ < 0) {
        unlink(stop_file_.c_str());
        // Natively a run is continued only once seen stopped at its moment: a SIGCONT
        // sent while it runs would cancel a stop another asked for (the leak checker
        // of a sanitized build stops the process it checks at its exit, through a
        // tracer that then waits for that stop forever).
        if (!under_wine() && !seen_stopped_ && stopped())
            seen_stopped_ = true;
        if (seen_stopped_)
            kill(pid_, SIGCONT);
        int status = status_;
        while (status_ < 0 && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
    }
    Result run;
    run.out = read_file(out_path_);
    run.status = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    return run;
}

TempDir::TempDir(const std::string& base) {
    std::string pattern = base + "/quodrel-test-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    const std::string command =
        "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
        // Leftovers in /tmp do no harm to the results.
    }
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void make_dirs(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
        if (slash == std::string::npos)
            break;
    }
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
void walk(const std::string& root, const std::string& relative, std::vector<std::string>& lines,
          bool with_contents) {
    DIR* dir = opendir((root + relative).c_str());
    if (!dir)
        return;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string child = relative + "/" + name;
        if (!with_contents) {
            lines.push_back(child);
            if (is_dir(root + child))
                walk(root, child, lines, with_contents);
        } else if (is_dir(root + child)) {
            lines.push_back("d " + child);
            walk(root, child, lines, with_contents);
        } else {
            lines.push_back("f " + child + " " + read_file(root + child));
        }
    }
    closedir(dir);
}
} // namespace

std::string tree(const std::string& root) {
    std::vector<std::string> lines;
    walk(root, "", lines, true);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

std::vector<std::string> paths_below(const std::string& root) {
    std::vector<std::string> lines;
    walk(root, "", lines, false);
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace e2e
