// Replacing an archive is a transaction. The run claims the archive's place before it
// writes anything: what stands there is locked until the run ends, so a second run that
// would replace it is turned away at once (QUODREL_ERROR_LOCKED) rather than lose its
// work or this one's. The new archive is written beside its place and put there only
// when complete, and only in place of what stood there when the place was claimed (or
// where nothing stood, only where nothing stands): else it is kept beside it, under a
// name told (QUODREL_ERROR_REPLACED). Whatever ends the run before (a failure, a cancel,
// a signal the caller's guard handles), no half archive is left, and an archive that
// stood there stays as it was. The commit is told (a COMMIT event) just before it
// happens, so that a caller can hold its signals from then on and let the run end as a
// committed one.
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
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // Claims the archive's place: QUODREL_OK; QUODREL_ERROR_LOCKED when another run is
    // replacing it; QUODREL_ERROR_CREATE when no archive can be put there (each told).
    // With `make_missing`, a dangling link's target is made to learn the place.
    quodrel_error claim(Events& events, bool make_missing);

    // What stood at the place when it was claimed (invalid: nothing), and a descriptor
    // that reads that very file (-1: none).
    const platform::FileId& standing() const { return place_.standing; }
    int read_standing() const { return platform::read_standing(place_); }

    // Makes the temporary file beside the archive's place (with the rights, owner and
    // group of an archive there): false, told, when it cannot be made.
    bool begin(Events& events);

    // The temporary file, open for writing and reading.
    int file() const { return temp_.file; }
    platform::Place& place() { return place_; }
    platform::TempFile& temp() { return temp_; }
    const std::string& archive_path() const { return archive_path_; }
    const platform::Watch& watch() const { return watch_; }

    // Tells COMMIT, then puts the archive in place: QUODREL_OK; QUODREL_ERROR_CANCELLED
    // (a cancel at COMMIT: nothing replaced); QUODREL_ERROR_REPLACED when what stands at
    // the path is no longer what stood there (the new archive kept beside it, its name
    // told); QUODREL_ERROR_CREATE when it could not be put there (gone, and what stood
    // there stays).
    quodrel_error commit(Events& events);

private:
    // How the user names a file beside the archive.
    std::string beside(const std::string& name) const;

    std::string archive_path_;
    std::string system_path_;
    const platform::Watch& watch_;
    platform::Place place_;
    platform::TempFile temp_;
};

} // namespace quodrel
