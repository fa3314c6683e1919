// Creation: the tree below a folder scanned into a table and written by the one writer
// into a new archive, which replaces any archive at its path only when complete; or
// into the caller's sequential writer.
#pragma once

#include "events/events.h"
#include "quodrel/quodrel.h"
#include "transfer/mover.h"
#include "writer/sink.h"

#include <string>

namespace quodrel {

// Packs the tree below source_dir into one archive at archive_path, telling what
// happens through `events`. The archive is written beside its final place and put
// there only when complete. File contents move on the crew's threads. Returns
// QUODREL_OK; QUODREL_ERROR_OPEN (the folder cannot be listed), _LIMIT, _CREATE,
// _WRITE or _CANCELLED with no archive written; QUODREL_ERROR_INCOMPLETE when the
// archive holds less than the tree (the events say what).
quodrel_error create_archive(const std::string& source_dir, const std::string& archive_path,
                             const transfer::Crew& crew, Events& events);

// Packs the tree below source_dir as create_archive does, into `sink`, which takes the
// bytes in order (the caller's writer, a descriptor): the same archive, named `name` in
// events. A file that cannot be opened when its turn comes ends it
// (QUODREL_ERROR_OPEN): no table sent out can leave it out.
quodrel_error create_into(const std::string& source_dir, Sink& sink, const std::string& name,
                          const transfer::Crew& crew, Events& events);

} // namespace quodrel
