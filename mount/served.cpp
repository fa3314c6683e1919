#include "mount/served.h"

#include "mount/rules.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quodrel::mount {
namespace {

// Reads the archive for the library, from the one descriptor the mount opened.
int64_t read_archive(void* context, void* buffer, size_t size, uint64_t offset) {
    const int file = *static_cast<const int*>(context);
    for (;;) {
        const ssize_t n = pread(file, buffer, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// What the check tells, but its totals: the refusals, in the program's words.
int print_refusals(void* context, const quodrel_event* event) {
    if (event->kind != QUODREL_EVENT_END)
        static_cast<quodrel::Printer*>(context)->print(*event);
    return 0;
}

} // namespace

quodrel_error Served::open(const std::string& path, quodrel::Printer& out) {
    file_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file_ < 0)
        return errno == EMFILE || errno == ENFILE ? QUODREL_ERROR_DESCRIPTORS : QUODREL_ERROR_OPEN;
    if (fstat(file_, &at_mount_) != 0 || !S_ISREG(at_mount_.st_mode))
        return QUODREL_ERROR_OPEN;
    name_ = path;
    const quodrel_error error =
        quodrel_open_reader(read_archive, static_cast<uint64_t>(at_mount_.st_size), &file_,
                            path.c_str(), QUODREL_OPEN_REQUIRE_MAGIC, &archive_);
    if (error != QUODREL_OK)
        return error;
    quodrel_options options = QUODREL_OPTIONS_INIT;
    options.on_event = print_refusals;
    options.context = &out;
    quodrel_check(archive_, &options);
    return QUODREL_OK;
}

void Served::close() {
    quodrel_close(archive_);
    archive_ = nullptr;
    if (file_ >= 0)
        ::close(file_);
    file_ = -1;
}

// Whether the archive is still the file that was mounted. Found written over, it is
// told once (on_change), and every read fails from then on.
bool Served::unchanged() {
    if (changed_.load(std::memory_order_relaxed))
        return false;
    struct stat now;
    if (fstat(file_, &now) == 0 && same_contents(at_mount_, now))
        return true;
    if (!changed_.exchange(true) && on_change_)
        on_change_();
    return false;
}

std::size_t Served::read(const Node& file, std::uint64_t from, std::size_t size,
                         std::vector<char>& buffer) {
    const std::uint64_t left = from < file.size ? file.size - from : 0;
    const std::size_t want = size < left ? size : static_cast<std::size_t>(left);
    if (buffer.size() < want)
        buffer.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = pread(file_, buffer.data() + got, want - got,
                                static_cast<off_t>(file.data + from + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the archive cannot be read, or shrank: told below as a change
        got += static_cast<std::size_t>(n);
    }
    if (!unchanged() || got < want)
        return kUnread;
    return got;
}

} // namespace quodrel::mount
