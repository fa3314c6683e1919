#include "platform/copy.h"

#include <new>

namespace quodrel::platform {
namespace {
// Large enough that a big file moves in few system calls, small enough to stay in memory
// budget whatever the file's size.
constexpr std::uint64_t kChunk = 1 << 20;
} // namespace

Copy CopyBuffer::copy(std::FILE* from, std::FILE* to, std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
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
