// Files and folders: each system's calls (the .inc files), then what the files layer
// does the same way on every system, built on them: the empty-path rule, the
// full-write loops, the watch, and the rules for opening an output and a temporary
// file.
#include "platform/files.h"

#include <atomic>
#include <cstdio>

namespace quodrel::platform::os {

// What a name in a folder is.
struct Description {
    bool regular = false;
    bool link = false;
    bool other_name = false; // the name led to a file whose own name is another
    int kept = 0;            // why the system keeps this plain file from being replaced
                             // (its error number: a read-only file on Windows), or 0
    FileId id;
};

// How a watcher is told where a file is: a folder's descriptor and a name in it, or
// (folder -1) a whole path as the system's calls take it.
struct Watched {
    int folder = -1;
    std::string name;
};

} // namespace quodrel::platform::os

// Each system defines in namespace os: describe_in (what a name in a folder is, links
// not followed), watched (how a watcher is told of a file), open_for_reading, file_id,
// create_in (a new file in a folder, never through a link), create_unnamed_in and
// name_unnamed_in (a file in a folder that gets its name only when complete, where the
// file system can), find_target (the folder a file to be replaced lies in, as the
// kernel finds it), copy_mode_in (the permission bits of one file onto an open one),
// last_error_was_exists, set_last_error, unique_seed, write_some and write_some_at;
// and the calls of files.h that differ by system.
#ifdef _WIN32
#include "platform/win32/files.inc"
#elif defined(__wasi__)
#include "platform/wasi/files.inc"
#else
#include "platform/posix/files.inc"
#endif

namespace quodrel::platform {

int open_for_reading(const std::string& path, std::uint64_t* size) {
    return path.empty() ? -1 : os::open_for_reading(path, size);
}

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

void Watch::begin(unsigned thread, const Folder& folder, const std::string& name) const {
    if (!on_begin)
        return;
    const os::Watched it = os::watched(folder, name);
    on_begin(context, thread, it.folder, it.name.c_str());
}

void Watch::begin(unsigned thread, const std::string& path) const {
    if (!on_begin)
        return;
    const os::Watched it = os::watched(path);
    on_begin(context, thread, it.folder, it.name.c_str());
}

void Watch::created(unsigned thread, bool created) const {
    if (on_created)
        on_created(context, thread, created ? 1 : 0);
}

void Watch::finished(unsigned thread) const {
    if (on_finished)
        on_finished(context, thread);
}

Output create_output(const Folder& folder, const std::string& name, const FileId& keep,
                     bool want_id) {
    Output out;
    // Most outputs are new: then they are this run's own, and there is nothing to ask.
    out.file = os::create_in(folder, name);
    if (out.file >= 0) {
        if (want_id)
            out.id = file_id(out.file);
        return out;
    }
    out.error = last_error();
    os::Description it;
    if (os::last_error_was_exists() && os::describe_in(folder, name, it)) {
        out.other_name = it.other_name;
        if (it.kept != 0)
            out.error = it.kept; // kept as it is, as the system would refuse to replace it
        else if (it.regular && !it.link && !(it.id == keep)) {
            out.existed = true;
            out.id = it.id;
        }
    }
    return out;
}

namespace {

// A name for a temporary file no other run picks: the process, the time, a count.
std::string temp_name() {
    static std::atomic<unsigned> counter{0};
    static const std::uint64_t seed = os::unique_seed();
    char name[64];
    std::snprintf(name, sizeof name, ".quodrel-%llx-%x", static_cast<unsigned long long>(seed),
                  counter++);
    return name;
}

} // namespace

int create_replacement(const Folder& folder, std::string& name, const Watch& watch,
                       unsigned thread) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temp_name();
        watch.begin(thread, folder, name);
        const int file = os::create_in(folder, name);
        watch.created(thread, file >= 0);
        if (file >= 0 || !os::last_error_was_exists())
            return file;
    }
    return -1;
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        file = other.file;
        folder = other.folder;
        target = std::move(other.target);
        name = std::move(other.name);
        made_target = other.made_target;
        folder_id = other.folder_id;
        watch = other.watch;
        thread = other.thread;
        other.file = -1;
        other.folder.handle = -1;
        other.name.clear();
        other.made_target = false;
    }
    return *this;
}

