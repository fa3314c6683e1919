#include "writer/sink.h"

#include "platform/files.h"

#include <algorithm>

namespace quodrel {

bool Sink::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    // A block's worth or more, with nothing gathered before it, goes on as it is.
    if (block_.empty() && size >= transfer::kCopyBlock)
        return send(bytes, size);
    while (size > 0) {
        const std::size_t n = std::min(size, transfer::kCopyBlock - block_.size());
        block_.insert(block_.end(), bytes, bytes + n);
        bytes += n;
        size -= n;
        if (block_.size() == transfer::kCopyBlock && !flush())
            return false;
    }
    return true;
}

bool Sink::flush() {
    const bool sent = block_.empty() || send(block_.data(), block_.size());
    block_.clear();
    return sent;
}

bool FileSink::send(const char* data, std::size_t size) {
    const bool written = platform::write_all_at(file_, data, size, position_);
    error_ = written ? 0 : platform::last_error();
    position_ += size;
    return written;
}

bool WriterSink::send(const char* data, std::size_t size) {
    if (error_ == 0)
        error_ = write_(context_, data, size);
    return error_ == 0;
}

bool DescriptorSink::send(const char* data, std::size_t size) {
    if (error_ != 0)
        return false;
    if (!platform::write_all(descriptor_, data, size))
        error_ = platform::last_error() != 0 ? platform::last_error() : -1;
    return error_ == 0;
}

platform::FileId DescriptorSink::destination(std::uint64_t& size) const {
    const platform::FileStamp stamp = platform::file_stamp(descriptor_);
    size = stamp.size;
    return stamp.valid ? platform::file_id(descriptor_) : platform::FileId{};
}

platform::KernelCopy DescriptorSink::send_file(int from, std::uint64_t offset, std::uint64_t count,
                                               std::uint64_t& copied) {
    if (error_ != 0)
        return platform::KernelCopy::write_failed;
    const platform::KernelCopy sent = platform::send_file(descriptor_, from, offset, count, copied);
    if (sent == platform::KernelCopy::write_failed)
        error_ = platform::last_error() != 0 ? platform::last_error() : -1;
    return sent;
}

} // namespace quodrel
