// Moving file contents between streams with as few copies and system calls as the
// platform allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace quodrel::platform {

enum class Copy { done, short_read, write_failed, no_memory };

// Copies runs of bytes from one stream to another through one reusable buffer.
class CopyBuffer {
public:
    // Copies exactly `count` bytes from the stream's position to a new output (from
    // create_output, written from its start) unless the source ends or fails first; on
    // a short read `copied` tells how many arrived.
    Copy copy(std::FILE* from, int to, std::uint64_t count, std::uint64_t& copied);

private:
    std::vector<char> buffer_;
    bool kernel_copy_works_ = true;
};

// Writes one unbuffered stream in large blocks from a buffer of its own. Small files
// are read straight into that buffer, so their bytes are copied once on the way in
// and once on the way out, and never in between.
class BlockWriter {
public:
    explicit BlockWriter(std::FILE* to);
    bool write(const void* data, std::size_t size);
    // As CopyBuffer::copy, from a file opened with open_source into this writer's stream.
    Copy copy_from(int source, std::uint64_t count, std::uint64_t& copied);
    bool flush();

private:
    std::FILE* to_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool kernel_copy_works_ = true;
};

} // namespace quodrel::platform