bool create_temp_file_beside(const std::string& target, TempFile& temp, const Watch& watch,
                             unsigned thread) {
    temp = TempFile{};
    temp.watch = &watch;
    temp.thread = thread;
    // The folder the target lies in, as the kernel finds it, and its name there: the
    // rest is done in that folder, so that the archive is put in place within one file
    // system, and a link stays a link.
    if (target.empty() || !os::find_target(target, temp.folder, temp.target, temp.made_target))
        return false;
    temp.file = os::create_unnamed_in(temp.folder);
    for (int attempt = 0; temp.file < 0 && attempt < 100; ++attempt) {
        temp.name = temp_name();
        watch.begin(thread, temp.folder, temp.name);
        temp.file = os::create_in(temp.folder, temp.name, true);
        watch.created(thread, temp.file >= 0);
        if (temp.file < 0 && !os::last_error_was_exists())
            break;
    }
    if (temp.file < 0) {
        const int error = last_error();
        temp.name.clear();
        discard(temp);
        os::set_last_error(error);
        return false;
    }
    // An archive that replaces another keeps its permission bits (its owner made it
    // private, say) from the start; a new one has what the umask gives a new file.
    os::copy_mode_in(temp.folder, temp.target, temp.file);
    return true;
}

void let_go_of_folder(TempFile& temp) {
    temp.folder_id = file_id(temp.folder.handle);
    close_folder(temp.folder);
}

namespace {

// Has a temporary file's folder again, if it was let go of: the very folder it was.
bool hold_folder_again(TempFile& temp) {
    if (temp.folder.handle >= 0)
        return true;
    if (!open_folder(temp.folder.path, temp.folder))
        return false;
    if (file_id(temp.folder.handle) == temp.folder_id)
        return true;
    close_folder(temp.folder);
    os::set_last_error(0);
    return false;
}

} // namespace

bool put_in_place(TempFile& temp) {
    if (!hold_folder_again(temp)) {
        discard(temp);
        return false;
    }
    bool placed = false;
    bool closed = true;
    bool replaced = false; // something was there, and is gone
    if (temp.name.empty()) {
        // Written whole while it had no name, it is named only now, where it goes and in
        // as few steps as can be, then closed (closed unnamed, it would be gone): under
        // its final name in one step where nothing is there yet; else under a temporary
        // name, watched, and renamed over what is there at once.
        placed = !temp.made_target && os::name_unnamed_in(temp.file, temp.folder, temp.target);
        for (int attempt = 0; !placed && attempt < 100 && temp.name.empty(); ++attempt) {
            const std::string name = temp_name();
            temp.watch->begin(temp.thread, temp.folder, name);
            const bool named = os::name_unnamed_in(temp.file, temp.folder, name);
            temp.watch->created(temp.thread, named);
            if (named)
                temp.name = name;
            else if (!os::last_error_was_exists())
                break;
        }
        if (!placed && !temp.name.empty())
            placed = replaced = rename_in(temp.folder, temp.name, temp.target);
        closed = close_output(temp.file);
    } else {
        // Named all along: its last bytes must have landed before it replaces anything.
        closed = close_output(temp.file);
        placed = closed && rename_in(temp.folder, temp.name, temp.target);
    }
    temp.file = -1;
    const int error = last_error();
    // Its last bytes never landed (a network file system tells so at the close): where
    // nothing was before, nothing stays; what it replaced is gone either way.
    if (placed && !closed && !replaced && !temp.made_target)
        remove_in(temp.folder, temp.target);
    if (placed)
        temp.name.clear(); // it has its final name now
    temp.made_target = temp.made_target && !placed;
    discard(temp);
    os::set_last_error(error);
    return placed && closed;
}

void discard(TempFile& temp) {
    if (temp.file >= 0)
        close_file(temp.file);
    temp.file = -1;
    if (!temp.name.empty() || temp.made_target)
        hold_folder_again(temp); // to remove what is to go
    if (!temp.name.empty())
        remove_in(temp.folder, temp.name);
    temp.name.clear();
    // A dangling link's target made only to learn where it lies goes again.
    if (temp.made_target)
        remove_in(temp.folder, temp.target);
    temp.made_target = false;
    close_folder(temp.folder);
    if (temp.watch)
        temp.watch->finished(temp.thread);
    temp.watch = nullptr;
}

} // namespace quodrel::platform
