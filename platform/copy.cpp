#include "platform/copy.h"

#include <new>

#ifdef __linux__
#include <cerrno>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace quodrel::platform {
namespace {

// Large enough that a big file moves in few system calls, small enough to stay in memory
// budget whatever the file's size.
constexpr std::uint64_t kChunk = 1 << 20;

#ifdef __linux__
// From this size on, a file's bytes are moved inside the kernel: one copy instead
// of two, and none through this process. Smaller files gain nothing from it and
// would lose the batching of the output stream's buffer.
constexpr std::uint64_t kKernelCopyMin = 1 << 20;

enum class Kernel { unsupported, done };

// Moves `count` bytes with copy_file_range at the streams' current positions, then
// seeks both streams past what moved, so stdio and the descriptors agree again.
// Unsupported (nothing moved) when the kernel or the file systems cannot do it.
Kernel copy_in_kernel(std::FILE* from, std::FILE* to, std::uint64_t count, std::uint64_t& copied,
                      Copy& result) {
    if (std::fflush(to) != 0) {
        result = Copy::write_failed;
        return Kernel::done;
    }
    off_t in = ftello(from);
    off_t out = ftello(to);
    if (in < 0 || out < 0)
        return Kernel::unsupported;
    result = Copy::done;
    while (copied < count) {
        const std::uint64_t left = count - copied;
        const ssize_t n = copy_file_range(fileno(from), &in, fileno(to), &out,
                                          left < (1u << 30) ? left : (1u << 30), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && copied == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return Kernel::unsupported;
        if (n <= 0) {
            const bool full = n < 0 && (errno == ENOSPC || errno == EFBIG || errno == EDQUOT);
            result = full ? Copy::write_failed : Copy::short_read;
            break;
        }
        copied += static_cast<std::uint64_t>(n);
    }
    if (fseeko(from, in, SEEK_SET) != 0 && result == Copy::done)
        result = Copy::short_read;
    if (fseeko(to, out, SEEK_SET) != 0)
        result = Copy::write_failed;
    return Kernel::done;
}
#endif

} // namespace

Copy CopyBuffer::copy(std::FILE* from, std::FILE* to, std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
#ifdef __linux__
    Copy result = Copy::done;
    if (count >= kKernelCopyMin && copy_in_kernel(from, to, count, copied, result) == Kernel::done)
        return result;
#endif
    const std::uint64_t want = count < kChunk ? count : kChunk;
    if (buffer_.size() < want) {
        try {
            buffer_.resize(static_cast<std::size_t>(want));
        } catch (const std::bad_alloc&) {
            return Copy::no_memory;
        }
    }
    while (copied < count) {
        const std::uint64_t left = count - copied;
        const auto n = static_cast<std::size_t>(left < buffer_.size() ? left : buffer_.size());
        const std::size_t got = std::fread(buffer_.data(), 1, n, from);
        if (got > 0 && std::fwrite(buffer_.data(), 1, got, to) != got)
            return Copy::write_failed;
        copied += got;
        if (got < n)
            return Copy::short_read;
    }
    return Copy::done;
}

} // namespace quodrel::platform
