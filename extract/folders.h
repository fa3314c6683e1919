// The folders an extraction holds open: the destination and the folders along the
// walk down to the one entries now go into, each with the names met in it so far as
// hashes of how the file system compares them. Two entries that may meet on disk are
// never under way at the same time, so which one comes first never depends on
// timing. Where descriptors are few, only the destination and the innermost folder
// stay open; a folder needed again is opened anew by a walk from the destination,
// never through a link.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quodrel {

// A folder held open while anything is still to be made in it: by the walk, or by a
// job whose files go there.
struct OpenFolder {
    platform::Folder folder;
    OpenFolder() = default;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder() { platform::close_folder(folder); }
};
using FolderRef = std::shared_ptr<OpenFolder>;

class OpenFolders {
public:
    // `fold`: names are compared as the file system folds them; `lean`: descriptors are
    // few.
    OpenFolders(FolderRef destination, bool fold, bool lean);

    // Closes the folders that the entry with parent `parent` lies outside of.
    void leave_to(std::int32_t parent);

    // Whether `name` may meet a name met before in the innermost folder; notes it.
    bool meets(std::string_view name);

    // The innermost folder, open; null when it cannot be opened again.
    FolderRef innermost();

    // Goes into the folder of entry `index`, made and open.
    void enter(std::int32_t index, const std::string& name, FolderRef folder);

private:
    void reopen();

    struct Level {
        std::int32_t index; // the folder's entry, -1 for the destination
        std::string name;
        FolderRef folder; // null while closed
        std::unordered_set<std::size_t> names;
    };
    bool fold_;
    bool lean_;
    std::vector<Level> levels_;
};

} // namespace quodrel
