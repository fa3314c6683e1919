#include "platform/copy.h"

#include <algorithm>
#include <cstring>
#include <new>

#ifdef __linux__
#include <cerrno>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace quodrel::platform {
namespace {

// Large enough that a file moves in few system calls, small enough that what one read
// brings in is still in the processor's cache when it is written out again. Measured:
// unpacking 1 GiB of big files from tmpfs onto ext4 took 0.6-0.75 s in 64 KiB blocks
// against 1.8-2.3 s in 1 MiB blocks (and 0.8-0.9 s for GNU tar), in alternating runs.
constexpr std::size_t kChunk = 1 << 16;

// From this size on, a file's bytes are moved inside the kernel where it can: one
// copy instead of two, and none through this process. Smaller files gain nothing
// and would lose the batching of many files into one write.
constexpr std::uint64_t kKernelCopyMin = 1 << 20;

// Moves `count` bytes at the streams' current positions without passing them through
// this process, then seeks both streams past what moved, so stdio and the descriptors
// agree again. False, with nothing moved, where the platform or the file systems
// cannot; `to` must have nothing buffered.
bool copy_in_kernel(std::FILE* from, std::FILE* to, std::uint64_t count, std::uint64_t& copied,
                    Copy& result) {
#ifdef __linux__
    off_t in = ftello(from);
    off_t out = ftello(to);
    if (in < 0 || out < 0)
        return false;
    result = Copy::done;
    while (copied < count) {
        const std::uint64_t left = count - copied;
        const ssize_t n = copy_file_range(fileno(from), &in, fileno(to), &out,
                                          left < (1u << 30) ? left : (1u << 30), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && copied == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return false;
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
    return true;
#else
    (void)from, (void)to, (void)count, (void)copied, (void)result;
    return false;
#endif
}

} // namespace

Copy CopyBuffer::copy(std::FILE* from, std::FILE* to, std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
    Copy result = Copy::done;
    if (count >= kKernelCopyMin) {
        if (std::fflush(to) != 0)
            return Copy::write_failed;
        if (copy_in_kernel(from, to, count, copied, result))
            return result;
    }
    const std::size_t want = count < kChunk ? static_cast<std::size_t>(count) : kChunk;
    if (buffer_.size() < want) {
        try {
            buffer_.resize(want);
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

BlockWriter::BlockWriter(std::FILE* to) : to_(to), buffer_(kChunk) {}

bool BlockWriter::flush() {
    const std::size_t n = used_;
    used_ = 0;
    return n == 0 || std::fwrite(buffer_.data(), 1, n, to_) == n;
}

bool BlockWriter::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (used_ == buffer_.size() && !flush())
            return false;
        const std::size_t n = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, bytes, n);
        used_ += n;
        bytes += n;
        size -= n;
    }
    return true;
}

Copy BlockWriter::copy_from(std::FILE* from, std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
    Copy result = Copy::done;
    if (count >= kKernelCopyMin) {
        if (!flush())
            return Copy::write_failed;
        if (copy_in_kernel(from, to_, count, copied, result))
            return result;
    }
    while (copied < count) {
        if (used_ == buffer_.size() && !flush())
            return Copy::write_failed;
        const std::uint64_t left = count - copied;
        const std::size_t room = buffer_.size() - used_;
        const std::size_t n = left < room ? static_cast<std::size_t>(left) : room;
        const std::size_t got = std::fread(buffer_.data() + used_, 1, n, from);
        used_ += got;
        copied += got;
        if (got < n)
            return Copy::short_read;
    }
    return Copy::done;
}

} // namespace quodrel::platform
