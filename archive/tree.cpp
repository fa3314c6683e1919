#include "archive/tree.h"

namespace quodrel {

TreeWalker::TreeWalker() { levels_.push_back({-1, 0, "/"}); }

bool TreeWalker::next(std::int32_t index, const EntryRecord& record, std::string_view name) {
    // The levels the entries before this one completed close now.
    while (levels_.size() > 1 && levels_.back().remaining == 0)
        levels_.pop_back();
    Level& level = levels_.back();
    level.remaining -= 1; // the root's count only goes negative
    parent_ = level.index;
    path_length_ = level.path.size() + name.size();
    name_ = name;
    folder_ = record.size == 0;
    if (folder_) {
        if (levels_.size() > kMaxOpenFolders)
            return false;
        std::string path = level.path;
        path.append(name).push_back('/');
        levels_.push_back({index, record.child_count, std::move(path)});
    }
    return true;
}

const std::string& TreeWalker::path() {
    if (folder_)
        return levels_.back().path;
    file_path_.assign(levels_.back().path).append(name_);
    return file_path_;
}

std::string_view TreeWalker::entry_path() {
    std::string_view whole = path();
    whole.remove_prefix(1);
    if (folder_)
        whole.remove_suffix(1);
    return whole;
}

} // namespace quodrel
