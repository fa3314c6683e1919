#pragma once

#include "events/events.h"
#include "platform/files.h"
#include "reading/scan.h"
#include "transfer/mover.h"

#include <memory>
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

// Whether descriptors are enough to write an archive, beside `held` the operation has
// open already (else told); `lean` set when they are few.
bool enough_descriptors(const std::string& archive_path, std::size_t held, Events& events,
                        bool& lean);

// The start of every creation, once its tree is listed into `scan`: tells BEGIN (the
// archive named `archive_path`, entries below `source_dir`, "" for none) and what the
// listing met, and lays out the table. QUODREL_OK with `data_offset` set (where the
// data starts); else the error that refuses the archive (told), or _CANCELLED.
quodrel_error begin_creation(Scan& scan, Events& events, const std::string& source_dir,
                             const std::string& archive_path, std::int64_t& data_offset);

// The second half of creation, for a tree scanned already (scan_tree, or an update's
// merge): tells the scan's problems, then writes the archive beside its place and
// puts it there. Entries of kind Scan::kFromArchive are copied from `old_archive`,
// which is closed before the new archive takes its place (Windows replaces no file
// this process holds open). With an old archive nothing is left out: what could not be
// read refuses the update (QUODREL_ERROR_NOT_UPDATED), and the old archive stays; so
// does an old archive written over meanwhile (its stamp no longer `old_stamp`).
quodrel_error write_scanned(Scan& scan, const std::string& source_dir,
                            const std::string& archive_path, bool lean,
                            std::unique_ptr<transfer::Readable> old_archive,
                            const platform::FileStamp& old_stamp, const transfer::Crew& crew,
                            Events& events);

} // namespace quodrel
