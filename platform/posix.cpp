// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quodrel::platform {
namespace {

FileId id_of(const struct stat& st) {
    FileId id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.valid = true;
    return id;
}

std::FILE* stream_or_close(int fd, const char* mode) {
    std::FILE* file = fdopen(fd, mode);
    if (!file)
        close(fd);
    return file;
}

} // namespace

bool list_directory(const std::string& path, std::vector<DirEntry>& entries) {
    entries.clear();
    if (path.empty())
        return false; // an empty path names nothing
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return false;
    const int dir_fd = dirfd(dir);
    while (const dirent* item = readdir(dir)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct stat st;
        // Follows links: a dangling one fails here and is left out.
        if (fstatat(dir_fd, name, &st, 0) != 0)
            continue;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue; // FIFOs, sockets and devices are not archived
        DirEntry entry;
        entry.name = name;
        entry.is_directory = S_ISDIR(st.st_mode);
        entry.size = entry.is_directory ? 0 : static_cast<std::uint64_t>(st.st_size);
        entry.id = id_of(st);
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
        return listing_order_less(a.name, b.name);
    });
    return true;
}

MakeDirectory make_directory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0)
        return MakeDirectory::created;
    if (errno != EEXIST)
        return MakeDirectory::failed;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return MakeDirectory::failed;
    if (S_ISLNK(st.st_mode))
        return MakeDirectory::is_link;
    return S_ISDIR(st.st_mode) ? MakeDirectory::existed : MakeDirectory::failed;
}

int open_source(const std::string& path, std::uint64_t* size) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    if (size)
        *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

std::int64_t read_source(int source, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = read(source, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

void close_source(int source) { close(source); }

std::FILE* open_file_for_reading(const std::string& path, std::uint64_t* size) {
    const int fd = open_source(path, size);
    return fd < 0 ? nullptr : stream_or_close(fd, "rb");
}

int create_output(const std::string& path, const FileId& keep) {
    // Truncated only once it is known to be a plain file other than `keep`.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open(path.c_str(), kFlags, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || id_of(st) == keep) {
        close(fd);
        return -1;
    }
    if (st.st_nlink > 1) {
        // Other names share this file, possibly outside the destination: give this
        // name a file of its own instead of writing into the shared one.
        close(fd);
        if (unlink(path.c_str()) != 0)
            return -1;
        fd = open(path.c_str(), kFlags | O_EXCL, 0666);
        if (fd < 0)
            return -1;
    } else if (st.st_size > 0 && ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool write_output(int output, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(output, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool close_output(int output) { return close(output) == 0; }

bool file_size(std::FILE* file, std::uint64_t& size) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0)
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool seek_file(std::FILE* file, std::int64_t position) {
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

FileId file_id(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return FileId{};
    return id_of(st);
}

FileId file_id(std::FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0)
        return FileId{};
    return id_of(st);
}

std::FILE* create_temp_file_beside(const std::string& target, std::string& temp_path) {
    struct stat st;
    if (target.empty() || (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)))
        return nullptr; // a directory or device is not replaced by an archive
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0)
        return nullptr; // a read-only archive stays as it is
    const std::size_t slash = target.rfind('/');
    std::string name = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) +
                       ".quodrel-XXXXXX";
    const int fd = mkstemp(&name[0]);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(name.c_str());
        return nullptr;
    }
    temp_path = name;
    return file;
}

