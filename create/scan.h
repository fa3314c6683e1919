// Walks a source tree into an entry table in archive order (depth-first pre-order).
#pragma once

#include "archive/format.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

// Something the walk met that the archive cannot hold as it is.
struct ScanProblem {
    enum Kind { cannot_list, name_too_long, path_too_long, file_too_large } kind;
    std::string path; // the path on disk
};

// The state of one walk.
struct Scan {
    EntryTable table;
    std::int64_t data_size = 0;   // running data offset: the next file's offset
    platform::FileId skip;        // the archive being written, when it already exists
    std::uint64_t skip_size = 0;  // its size, so a listing without file identities
    bool skip_size_known = false; // need only look closer at files of that size
    std::vector<platform::FileId> open_directories; // never walked into twice
    std::vector<ScanProblem> problems;
    std::string source_dir;
};

// Appends the entries below dir_path to scan.table and returns how many lie directly
// inside it. root_length is the length of the source root's path, cut off dir_path
// to form relative paths. A directory that cannot be listed contributes nothing.
std::int32_t scan_directory(Scan& scan, const std::string& dir_path, std::size_t root_length);

// Walks source_dir from its root, leaving out the existing file archive_path, so an
// archive inside its own source is never packed into itself.
void scan_tree(Scan& scan, const std::string& source_dir, const std::string& archive_path);

// Whether a problem makes the archive impossible to write (as opposed to a part of
// the tree that could not be read).
bool is_fatal(const ScanProblem& problem);

// Checks one listed entry against the limits of the format; on false `kind` says
// which limit it breaks.
bool within_limits(const std::string& name, const std::string& relative_path, std::uint64_t size,
                   ScanProblem::Kind& kind);

} // namespace quodrel
