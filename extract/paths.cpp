#include "extract/paths.h"

namespace quodrel {

bool place_entries(const EntryTable& table, std::vector<Placement>& placements) {
    struct Level {
        std::int32_t index;      // the directory's entry, -1 for the root
        std::int64_t remaining;  // 64 bits: counts from the file may be anything
        std::size_t path_length; // its relative path with the trailing "/"
        bool refused;
    };
    std::vector<Level> levels{{-1, 0, 1, false}};
    placements.assign(table.size(), Placement{});
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Entry& entry = table[i];
        Level& level = levels.back();
        level.remaining -= 1; // the root's count only goes negative
        Placement& placed = placements[i];
        placed.parent = level.index;
        const std::size_t path_length = level.path_length + entry.name.size();
        if (level.refused)
            placed.problem = Problem::below_refused;
        else if (entry.name.size() > kMaxNameLength)
            placed.problem = Problem::name_too_long;
        else if (!is_safe_name(entry.name))
            placed.problem = Problem::unsafe_name;
        else if (path_length > kMaxPathLength)
            placed.problem = Problem::path_too_long;

        if (entry.record.size == 0) {
            if (levels.size() > kMaxOpenDirectories)
                return false;
            levels.push_back({static_cast<std::int32_t>(i), entry.record.child_count,
                              path_length + 1, placed.problem != Problem::none});
        }
        // The last entry of a directory closes it and every enclosing one it completes.
        while (levels.size() > 1 && levels.back().remaining == 0)
            levels.pop_back();
    }
    return true;
}

RelativePaths::RelativePaths() : open_index_{-1}, open_path_{"/"} {}

const std::string& RelativePaths::path_of(std::int32_t index, const Entry& entry,
                                          std::int32_t parent) {
    // Entries come in pre-order, so the parent is one of the open directories.
    while (open_index_.size() > 1 && open_index_.back() != parent) {
        open_index_.pop_back();
        open_path_.pop_back();
    }
    if (entry.record.size == 0) {
        open_index_.push_back(index);
        open_path_.push_back(open_path_.back() + entry.name + "/");
        return open_path_.back();
    }
    file_path_ = open_path_.back() + entry.name;
    return file_path_;
}

} // namespace quodrel
