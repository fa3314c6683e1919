// Reading an archive's header and entry table from a stream. Separate from the
// extractor so the same code can be driven from memory (as the fuzzer does).
#pragma once

#include "archive/format.h"
#include "extract/paths.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quodrel {

enum class TableDamage {
    none,
    cut_short,       // fewer bytes than the entry count and name lengths need
    bad_name_length, // a name_length below 0 or above kMaxStoredNameLength
    too_deep,        // more than kMaxOpenDirectories levels open at once
    no_memory,       // a table too large for memory
};

// Reads the header at the stream's start; bytes the stream does not supply stay 0.
// `position` receives how many bytes were read.
ArchiveHeader read_header(std::FILE* archive, std::int64_t& position);

// Reads the entry table that follows the header and places every entry. The entry
// count is checked against `archive_size` before anything is allocated. `position`
// advances past what was read.
TableDamage read_entry_table(std::FILE* archive, std::uint64_t archive_size,
                             const ArchiveHeader& header, EntryTable& table,
                             std::vector<Placement>& placements, std::int64_t& position);

} // namespace quodrel
