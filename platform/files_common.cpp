// What the files layer does the same way on every system, built on the primitives
// of os.h: the empty-path rule, the full-write loops, the listing order and the
// rules for creating an output and a temporary file.
#include "platform/cleanup.h"
#include "platform/files.h"
#include "platform/os.h"

#include <algorithm>
#include <cstdio>

namespace quodrel::platform {

bool listing_order_less(const std::string& a, const std::string& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z')
            ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z')
            cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // same letters apart from case: raw bytes decide
}

bool list_directory(const std::string& path, std::vector<DirEntry>& entries) {
    entries.clear();
    // An empty path names nothing (on Windows "\*.*" alone would list the drive's root).
    if (path.empty() || !os::list_directory(path, entries))
        return false;
    // Sorted on every system: Windows lists NTFS folders in an order of its own
    // (other file systems in yet others), and a tree must give the same archive
    // wherever it is packed.
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
        return listing_order_less(a.name, b.name);
    });
    return true;
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

Output create_output(const std::string& path, const OutputRules& rules) {
    Output out;
    if (path.empty())
        return out;
    // Most outputs are new: then they are this run's own, and there is nothing to ask.
    out.file = os::open_output(path, true);
    if (out.file >= 0) {
        if (rules.want_id)
            out.id = file_id(out.file);
        return out;
    }
    if (!os::last_error_was_exists())
        return out;
    out.file = os::open_output(path, false);
    if (out.file < 0)
        return out;
    // Truncated only once it is known to be a plain file this run may replace.
    os::Description it;
    const bool described = os::describe(out.file, it);
    out.clash = described && rules.written && rules.written->has(it.id);
    if (!described || out.clash || !it.regular || it.link || it.id == rules.keep) {
        close_file(out.file);
        out.file = -1;
        return out;
    }
    out.id = it.id;
    if (it.links > 1) {
        // Other names share this file, possibly outside the destination: give this
        // name a file of its own instead of writing into the shared one.
        close_file(out.file);
        out.file = os::remove(path) ? os::open_output(path, true) : -1;
        if (out.file >= 0 && rules.want_id)
            out.id = file_id(out.file);
        return out;
    }
    if (it.size > 0 && !os::truncate(out.file)) {
        close_file(out.file);
        out.file = -1;
    }
    return out;
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
