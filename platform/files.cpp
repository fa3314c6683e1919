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

// What a rename that must not replace, or an exchange of two names, came to.
enum class Rename {
    done,
    exists,      // (a rename) a file stands at the new name
    missing,     // (an exchange) nothing stands at the other name
    unsupported, // the file system cannot, and nothing was done
    failed,
};

// What stands at a name, when it is to be locked.
enum class Lock { locked, nothing, held, failed };

} // namespace quodrel::platform::os

namespace quodrel::platform {
// A name for a temporary file no other run picks: the process, the time, a count.
std::string temp_name();
} // namespace quodrel::platform

// Each system defines in namespace os: describe_in (what a name in a folder is, links
// not followed), watched (how a watcher is told of a file), open_for_reading, file_id,
// create_in (a new file in a folder, never through a link), create_unnamed_in and
// name_unnamed_in (a file in a folder that gets its name only when complete, where the
// file system can), find_target (the folder a file to be replaced lies in, as the
// kernel finds it), lock_standing (what stands at a name, opened and locked),
// open_standing (the locked file again, for reading), copy_owner_and_mode (of what
// stands at a place onto an open file), rename_noreplace and exchange,
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

std::string temp_name() {
    static std::atomic<unsigned> counter{0};
    static const std::uint64_t seed = os::unique_seed();
    char name[64];
    std::snprintf(name, sizeof name, ".quodrel-%llx-%x", static_cast<unsigned long long>(seed),
                  counter++);
    return name;
}

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
        name = std::move(other.name);
        watch = other.watch;
        thread = other.thread;
        told = other.told;
        other.told = false;
        other.file = -1;
        other.name.clear();
        other.watch = nullptr;
    }
    return *this;
}

namespace {

// The identity of what stands at `name` in `folder`, a link not followed; invalid for
// nothing.
FileId id_in(const Folder& folder, const std::string& name) {
    os::Description it;
    return os::describe_in(folder, name, it) ? it.id : FileId{};
}

// Has a place's folder again, if it was let go of: the very folder it was.
bool hold_folder_again(Place& place) {
    if (place.folder.handle >= 0)
        return true;
    if (!open_folder(place.folder.path, place.folder))
        return false;
    if (file_id(place.folder.handle) == place.folder_id)
        return true;
    close_folder(place.folder);
    os::set_last_error(0);
    return false;
}

// Gives a temporary file without a name one beside its place, watched from then on.
bool name_beside(Place& place, TempFile& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temp_name();
        temp.watch->begin(temp.thread, place.folder, name);
        temp.told = true;
        const bool named = os::name_unnamed_in(temp.file, place.folder, name);
        temp.watch->created(temp.thread, named);
        if (named) {
            temp.name = name;
            return true;
        }
        if (!os::last_error_was_exists())
            return false;
    }
    return false;
}

// Swaps a named temporary file in for what stands at the target, which must be what
// stood there when the place was claimed.
Placed swap_in(Place& place, TempFile& temp) {
    switch (os::exchange(place.folder, temp.name, place.target)) {
    case os::Rename::done:
        // What came out is checked: a file put there meanwhile goes back.
        if (id_in(place.folder, temp.name) == place.standing) {
            remove_in(place.folder, temp.name);
            return Placed::placed;
        }
        os::exchange(place.folder, temp.name, place.target);
        return Placed::kept;
    case os::Rename::missing: return Placed::kept; // what stood there is gone
    case os::Rename::unsupported:
        // Checked just before the rename: another rename in between goes unseen.
        if (!(id_in(place.folder, place.target) == place.standing))
            return Placed::kept;
        if (rename_in(place.folder, temp.name, place.target))
            return Placed::placed;
        // Where a file held open may not be renamed over, the lock's own hold goes first.
        if (place.lock < 0)
            return Placed::failed;
        close_file(place.lock);
        place.lock = -1;
        if (!(id_in(place.folder, place.target) == place.standing))
            return Placed::kept;
        return rename_in(place.folder, temp.name, place.target) ? Placed::placed : Placed::failed;
    case os::Rename::exists:
    case os::Rename::failed: break;
    }
    return Placed::failed;
}

// Names a temporary file at the target, where nothing stood: in one step that fails
// if something stands there now.
Placed name_in(Place& place, TempFile& temp) {
    switch (os::rename_noreplace(place.folder, temp.name, place.target)) {
    case os::Rename::done: return Placed::placed;
    case os::Rename::exists: return Placed::kept;
    case os::Rename::unsupported:
        // Checked just before the rename: a file put there in between is replaced.
        if (id_in(place.folder, place.target).valid)
            return Placed::kept;
        return rename_in(place.folder, temp.name, place.target) ? Placed::placed : Placed::failed;
    case os::Rename::missing:
    case os::Rename::failed: break;
    }
    return Placed::failed;
}

} // namespace

