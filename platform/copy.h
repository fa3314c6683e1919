// Copying a run of bytes from one stream to another through one reusable buffer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quodrel::platform {

enum class Copy { done, short_read, write_failed, no_memory };

class CopyBuffer {
public:
    // Copies exactly `count` bytes unless the source ends or fails first; on a short
    // read `copied` tells how many arrived.
    Copy copy(std::FILE* from, std::FILE* to, std::uint64_t count, std::uint64_t& copied);

private:
    std::vector<char> buffer_;
};

} // namespace quodrel::platform
