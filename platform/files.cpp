// Files and directories: each system's calls (the .inc files), then what the files
// layer does the same way on every system, built on them: the empty-path rule, the
// full-write loops, and the rules for opening an output and a temporary file.
#include "platform/files.h"

#include "platform/cleanup.h"

#include <cstdio>

namespace quodrel::platform::os {

// What an open file is.
struct Description {
    bool regular = false;
    bool directory = false;
    bool link = false;
    std::uint64_t links = 1;
    std::uint64_t size = 0;
    FileId id;
};

} // namespace quodrel::platform::os

// Each system defines in namespace os: kSeparators (the characters that end a
// folder's part of a path), describe, list_directory, open_for_reading, open_source,
// file_id, open_output (without following a link, creating the file when missing,
// failing when `exclusive` and it exists, truncating nothing), last_error_was_exists,
// truncate, remove, resolve_links (where a chain of links at a path ends), may_replace
// (whether an archive there may be replaced), unique_seed, write_some and
// write_some_at; and the calls of files.h that differ by system.
#ifdef _WIN32
#include "platform/win32/files.inc"
#else
#include "platform/posix/files.inc"
#endif

namespace quodrel::platform {

bool list_directory(const std::string& path, std::vector<DirEntry>& entries) {
    entries.clear();
    // An empty path names nothing (on Windows "\*.*" alone would list the drive's root).
    return !path.empty() && os::list_directory(path, entries);
}

int open_for_reading(const std::string& path, std::uint64_t* size) {
    return path.empty() ? -1 : os::open_for_reading(path, size);
}

int open_source(const std::string& path) { return path.empty() ? -1 : os::open_source(path); }

FileId file_id(const std::string& path) { return path.empty() ? FileId{} : os::file_id(path); }

bool write_all(int file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::int64_t n = os::write_some(file, bytes, size);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool write_all_at(int file, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::int64_t n = os::write_some_at(file, bytes, size, offset);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

Output create_output(const std::string& path, const FileId& keep, bool want_id) {
    Output out;
    if (path.empty())
        return out;
    // Most outputs are new: then they are this run's own, and there is nothing to ask.
    out.file = os::open_output(path, true);
    if (out.file >= 0) {
        if (want_id)
            out.id = file_id(out.file);
        return out;
    }
    if (!os::last_error_was_exists())
        return out;
    out.file = os::open_output(path, false);
    if (out.file < 0)
        return out;
    os::Description it;
    if (!os::describe(out.file, it) || !it.regular || it.link || it.id == keep) {
        close_file(out.file);
        out.file = -1;
        return out;
    }
    out.id = it.id;
    out.existed = true;
    return out;
}

bool empty_existing_output(const std::string& path, Output& output, bool want_id) {
    os::Description it;
    if (!os::describe(output.file, it)) {
        close_file(output.file);
        output.file = -1;
        return false;
    }
    if (it.links > 1) {
        // Other names share this file, possibly outside the destination: give this
        // name a file of its own instead of writing into the shared one.
        close_file(output.file);
        output.file = os::remove(path) ? os::open_output(path, true) : -1;
        if (output.file >= 0 && want_id)
            output.id = file_id(output.file);
        return output.file >= 0;
    }
    if (it.size > 0 && !os::truncate(output.file)) {
        close_file(output.file);
        output.file = -1;
        return false;
    }
    return true;
}

int create_temp_file_beside(const std::string& target, std::string& temp_path, int slot) {
    if (target.empty() || !os::may_replace(target))
        return -1;
    // Beside the file a link leads to, so that putting it in place is a rename within
    // one file system, and the link stays a link.
    const std::string final_target = os::resolve_links(target);
    const std::size_t cut = final_target.find_last_of(os::kSeparators);
    const std::string folder =
        cut == std::string::npos ? std::string() : final_target.substr(0, cut + 1);
    static unsigned counter = 0;
    const std::uint64_t seed = os::unique_seed();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".quodrel-%llx-%x", static_cast<unsigned long long>(seed),
                      counter++);
        const std::string path = folder + name;
        begin_output(slot, path);
        const int file = os::open_output(path, true);
        output_created(slot, file >= 0);
        if (file >= 0) {
            temp_path = path;
            return file;
        }
        if (!os::last_error_was_exists())
            return -1;
    }
    return -1;
}

bool remove_file(const std::string& path) { return os::remove(path); }

} // namespace quodrel::platform
