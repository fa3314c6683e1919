// Where each entry of an archive belongs: rebuilt from the entries' order and the
// directories' child counts, without touching the disk.
#pragma once

#include "archive/format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

constexpr std::size_t kMaxOpenDirectories = 255; // levels below the archive root

enum class Problem {
    none,
    unsafe_name,   // empty, ".", "..", a separator, a device name
    name_too_long, // more than kMaxNameLength bytes
    path_too_long, // relative path of more than kMaxPathLength bytes
    below_refused, // inside a directory that was refused
};

struct Placement {
    std::int32_t parent = -1; // index of the enclosing directory, -1 for the root
    Problem problem = Problem::none;
};

// Places every entry. A directory opens a level holding child_count entries; an
// entry past that count belongs to the enclosing level. False (and `placements`
// incomplete) when more than kMaxOpenDirectories levels would be open at once.
bool place_entries(const EntryTable& table, std::vector<Placement>& placements);

// Hands out relative paths in table order, keeping only the open directories'
// paths, so memory stays small whatever the archive holds. Directories' paths end
// with "/". Entries below a refused directory need not be asked for.
class RelativePaths {
public:
    RelativePaths();
    const std::string& path_of(std::int32_t index, const Entry& entry, std::int32_t parent);

private:
    std::vector<std::int32_t> open_index_;
    std::vector<std::string> open_path_;
    std::string file_path_;
};

} // namespace quodrel
