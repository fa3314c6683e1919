// How an archive differs from a tree on disk, path by path, as extraction would write
// the archive there: what only one side has, and what both have but differently.
// Nothing is written.
#pragma once

#include "events/events.h"
#include "reading/archive.h"

#include <string>

namespace quodrel {

// Compares `archive` with the tree below `folder`, telling each difference through
// `events` in the archive's order, then what only the folder has in the order creation
// would store it. The archive's own file, when it lies in the tree, is passed over,
// known by its identity. Files are read side by side on `threads` threads. QUODREL_OK,
// QUODREL_ERROR_DIFFERENT, QUODREL_ERROR_INCOMPLETE (something could not be compared:
// told), _OPEN (the folder cannot be listed), _DESCRIPTORS or _CANCELLED.
quodrel_error compare_archive(const OpenArchive& archive, const std::string& folder,
                              unsigned threads, Events& events);

} // namespace quodrel