bool replace_file(const std::string& from, const std::string& to) {
    // A link at `to` is kept and its target replaced, as writing through it would.
    std::string target = to;
    struct stat st;
    if (lstat(to.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = realpath(to.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    mode_t mode;
    if (stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (chmod(from.c_str(), mode) != 0)
        return false;
    return rename(from.c_str(), target.c_str()) == 0;
}

bool remove_file(const std::string& path) { return unlink(path.c_str()) == 0; }

void prepare_standard_output() {} // POSIX streams never translate newlines

namespace {

char g_doomed[4096]; // the path a signal removes; empty when none
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_before_doom[3];

extern "C" void remove_and_reraise(int sig) {
    if (g_doomed[0])
        unlink(g_doomed);
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

void remove_on_signal(const std::string& path) {
    // The signals wait while the path and the handlers change, so a handler never
    // sees half of either.
    sigset_t ending, previous_mask;
    sigemptyset(&ending);
    for (int sig : kEndingSignals)
        sigaddset(&ending, sig);
    sigprocmask(SIG_BLOCK, &ending, &previous_mask);
    const bool was_set = g_doomed[0] != 0;
    const bool now_set = !path.empty() && path.size() < sizeof g_doomed;
    g_doomed[path.copy(g_doomed, now_set ? path.size() : 0)] = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (now_set && !was_set) {
            struct sigaction action = {};
            action.sa_handler = remove_and_reraise;
            sigemptyset(&action.sa_mask);
            sigaction(kEndingSignals[i], &action, &g_before_doom[i]);
        } else if (!now_set && was_set) {
            sigaction(kEndingSignals[i], &g_before_doom[i], nullptr);
        }
    }
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
}

// --- Console key input --------------------------------------------------------

namespace {

int g_tty = -1;
struct termios g_saved_mode;
volatile std::sig_atomic_t g_raw = 0;
const int kRestoreSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// Puts the terminal back before the signal ends the process.
extern "C" void restore_and_reraise(int sig) {
    if (g_raw)
        tcsetattr(g_tty, TCSANOW, &g_saved_mode);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Reads one byte, waiting at most timeout_ms (-1: for ever). -1 on timeout or end.
int read_byte(int fd, int timeout_ms) {
    for (;;) {
        if (timeout_ms >= 0) {
            struct pollfd pfd = {fd, POLLIN, 0};
            const int ready = poll(&pfd, 1, timeout_ms);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
        }
        unsigned char byte;
        const ssize_t n = read(fd, &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return -1;
    }
}

// The rest of what one key sends arrives together; this long is enough to tell a
// lone Escape from the start of a sequence.
constexpr int kSequenceGapMs = 40;

// Consumes the bytes that follow `first` when it opens a multi-byte key: escape
// sequences (CSI, SS3, Alt+key) and UTF-8 characters.
void consume_rest_of_key(int fd, int first) {
    if (first == 0x1b) {
        const int second = read_byte(fd, kSequenceGapMs);
        if (second == '[') {
            int byte = read_byte(fd, kSequenceGapMs);
            if (byte == '[') { // Linux console function keys: ESC [ [ A
                read_byte(fd, kSequenceGapMs);
                return;
            }
            // Parameter and intermediate bytes, then one final byte in 0x40..0x7e.
            for (int n = 0; byte >= 0x20 && byte < 0x40 && n < 32; ++n)
                byte = read_byte(fd, kSequenceGapMs);
        } else if (second == 'O') {
            read_byte(fd, kSequenceGapMs);
        }
        return;
    }
    int continuation = first >= 0xf0 ? 3 : first >= 0xe0 ? 2 : first >= 0xc0 ? 1 : 0;
    while (continuation-- > 0)
        if (read_byte(fd, kSequenceGapMs) < 0)
            return;
}

} // namespace

int read_console_key() {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1; // no controlling terminal
    struct termios mode;
    if (tcgetattr(fd, &mode) != 0) {
        close(fd);
        return -1;
    }
    g_tty = fd;
    g_saved_mode = mode;
    struct sigaction previous[sizeof kRestoreSignals / sizeof kRestoreSignals[0]];
    for (std::size_t i = 0; i < sizeof kRestoreSignals / sizeof kRestoreSignals[0]; ++i) {
        struct sigaction action = {};
        action.sa_handler = restore_and_reraise;
        sigemptyset(&action.sa_mask);
        sigaction(kRestoreSignals[i], &action, &previous[i]);
    }
    // No echo, no line editing, no signal keys, no flow control: every key is a key.
    mode.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL | ICANON | ISIG | IEXTEN));
    mode.c_iflag &= static_cast<tcflag_t>(~(IXON | IXOFF));
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    g_raw = 1;
    int key = -1;
    if (tcsetattr(fd, TCSANOW, &mode) == 0) {
        key = read_byte(fd, -1);
        if (key >= 0)
            consume_rest_of_key(fd, key);
    }
    tcsetattr(fd, TCSANOW, &g_saved_mode);
    g_raw = 0;
    for (std::size_t i = 0; i < sizeof kRestoreSignals / sizeof kRestoreSignals[0]; ++i)
        sigaction(kRestoreSignals[i], &previous[i], nullptr);
    close(fd);
    g_tty = -1;
    return key;
}

} // namespace quodrel::platform
