#include "transfer/copy.h"

#include "platform/files.h"
#include "platform/guard.h"

#include <new>

namespace quodrel::transfer {

bool Readable::read_exactly(void* to, std::size_t size, std::uint64_t offset) const {
    auto* bytes = static_cast<char*>(to);
    for (std::size_t got = 0; got < size;) {
        const std::int64_t n = read_at(bytes + got, size - got, offset + got);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t Readable::piece() const { return kCopyBlock; }

platform::KernelCopy Readable::move_into(std::uint64_t, int, std::uint64_t, std::uint64_t,
                                         std::uint64_t&) const {
    return platform::KernelCopy::unsupported;
}

std::int64_t ReadableFile::read_at(void* to, std::size_t size, std::uint64_t offset) const {
    return platform::read_at(file_, to, size, offset);
}

Copy Copier::copy(const Readable& from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                  std::uint64_t count, std::uint64_t& copied, const std::atomic<bool>* stop) {
    copied = 0;
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    if (count >= kKernelCopyMin && kernel_copy_works_ && from.file() >= 0) {
        while (copied < count) {
            if (stopped())
                return Copy::stopped;
            const std::uint64_t piece =
                count - copied < kKernelPiece ? count - copied : kKernelPiece;
            switch (platform::kernel_copy(from.file(), from_offset + copied, to, to_offset + copied,
                                          piece, copied)) {
            case platform::KernelCopy::done: continue;
            case platform::KernelCopy::short_read: return Copy::short_read;
            case platform::KernelCopy::write_failed: return Copy::write_failed;
            case platform::KernelCopy::failed: break; // the rest through the buffer tells whose
            case platform::KernelCopy::unsupported: kernel_copy_works_ = false; break;
            }
            break; // (unsupported: not between these file systems, so no more asking)
        }
        if (copied == count)
            return Copy::done;
    }
    // A pipe read in order moves into the file inside the kernel too, where it can.
    while (from.file() < 0 && copied < count) {
        if (stopped())
            return Copy::stopped;
        const std::uint64_t piece = count - copied < kKernelPiece ? count - copied : kKernelPiece;
        const platform::KernelCopy moved =
            from.move_into(from_offset + copied, to, to_offset + copied, piece, copied);
        if (moved == platform::KernelCopy::done)
            continue;
        if (moved == platform::KernelCopy::short_read)
            return Copy::short_read;
        if (moved == platform::KernelCopy::write_failed)
            return Copy::write_failed;
        break; // (the rest through the buffer, which tells whose failure it is)
    }
    if (copied == count)
        return Copy::done;
    const std::uint64_t left_now = count - copied;
    const std::size_t want =
        left_now < from.piece() ? static_cast<std::size_t>(left_now) : from.piece();
    if (buffer_.size() < want) {
        if (!platform::room_for(want) || !platform::or_no_memory(
                                             [&] {
                                                 buffer_.resize(want);
                                                 return true;
                                             },
                                             [] { return false; }))
            return Copy::no_memory;
    }
    while (copied < count) {
        if (stopped())
            return Copy::stopped;
        const std::uint64_t left = count - copied;
        const auto n = static_cast<std::size_t>(left < buffer_.size() ? left : buffer_.size());
        const std::int64_t got = from.read_at(buffer_.data(), n, from_offset + copied);
        if (got <= 0)
            return got == 0 ? Copy::short_read : Copy::read_failed;
        if (!platform::write_all_at(to, buffer_.data(), static_cast<std::size_t>(got),
                                    to_offset + copied))
            return Copy::write_failed;
        copied += static_cast<std::uint64_t>(got);
    }
    return Copy::done;
}

} // namespace quodrel::transfer
