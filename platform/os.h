// The primitives each operating system provides to the rest of platform/: one
// implementation in files_posix.cpp, one in files_win32.cpp. The policy built on
// them (files_common.cpp, copy.cpp, cleanup_common.cpp) is written once.
#pragma once

#include "platform/copy.h"
#include "platform/files.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quodrel::platform::os {

// The characters that end a folder's part of a path.
extern const char* const kSeparators;

// What an open file is.
struct Description {
    bool regular = false;
    bool directory = false;
    bool link = false;
    std::uint64_t links = 1;
    std::uint64_t size = 0;
    FileId id;
};
bool describe(int file, Description& description);

bool list_directory(const std::string& path, std::vector<DirEntry>& entries);
int open_for_reading(const std::string& path, std::uint64_t* size);
int open_source(const std::string& path);
FileId file_id(const std::string& path);

// Opens `path` for writing without following a link, creating it when missing;
// `exclusive` fails when it exists. Nothing is truncated.
int open_output(const std::string& path, bool exclusive);
bool last_error_was_exists();
bool truncate(int file);
bool remove(const std::string& path);

// The path a chain of links at `path` ends in, whether or not something is there;
// `path` itself when it is no link.
std::string resolve_links(const std::string& path);

// Whether an existing archive at `target` may be replaced: not a directory or
// device, not read-only. True when nothing is there.
bool may_replace(const std::string& target);

// Some number that differs between processes and runs, for temporary names.
std::uint64_t unique_seed();

std::int64_t write_some(int file, const void* data, std::size_t size);
std::int64_t write_some_at(int file, const void* data, std::size_t size, std::uint64_t offset);

// Moves up to `count` bytes between files inside the kernel, advancing both offsets
// and `copied`. False, with nothing moved, where the system or the file systems
// cannot; then `result` is not set.
bool kernel_copy(int from, std::uint64_t& from_offset, int to, std::uint64_t& to_offset,
                 std::uint64_t count, std::uint64_t& copied, Copy& result);

} // namespace quodrel::platform::os
