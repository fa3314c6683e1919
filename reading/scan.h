// Walks a source tree into an entry table in archive order (depth-first pre-order),
// through handles: each folder opened relative to the one above it, through a link
// only where the listing found one, and known by its identity, so that what the copy
// reads later can be checked against what the scan saw.
#pragma once

#include "archive/table.h"
#include "platform/files.h"
#include "quodrel/quodrel.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quodrel {

// Something the walk met that the archive cannot hold as it is.
struct ScanProblem {
    quodrel_error error;     // QUODREL_ERROR_OPEN (it cannot be listed or read), or
                             // QUODREL_ERROR_REFUSED (left out: `refusal` says why)
    quodrel_refusal refusal; // for a refusal
    int system_error;        // what the system said, where it said anything
    std::string below_root;  // its path below the source root, "" for the root itself
    bool refuses_archive;    // the archive cannot be written, rather than a part left out
};

// The state of one walk.
struct Scan {
    EntryTable table;
    // Per entry, what the scan found: a folder (an empty file is an entry of size 0
    // too), reached through a link.
    static constexpr std::uint8_t kFolder = 1, kLink = 2;
    std::vector<std::uint8_t> kinds;
    std::vector<platform::FileId> folder_ids;   // per folder, in table order
    std::int64_t data_size = 0;                 // running data offset: the next file's offset
    platform::FileId skip;                      // the archive being written, when it already exists
    std::uint64_t skip_size = 0;                // its size, so a listing without file identities
    bool skip_size_known = false;               // need only look closer at files of that size
    std::vector<platform::FileId> open_folders; // never walked into twice
    std::vector<ScanProblem> problems;
    // The bytes the table takes so far (its header, records and padded names): with
    // data_size, the size of the archive the entries make.
    std::int64_t table_size = static_cast<std::int64_t>(kHeaderSize);
    // A walk that stops once the archive would pass the format's size (links can make a
    // small tree's walk endless, in effect); `past_limits` then set, and the table
    // holds what was counted until then.
    bool stop_past_limits = false;
    bool past_limits = false;
};

// The rules every item of a folder meets on its way into an archive, whatever lists
// the folder (a walk of a tree on disk, or the caller's own list): items are taken in
// listing_order_less order; `admits` tells whether one may be an entry (a name that an
// archive gives back, within the format's limits), recording a problem when not;
// `add_entry` appends it as the next entry, its data laid after the files before it,
// and returns its index. A folder's child_count is set once its items are added.
bool admits(Scan& scan, const std::string& below_root, std::string_view name, std::uint64_t size);
std::size_t add_entry(Scan& scan, std::string_view name, bool is_folder, std::uint64_t size,
                      bool link);

// Walks source_dir from its root, leaving out the existing file archive_path, so an
// archive inside its own source is never packed into itself. The walk stops as soon as
// its entries would make an archive past the format's size (past_limits). A folder below the root
// that cannot be listed is packed empty; a file that may not be read and a name that
// an archive cannot give back are left out; all of them are problems. A root that
// cannot be listed refuses the archive. `lean`: descriptors are few.
void scan_tree(Scan& scan, const std::string& source_dir, const std::string& archive_path,
               bool lean);

// As scan_tree, leaving out the file `skip` (an archive open already, of `skip_size`
// bytes; nothing when it is not valid), known by its identity rather than a path.
void scan_tree_skipping(Scan& scan, const std::string& source_dir, const platform::FileId& skip,
                        std::uint64_t skip_size, bool lean);

} // namespace quodrel