Claim claim_place(const std::string& target, bool make_missing, Place& place) {
    // The folder the target lies in, as the kernel finds it, and its name there: the
    // rest is done in that folder, so that the file is put in place within one file
    // system, and a link stays a link.
    if (target.empty() || !os::find_target(target, make_missing, place))
        return Claim::failed;
    switch (os::lock_standing(place)) {
    case os::Lock::locked:
    case os::Lock::nothing: return Claim::claimed;
    case os::Lock::held: return Claim::held;
    case os::Lock::failed: break;
    }
    return Claim::failed;
}

int read_standing(const Place& place) { return place.lock >= 0 ? os::open_standing(place) : -1; }

bool create_temp_file(Place& place, TempFile& temp, const Watch& watch, unsigned thread) {
    temp = TempFile{};
    temp.watch = &watch;
    temp.thread = thread;
    if (!hold_folder_again(place))
        return false;
    temp.file = os::create_unnamed_in(place.folder);
    for (int attempt = 0; temp.file < 0 && attempt < 100; ++attempt) {
        temp.name = temp_name();
        watch.begin(thread, place.folder, temp.name);
        temp.told = true;
        temp.file = os::create_in(place.folder, temp.name, true);
        watch.created(thread, temp.file >= 0);
        if (temp.file < 0 && !os::last_error_was_exists())
            break;
    }
    if (temp.file < 0) {
        const int error = last_error();
        temp.name.clear();
        if (temp.told)
            watch.finished(thread);
        temp.watch = nullptr;
        temp.told = false;
        os::set_last_error(error);
        return false;
    }
    // A file that replaces another keeps its rights (its owner made it private, say)
    // and, as far as this process may give them, its owner and group, from the start.
    os::copy_owner_and_mode(place, temp.file);
    return true;
}

void let_go_of_folder(Place& place) {
    place.folder_id = file_id(place.folder.handle);
    close_folder(place.folder);
}

Placed put_in_place(Place& place, TempFile& temp) {
    if (!hold_folder_again(place)) {
        const int error = last_error();
        discard(place, temp);
        os::set_last_error(error);
        return Placed::failed;
    }
    // Its rights again, now that it is complete: a write by a process that may not set
    // the set-id bits (not the superuser) clears them.
    if (place.standing.valid)
        os::copy_owner_and_mode(place, temp.file);
    Placed placed = Placed::failed;
    bool closed = true;
    if (temp.name.empty() && !place.standing.valid) {
        // Written whole while it had no name, and nothing stood there: its final name in
        // one step, which fails where a file appeared meanwhile; closed only then
        // (closed unnamed, it would be gone).
        if (os::name_unnamed_in(temp.file, place.folder, place.target)) {
            placed = Placed::placed;
            closed = close_output(temp.file);
            temp.file = -1;
            // Its last bytes never landed (a network file system tells so at the close):
            // nothing stays where nothing was.
            if (!closed) {
                const int error = last_error();
                remove_in(place.folder, place.target);
                os::set_last_error(error);
                placed = Placed::failed;
            }
        } else if (os::last_error_was_exists() && name_beside(place, temp)) {
            placed = Placed::kept;
        }
    } else if (!temp.name.empty() || name_beside(place, temp)) {
        // Named, and closed first: its last bytes must have landed before it takes the
        // place of anything.
        closed = close_output(temp.file);
        temp.file = -1;
        if (closed)
            placed = place.standing.valid ? swap_in(place, temp) : name_in(place, temp);
    }
    const int error = last_error();
    if (temp.file >= 0)
        close_file(temp.file);
    temp.file = -1;
    if (placed == Placed::placed) {
        place.placed = true;
        temp.name.clear(); // it has the target's name now
    }
    if (placed == Placed::failed)
        discard(place, temp);
    else if (temp.watch) {
        if (temp.told)
            temp.watch->finished(temp.thread); // placed, or kept beside: nothing to remove
        temp.watch = nullptr;
        temp.told = false;
    }
    os::set_last_error(error);
    return placed;
}

void discard(Place& place, TempFile& temp) {
    if (temp.file >= 0)
        close_file(temp.file);
    temp.file = -1;
    if (!temp.name.empty() && hold_folder_again(place))
        remove_in(place.folder, temp.name);
    temp.name.clear();
    if (temp.watch && temp.told)
        temp.watch->finished(temp.thread);
    temp.watch = nullptr;
    temp.told = false;
}

void release(Place& place) {
    if (place.lock >= 0)
        close_file(place.lock);
    place.lock = -1;
    close_folder(place.folder);
}

} // namespace quodrel::platform
