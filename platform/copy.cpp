#include "platform/copy.h"

#include "platform/files.h"
#include "platform/os.h"

#include <new>

namespace quodrel::platform {

Copy Copier::copy(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                  std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
    if (count >= kKernelCopyMin && kernel_copy_works_) {
        Copy result = Copy::done;
        if (os::kernel_copy(from, from_offset, to, to_offset, count, copied, result))
            return result;
        kernel_copy_works_ = false; // not between these file systems: stop asking
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
        const std::int64_t got = read_at(from, buffer_.data(), n, from_offset + copied);
        if (got <= 0)
            return Copy::short_read;
        if (!write_all_at(to, buffer_.data(), static_cast<std::size_t>(got), to_offset + copied))
            return Copy::write_failed;
        copied += static_cast<std::uint64_t>(got);
    }
    return Copy::done;
}

} // namespace quodrel::platform
