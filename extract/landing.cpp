#include "extract/landing.h"

namespace quodrel {
namespace {

quodrel_error error_of(transfer::Copy result) {
    switch (result) {
    case transfer::Copy::done: return QUODREL_OK;
    case transfer::Copy::no_memory: return QUODREL_ERROR_NO_MEMORY;
    case transfer::Copy::short_read:
    case transfer::Copy::read_failed: return QUODREL_ERROR_READ;
    case transfer::Copy::stopped: return QUODREL_ERROR_CANCELLED;
    case transfer::Copy::write_failed: break;
    }
    return QUODREL_ERROR_WRITE;
}

} // namespace

void Landing::note(const platform::FileId& id) {
    platform::Lock hold(lock_);
    written_.insert(id);
}

bool Landing::wrote(const platform::FileId& id) const {
    platform::Lock hold(lock_);
    return written_.count(id) != 0;
}

bool Landing::written_before(const platform::Folder& folder, const std::string& name) const {
    return fold_ && wrote(platform::file_id_in(folder, name));
}

// Fills an open file and closes it: what went wrong, if anything.
Landed Landing::filled(int file, const Fill& fill) {
    Landed landed;
    landed.error = error_of(fill(file));
    if (landed.error != QUODREL_OK)
        landed.system_error = platform::last_error();
    const bool closed = platform::close_output(file);
    if (landed.error == QUODREL_OK && !closed) {
        landed.error = QUODREL_ERROR_WRITE; // its last bytes never landed
        landed.system_error = platform::last_error();
    }
    return landed;
}

// A file over one that is there already is written beside it first, then renamed over
// it once complete, so that a failure leaves the earlier file as it was.
Landed Landing::replace(const platform::Folder& folder, const std::string& name, unsigned thread,
                        const Fill& fill) {
    std::string temp;
    const int file = platform::create_replacement(folder, temp, watch_, thread);
    if (file < 0) {
        const int error = platform::last_error();
        watch_.finished(thread);
        return {QUODREL_ERROR_CREATE, error};
    }
    const platform::FileId id = fold_ ? platform::file_id(file) : platform::FileId{};
    Landed landed = filled(file, fill);
    if (landed.error == QUODREL_OK && !platform::rename_in(folder, temp, name))
        landed = {QUODREL_ERROR_WRITE, platform::last_error()};
    if (landed.error != QUODREL_OK)
        platform::remove_in(folder, temp);
    watch_.finished(thread);
    if (landed.error == QUODREL_OK && fold_)
        note(id);
    return landed;
}

Landed Landing::file(const platform::Folder& folder, const std::string& name, unsigned thread,
                     const Fill& fill) {
    watch_.begin(thread, folder, name);
    const platform::Output output = platform::create_output(folder, name, archive_, fold_);
    watch_.created(thread, output.file >= 0);
    if (output.other_name)
        return {QUODREL_ERROR_REFUSED, 0}; // another spelling of what is there
    if (output.existed) {
        // What an earlier run left is replaced; what this run wrote under another
        // spelling of the name is not.
        if (fold_ && wrote(output.id))
            return {QUODREL_ERROR_REFUSED, 0};
        return replace(folder, name, thread, fill);
    }
    if (output.file < 0) {
        if (written_before(folder, name))
            return {QUODREL_ERROR_REFUSED, 0};
        return {QUODREL_ERROR_CREATE, output.error};
    }
    const Landed landed = filled(output.file, fill);
    if (landed.error != QUODREL_OK)
        platform::remove_in(folder, name);
    watch_.finished(thread);
    if (landed.error == QUODREL_OK && fold_)
        note(output.id);
    return landed;
}

// Another spelling of a name already written, or of a folder of another name (a short
// alias), something else in its place, no room or no right to make it, or a link
// (writing below it would land wherever it points) refuse a folder.
Landed Landing::folder(const platform::Folder& parent, const std::string& name,
                       platform::Folder& made) {
    const platform::MakeFolder result = platform::make_subfolder(parent, name, made);
    if (result == platform::MakeFolder::other_name)
        return {QUODREL_ERROR_REFUSED, 0};
    if (result == platform::MakeFolder::failed || result == platform::MakeFolder::is_link) {
        const int error = platform::last_error();
        if (written_before(parent, name))
            return {QUODREL_ERROR_REFUSED, 0};
        return {QUODREL_ERROR_CREATE, error};
    }
    const platform::FileId id = fold_ ? platform::file_id(made.handle) : platform::FileId{};
    if (result != platform::MakeFolder::created && fold_ && wrote(id))
        return {QUODREL_ERROR_REFUSED, 0};
    if (fold_)
        note(id); // made, or an earlier run's
    return {};
}

} // namespace quodrel
