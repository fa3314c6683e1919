#include "transfer/held_folders.h"

#include <functional>

namespace quodrel::transfer {

HeldFolders::HeldFolders(FolderRef root, bool lean) : lean_(lean) {
    const platform::FileId id = platform::file_id(root->folder.handle);
    levels_.push_back({-1, root->folder.path, std::move(root), true, id, {}});
}

void HeldFolders::leave_to(std::int32_t parent) {
    while (levels_.size() > 1 && levels_.back().index != parent)
        levels_.pop_back();
}

bool HeldFolders::meets(std::string_view name, bool fold) {
    const std::size_t key = fold ? std::hash<std::string>()(platform::fold_case(std::string(name)))
                                 : std::hash<std::string_view>()(name);
    return !levels_.back().names.insert(key).second;
}

FolderRef HeldFolders::innermost() {
    if (!levels_.back().folder)
        levels_.back().folder = reopen();
    return levels_.back().folder;
}

FolderRef HeldFolders::open_and_enter(std::int32_t index, const std::string& name, bool follow,
                                      const platform::FileId& expected) {
    const FolderRef in = innermost();
    if (!in)
        return nullptr;
    auto opened = std::make_shared<OpenFolder>();
    if (!platform::open_subfolder(in->folder, name, opened->folder, follow))
        return nullptr;
    const platform::FileId id = platform::file_id(opened->folder.handle);
    if (expected.valid && !(id == expected))
        return nullptr; // not the folder it was
    push(index, name, opened, follow, id);
    return opened;
}

void HeldFolders::enter(std::int32_t index, const std::string& name, FolderRef folder) {
    const platform::FileId id = platform::file_id(folder->folder.handle);
    push(index, name, std::move(folder), false, id);
}

void HeldFolders::push(std::int32_t index, const std::string& name, FolderRef folder, bool follow,
                       const platform::FileId& id) {
    if (lean_)
        for (Level& level : levels_)
            level.folder.reset(); // closed unless a job still holds it
    levels_.push_back({index, name, std::move(folder), follow, id, {}});
}

// Opens the innermost folder again: the root by the path it was given, then level by
// level, each the very folder it was.
FolderRef HeldFolders::reopen() {
    FolderRef at;
    for (Level& level : levels_) {
        if (level.folder) {
            at = level.folder;
            continue;
        }
        auto next = std::make_shared<OpenFolder>();
        const bool opened =
            at ? platform::open_subfolder(at->folder, level.name, next->folder, level.follow)
               : platform::open_folder(level.name, next->folder);
        if (!opened || !(platform::file_id(next->folder.handle) == level.id))
            return nullptr;
        at = next;
        if (&level != &levels_.back() && !lean_)
            level.folder = at; // held again for what follows
    }
    return at;
}

} // namespace quodrel::transfer
