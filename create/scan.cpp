#include "create/scan.h"

#include <algorithm>
#include <cstdio>

namespace quodrel {

bool within_limits(const std::string& name, const std::string& relative_path, std::uint64_t size,
                   ScanProblem::Kind& kind) {
    if (name.size() > kMaxNameLength)
        kind = ScanProblem::name_too_long;
    else if (relative_path.size() > kMaxPathLength)
        kind = ScanProblem::path_too_long;
    else if (size > static_cast<std::uint64_t>(kMaxArchiveSize))
        kind = ScanProblem::file_too_large;
    else
        return true;
    return false;
}

bool is_fatal(const ScanProblem& problem) { return problem.kind != ScanProblem::cannot_list; }

namespace {

// Whether a listed file is the archive being written.
bool is_skipped_file(const Scan& scan, const platform::DirEntry& item, const std::string& path) {
    if (item.id.valid || !scan.skip.valid)
        return item.id == scan.skip;
    if (scan.skip_size_known && item.size != scan.skip_size)
        return false;
    return platform::file_id(path) == scan.skip;
}

} // namespace

std::int32_t scan_directory(Scan& scan, const std::string& dir_path, std::size_t root_length) {
    std::vector<platform::DirEntry> listing;
    if (!platform::list_directory(dir_path, listing)) {
        if (dir_path.size() > root_length) // the root itself may name nothing
            scan.problems.push_back({ScanProblem::cannot_list, dir_path});
        return 0;
    }
    const std::string below_root = dir_path.substr(root_length) + "/";
    std::int32_t local_count = 0;
    for (platform::DirEntry& item : listing) {
        if (item.is_directory ? std::count(scan.open_directories.begin(),
                                           scan.open_directories.end(), item.id) != 0
                              : is_skipped_file(scan, item, dir_path + "/" + item.name))
            continue; // a link back into an open directory, or the archive itself
        std::string relative_path = below_root + item.name;
        ScanProblem::Kind kind;
        if (!within_limits(item.name, relative_path, item.size, kind)) {
            scan.problems.push_back({kind, scan.source_dir + relative_path});
            continue;
        }
        ++local_count;
        const std::size_t i = scan.table.size();
        scan.table.emplace_back();
        Entry& entry = scan.table.back();
        entry.name = std::move(item.name);
        entry.relative_path = std::move(relative_path);
        if (item.is_directory) {
            entry.record.size = 0;
            scan.open_directories.push_back(item.id);
            const std::string sub_path = dir_path + "/" + scan.table[i].name;
            const std::int32_t children = scan_directory(scan, sub_path, root_length);
            scan.open_directories.pop_back();
            scan.table[i].record.child_count = children; // the table may have moved
        } else {
            entry.record.child_count = 0;
            entry.record.size = static_cast<std::int32_t>(item.size);
            // Past 2^31 the archive is refused; the offset is not kept then.
            entry.record.offset =
                scan.data_size <= kMaxArchiveSize ? static_cast<std::int32_t>(scan.data_size) : 0;
            scan.data_size += static_cast<std::int64_t>(item.size);
        }
    }
    return local_count;
}

void scan_tree(Scan& scan, const std::string& source_dir, const std::string& archive_path) {
    scan.source_dir = source_dir;
    scan.skip = platform::file_id(archive_path);
    if (std::FILE* archive = platform::open_file_for_reading(archive_path, &scan.skip_size)) {
        scan.skip_size_known = true;
        std::fclose(archive);
    }
    scan.open_directories.assign(1, platform::file_id(source_dir));
    scan_directory(scan, source_dir, source_dir.size());
}

} // namespace quodrel
