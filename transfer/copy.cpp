#include "transfer/copy.h"

#include "platform/files.h"

#include <new>

namespace quodrel::transfer {

Copy Copier::copy(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                  std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
    if (count >= kKernelCopyMin && kernel_copy_works_) {
        switch (platform::kernel_copy(from, from_offset, to, to_offset, count, copied)) {
        case platform::KernelCopy::done: return Copy::done;
        case platform::KernelCopy::short_read: return Copy::short_read;
        case platform::KernelCopy::write_failed: return Copy::write_failed;
        case platform::KernelCopy::unsupported:
            kernel_copy_works_ = false; // not between these file systems: stop asking
            break;
        }
    }
    const std::size_t want = count < kCopyBlock ? static_cast<std::size_t>(count) : kCopyBlock;
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
        const std::int64_t got = platform::read_at(from, buffer_.data(), n, from_offset + copied);
        if (got <= 0)
            return Copy::short_read;
        if (!platform::write_all_at(to, buffer_.data(), static_cast<std::size_t>(got),
                                    to_offset + copied))
            return Copy::write_failed;
        copied += static_cast<std::uint64_t>(got);
    }
    return Copy::done;
}

} // namespace quodrel::transfer
