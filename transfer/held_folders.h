// The folders an operation holds open along its walk through a tree, from the root
// down to the folder it is in: each opened relative to the one above it, never through
// a link it was not told to follow, and known by its identity. Whatever is done to the
// tree meanwhile (a folder renamed, replaced by a link), what is read or made in a
// held folder is read or made in it. Jobs may hold a folder after the walk has left
// it. Where descriptors are few, only the innermost folder stays open; one needed
// again is opened anew from the root, level by level, and refused where anything on
// the way is not what it was.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quodrel::transfer {

// Descriptors enough for every folder level open at once, the jobs under way and each
// thread's file: below it, an operation holds only the innermost folder and moves
// contents on one thread.
constexpr std::size_t kDescriptorsAtEase = 2 * 255 + 256 + 128;

// A folder held open while anything is still to be read or made in it: by the walk, or
// by a job whose files are there.
struct OpenFolder {
    platform::Folder folder;
    OpenFolder() = default;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder() { platform::close_folder(folder); }
};
using FolderRef = std::shared_ptr<OpenFolder>;

class HeldFolders {
public:
    // `root` is open; `lean`: descriptors are few.
    HeldFolders(FolderRef root, bool lean);

    // Leaves the folders that the entry with parent `parent` lies outside of.
    void leave_to(std::int32_t parent);

    // The innermost folder, open; null when it cannot be had again.
    FolderRef innermost();

    // Opens folder `name` in the innermost, through a link there only with `follow`,
    // and goes into it as the folder of entry `index`; null, and nothing entered, when
    // it cannot be opened or is not the folder `expected` (where that is valid).
    FolderRef open_and_enter(std::int32_t index, const std::string& name, bool follow,
                             const platform::FileId& expected);

    // Goes into folder `name`, made and opened already, as the folder of entry `index`.
    void enter(std::int32_t index, const std::string& name, FolderRef folder);

    // Whether `name` may meet a name met before in the innermost folder, as the file
    // system compares names (folding their case with `fold`); notes it.
    bool meets(std::string_view name, bool fold);

private:
    void push(std::int32_t index, const std::string& name, FolderRef folder, bool follow,
              const platform::FileId& id);
    FolderRef reopen();

    struct Level {
        std::int32_t index; // the folder's entry, -1 for the root
        std::string name;
        FolderRef folder; // null while closed
        bool follow;      // reached through a link
        platform::FileId id;
        std::unordered_set<std::size_t> names;
    };
    bool lean_;
    std::vector<Level> levels_;
};

} // namespace quodrel::transfer
