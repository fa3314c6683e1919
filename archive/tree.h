// Where each entry lies: rebuilt from the entries' order and the folders' child
// counts alone, as the format stores no paths. A folder opens a level that holds
// its child_count entries; an entry past that count belongs to the enclosing level,
// and the last entry of a folder closes it and every enclosing one it completes.
#pragma once

#include "archive/format.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quodrel {

// Takes the entries one by one in table order and tells each one's parent and path
// below the root. Keeps only the open folders, so its memory stays small
// whatever the archive holds.
class TreeWalker {
public:
    TreeWalker();
    // Places entry `index`; false when it is a folder that would open more than
    // kMaxOpenFolders levels below the root.
    bool next(std::int32_t index, const EntryRecord& record, std::string_view name);
    // The enclosing folder of the entry placed last, -1 for the root.
    std::int32_t parent() const { return parent_; }
    // The length of its path below the root, without a folder's closing "/".
    std::size_t path_length() const { return path_length_; }
    // Its path below the root: "/a.txt", "/sub/b.bin"; a folder's ends with "/".
    const std::string& path();
    // Its path as a user names it: without the leading "/" nor a folder's closing
    // one ("a.txt", "sub", "sub/b.bin"). Valid until the next entry is placed.
    std::string_view entry_path();

private:
    struct Level {
        std::int32_t index;     // the folder's entry, -1 for the root
        std::int64_t remaining; // 64 bits: counts from a file may be anything
        std::string path;       // ends with "/"
    };
    std::vector<Level> levels_;
    std::int32_t parent_ = -1;
    std::size_t path_length_ = 0;
    bool folder_ = false;
    std::string_view name_;
    std::string file_path_;
};

} // namespace quodrel
