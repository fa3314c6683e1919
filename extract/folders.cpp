#include "extract/folders.h"

#include <functional>

namespace quodrel {

OpenFolders::OpenFolders(FolderRef destination, bool fold, bool lean) : fold_(fold), lean_(lean) {
    levels_.push_back({-1, std::string(), std::move(destination), {}});
}

void OpenFolders::leave_to(std::int32_t parent) {
    while (levels_.size() > 1 && levels_.back().index != parent)
        levels_.pop_back();
}

bool OpenFolders::meets(std::string_view name) {
    const std::size_t key = fold_ ? std::hash<std::string>()(platform::fold_case(std::string(name)))
                                  : std::hash<std::string_view>()(name);
    return !levels_.back().names.insert(key).second;
}

FolderRef OpenFolders::innermost() {
    if (!levels_.back().folder)
        reopen();
    return levels_.back().folder;
}

void OpenFolders::enter(std::int32_t index, const std::string& name, FolderRef folder) {
    if (lean_)
        for (std::size_t i = 1; i < levels_.size(); ++i)
            levels_[i].folder.reset(); // closed unless a job still holds it
    levels_.push_back({index, name, std::move(folder), {}});
}

void OpenFolders::reopen() {
    FolderRef at = levels_.front().folder;
    for (std::size_t i = 1; i < levels_.size() && at; ++i) {
        if (levels_[i].folder) {
            at = levels_[i].folder;
            continue;
        }
        auto next = std::make_shared<OpenFolder>();
        if (!platform::open_subfolder(at->folder, levels_[i].name, next->folder))
            next.reset();
        at = next;
    }
    levels_.back().folder = at;
}

} // namespace quodrel
