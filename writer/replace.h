// An archive written beside its place and put there only when complete: whatever ends
// the run before (a failure, a cancel, a signal the caller's guard handles), no half
// archive is left, and an archive that stood there stays as it was.
#pragma once

#include "events/events.h"
#include "platform/files.h"

#include <string>

namespace quodrel {

class Replacement {
public:
    // The archive at `archive_path` (as the caller gave it, for messages); `watch` is
    // told of the temporary file while it is not complete.
    Replacement(const std::string& archive_path, const platform::Watch& watch);
    ~Replacement() { discard(); }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // Makes the temporary file beside the archive's place (with the permission bits of
    // an archive there): false, told, when it cannot be made.
    bool begin(Events& events);

    // The temporary file, open for writing and reading.
    int file() const { return temp_.file; }
    platform::TempFile& temp() { return temp_; }
    // The archive's path as the system reads it.
    const std::string& system_path() const { return system_path_; }
    const std::string& archive_path() const { return archive_path_; }
    const platform::Watch& watch() const { return watch_; }

    // Puts the archive in place: QUODREL_OK, or the failure, told (the temporary file is
    // gone then, and what stood there stays).
    quodrel_error commit(Events& events);

    // Removes the temporary file; nothing is put in place.
    void discard();

private:
    std::string archive_path_;
    std::string system_path_;
    const platform::Watch& watch_;
    platform::TempFile temp_;
};

} // namespace quodrel
