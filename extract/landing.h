// How one file or folder of an extraction lands on disk: made in its open folder by
// its name, never through a path walked again nor through a link; a file left only
// when complete; one an earlier run left there replaced only by a complete one; a
// second spelling of a name this run wrote never landing on the first.
#pragma once

#include "platform/files.h"
#include "platform/sync.h"
#include "quodrel/quodrel.h"
#include "transfer/copy.h"

#include <string>
#include <unordered_set>

namespace quodrel {

// What became of one file or folder.
struct Landed {
    quodrel_error error = QUODREL_OK; // QUODREL_ERROR_REFUSED: another spelling of a name
                                      // this run wrote (a name clash)
    int system_error = 0;
};

class Landing {
public:
    // `archive` is never written over; where `names_fold_case`, what this run writes is
    // remembered, so that a second spelling of a name is told from an earlier run's file.
    Landing(const platform::FileId& archive, bool names_fold_case, const platform::Watch& watch)
        : archive_(archive), fold_(names_fold_case), watch_(watch) {}

    // Puts the bytes into an open new file: whether all of them are there. A reference
    // to the caller's callable, which outlives the call (nothing is allocated per file).
    class Fill {
    public:
        template <class F>
        Fill(F& fill) // NOLINT: made from any callable, as a function parameter
            : object_(&fill),
              call_([](void* object, int file) { return (*static_cast<F*>(object))(file); }) {}
        transfer::Copy operator()(int file) const { return call_(object_, file); }

    private:
        void* object_;
        transfer::Copy (*call_)(void*, int);
    };

    // Creates file `name` in `folder`, on thread `thread`, and fills it.
    Landed file(const platform::Folder& folder, const std::string& name, unsigned thread,
                const Fill& fill);

    // Makes folder `name` in `parent`, or finds one there an earlier run made, and opens
    // it as `made`.
    Landed folder(const platform::Folder& parent, const std::string& name, platform::Folder& made);

private:
    Landed replace(const platform::Folder& folder, const std::string& name, unsigned thread,
                   const Fill& fill);
    Landed filled(int file, const Fill& fill);
    bool written_before(const platform::Folder& folder, const std::string& name) const;
    void note(const platform::FileId& id);
    bool wrote(const platform::FileId& id) const;

    platform::FileId archive_;
    bool fold_;
    const platform::Watch& watch_;
    mutable platform::Mutex lock_; // the files are written on many threads
    std::unordered_set<platform::FileId, platform::FileIdHash> written_;
};

} // namespace quodrel
