// The archive handle of the C interface: an archive read once, with what finding
// entries by path needs made the first time it is asked for.
#pragma once

#include "platform/sync.h"
#include "reading/archive.h"

#include <cstdint>
#include <string>
#include <vector>

struct quodrel_archive {
    quodrel::OpenArchive opened;
    // Every entry's path as a hash, and the entries in the order of their hashes: made
    // at the first quodrel_find, 12 bytes an entry.
    mutable quodrel::platform::OnceFlag indexed;
    mutable std::vector<std::uint64_t> path_hashes;
    mutable std::vector<std::uint32_t> by_hash;
};

namespace quodrel {

// Entry `index`'s path, as the interface writes it.
std::string entry_path(const quodrel_archive& archive, std::size_t index);

// Writes `text` into a caller's buffer as snprintf writes (at most `size` bytes with a
// closing NUL), and returns its whole length.
std::size_t give(const std::string& text, char* buffer, std::size_t size);

} // namespace quodrel
