#include "create/scan.h"

#include "events/events.h"

#include <algorithm>

namespace quodrel {
namespace {

// Whether a listed file is the archive being written.
bool is_skipped_file(const Scan& scan, const platform::FolderEntry& item, const std::string& path) {
    if (item.id.valid || !scan.skip.valid)
        return item.id == scan.skip;
    if (scan.skip_size_known && item.size != scan.skip_size)
        return false;
    return platform::file_id(path) == scan.skip;
}

void refuse(Scan& scan, quodrel_refusal refusal, std::string below_root, bool refuses_archive) {
    scan.problems.push_back(
        {QUODREL_ERROR_REFUSED, refusal, 0, std::move(below_root), refuses_archive});
}

// Appends the entries below folder_path (whose path below the root is `below_root`, with
// a closing "/" unless it is the root's "") and returns how many lie directly inside it.
std::int32_t scan_directory(Scan& scan, const std::string& folder_path,
                            const std::string& below_root) {
    std::vector<platform::FolderEntry> listing;
    if (!platform::list_folder(folder_path, listing)) {
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
        const std::string path = folder_path + "/" + item.name;
        if (item.is_folder
                ? std::count(scan.open_folders.begin(), scan.open_folders.end(), item.id) != 0
                : is_skipped_file(scan, item, path))
            continue; // a link back into an open folder, or the archive itself
        if (!is_storable_name(item.name)) {
            refuse(scan, QUODREL_REFUSED_NAME_NOT_STORABLE, below_root + item.name, false);
            continue;
        }
        // The path's length below the root, as extraction counts it (with a leading "/").
        const std::size_t path_length = 1 + below_root.size() + item.name.size();
        const Limit limit = check_entry(item.name, path_length, item.size);
        if (limit != Limit::none) {
            refuse(scan, refusal_of(limit), below_root + item.name, true);
            continue;
        }
        if (!item.readable) {
            scan.problems.push_back(
                {QUODREL_ERROR_OPEN, QUODREL_WRITTEN, 0, below_root + item.name, false});
            continue;
        }
        ++local_count;
        const std::size_t i = scan.table.size();
        EntryRecord record;
        if (!item.is_folder) {
            record.size = static_cast<std::int32_t>(item.size);
            // Past 2^31 the archive is refused; the offset is not kept then.
            record.offset =
                scan.data_size <= kMaxArchiveSize ? static_cast<std::int32_t>(scan.data_size) : 0;
            scan.data_size += static_cast<std::int64_t>(item.size);
        }
        scan.table.add(record, item.name);
        if (item.is_folder) {
            scan.open_folders.push_back(item.id);
            scan.table[i].record.child_count =
                scan_directory(scan, path, below_root + item.name + "/");
            scan.open_folders.pop_back();
        }
    }
    return local_count;
}

} // namespace

void scan_tree(Scan& scan, const std::string& source_dir, const std::string& archive_path) {
    scan.skip = platform::file_id(archive_path);
    const int archive = platform::open_for_reading(archive_path, &scan.skip_size);
    if (archive >= 0) {
        scan.skip_size_known = true;
        platform::close_file(archive);
    }
    scan.open_folders.assign(1, platform::file_id(source_dir));
    scan_directory(scan, source_dir, "");
}

} // namespace quodrel
