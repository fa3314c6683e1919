#include "reading/scan.h"

#include "events/events.h"
#include "transfer/held_folders.h"

#include <algorithm>

namespace quodrel {
namespace {

// Whether a listed file is the archive being written.
bool is_skipped_file(const Scan& scan, const platform::FolderEntry& item,
                     const platform::Folder& folder) {
    if (item.id.valid || !scan.skip.valid)
        return item.id == scan.skip;
    if (scan.skip_size_known && item.size != scan.skip_size)
        return false;
    return platform::file_id_in(folder, item.name) == scan.skip;
}

void refuse(Scan& scan, quodrel_refusal refusal, std::string below_root, bool refuses_archive) {
    scan.problems.push_back(
        {QUODREL_ERROR_REFUSED, refusal, 0, std::move(below_root), refuses_archive});
}

// Appends the entries below the innermost held folder, the folder of entry `index` (-1
// for the root), whose path below the root is `below_root` (with a closing "/" unless
// it is the root's ""), and returns how many lie directly inside it.
std::int32_t scan_directory(Scan& scan, transfer::HeldFolders& held, std::int32_t index,
                            const std::string& below_root) {
    std::vector<platform::FolderEntry> listing;
    transfer::FolderRef here = held.innermost();
    if (!here || !platform::list_folder(here->folder, listing)) {
        // Without its root there is nothing to pack: no archive rather than an empty one.
        const std::string folder =
            below_root.empty() ? below_root : below_root.substr(0, below_root.size() - 1);
        scan.problems.push_back({QUODREL_ERROR_OPEN, QUODREL_WRITTEN, platform::last_error(),
                                 folder, below_root.empty()});
        return 0;
    }
    // Every system lists in an order of its own (Windows' NTFS yet another): the
    // archive's order is fixed, so a tree gives the same archive wherever it is packed.
    std::sort(listing.begin(), listing.end(),
              [](const platform::FolderEntry& a, const platform::FolderEntry& b) {
                  return listing_order_less(a.name, b.name);
              });
    std::int32_t local_count = 0;
    for (platform::FolderEntry& item : listing) {
        if (scan.past_limits)
            break; // the archive is refused: what is counted says so already
        // (Where descriptors are few, the folder is let go while its subfolders are
        // scanned, and had again from the root after.)
        if (!here)
            here = held.innermost();
        if (!here) {
            scan.problems.push_back({QUODREL_ERROR_OPEN, QUODREL_WRITTEN, platform::last_error(),
                                     below_root + item.name, false});
            continue;
        }
        if (item.is_folder
                ? std::count(scan.open_folders.begin(), scan.open_folders.end(), item.id) != 0
                : is_skipped_file(scan, item, here->folder))
            continue; // a link back into an open folder, or the archive itself
        if (!admits(scan, below_root, item.name, item.size))
            continue;
        if (!item.readable) {
            scan.problems.push_back(
                {QUODREL_ERROR_OPEN, QUODREL_WRITTEN, 0, below_root + item.name, false});
            continue;
        }
        ++local_count;
        const std::size_t i = add_entry(scan, item.name, item.is_folder, item.size, item.link);
        if (!item.is_folder)
            continue;
        scan.folder_ids.push_back(item.id);
        const std::string below = below_root + item.name + "/";
        // Opened from this folder, through a link only where the listing saw one, and
        // the very folder it listed; else packed empty, and named.
        here.reset();
        if (!held.open_and_enter(static_cast<std::int32_t>(i), item.name, item.link, item.id)) {
            scan.problems.push_back({QUODREL_ERROR_OPEN, QUODREL_WRITTEN, platform::last_error(),
                                     below_root + item.name, false});
            continue;
        }
        scan.open_folders.push_back(item.id);
        scan.table[i].record.child_count =
            scan_directory(scan, held, static_cast<std::int32_t>(i), below);
        scan.open_folders.pop_back();
        held.leave_to(index);
    }
    return local_count;
}

} // namespace

bool admits(Scan& scan, const std::string& below_root, std::string_view name, std::uint64_t size) {
    if (!is_storable_name(name)) {
        refuse(scan, QUODREL_REFUSED_NAME_NOT_STORABLE, below_root + std::string(name), false);
        return false;
    }
    // The path's length below the root, as extraction counts it (with a leading "/").
    const std::size_t path_length = 1 + below_root.size() + name.size();
    const Limit limit = check_entry(name, path_length, size);
    if (limit != Limit::none) {
        refuse(scan, refusal_of(limit), below_root + std::string(name), true);
        return false;
    }
    return true;
}

std::size_t add_entry(Scan& scan, std::string_view name, bool is_folder, std::uint64_t size,
                      bool link) {
    const std::size_t i = scan.table.size();
    EntryRecord record;
    if (!is_folder) {
        record.size = static_cast<std::int32_t>(size);
        // Past 2^31 the archive is refused; the offset is not kept then.
        record.offset =
            scan.data_size <= kMaxArchiveSize ? static_cast<std::int32_t>(scan.data_size) : 0;
        scan.data_size += static_cast<std::int64_t>(size);
    }
    scan.table.add(record, name);
    scan.table_size += static_cast<std::int64_t>(kRecordSize) + padded_name_length(name.size());
    // (Every entry takes table bytes, so the count of entries is bounded by this too.)
    if (scan.stop_past_limits && scan.table_size + scan.data_size > kMaxArchiveSize)
        scan.past_limits = true;
    scan.kinds.push_back(
        static_cast<std::uint8_t>((is_folder ? Scan::kFolder : 0) | (link ? Scan::kLink : 0)));
    return i;
}

namespace {

// Walks the tree from its root, what to leave out already set.
void walk_from_root(Scan& scan, const std::string& source_dir, bool lean) {
    auto root = std::make_shared<transfer::OpenFolder>();
    if (source_dir.empty() || !platform::open_folder(source_dir, root->folder)) {
        // (An empty path names nothing, on Windows too, where it would be a drive's root.)
        scan.problems.push_back(
            {QUODREL_ERROR_OPEN, QUODREL_WRITTEN, platform::last_error(), "", true});
        return;
    }
    scan.open_folders.assign(1, platform::file_id(root->folder.handle));
    transfer::HeldFolders held(std::move(root), lean);
    scan_directory(scan, held, -1, "");
}

} // namespace

void scan_tree(Scan& scan, const std::string& source_dir, const std::string& archive_path,
               bool lean) {
    scan.stop_past_limits = true;
    scan.skip = platform::file_id(archive_path);
    const int archive = platform::open_for_reading(archive_path, &scan.skip_size);
    if (archive >= 0) {
        scan.skip_size_known = true;
        platform::close_file(archive);
    }
    walk_from_root(scan, source_dir, lean);
}

void scan_tree_skipping(Scan& scan, const std::string& source_dir, const platform::FileId& skip,
                        std::uint64_t skip_size, bool lean) {
    scan.skip = skip;
    scan.skip_size = skip_size;
    scan.skip_size_known = skip.valid;
    walk_from_root(scan, source_dir, lean);
}

} // namespace quodrel
