// An archive that arrives in order, once (a pipe, a download), read through the
// caller's sequential reader. Its header and table are read and kept; where every
// file's bytes follow the table in table order (every archive the quodrel program
// writes) the rest is read as it is asked for, what lies between passed over, nothing
// kept, so memory stays flat whatever the data's size. An archive whose data lies
// otherwise (back in the table, overlapping, in another order) is read whole into an
// unnamed temporary file as it arrives, and read by position from there, as a file.
#pragma once

#include "quodrel/quodrel.h"
#include "reading/archive.h"

#include <memory>

namespace quodrel {

// Reads the archive `read_next` gives into `archive` (its bytes, header, table and
// plan), as read_archive does: QUODREL_OK, QUODREL_ERROR_READ when the reader fails,
// the table's damage, QUODREL_ERROR_NOT_AN_ARCHIVE with `require_magic`; and
// QUODREL_ERROR_CREATE when an archive in another order needs a temporary file that
// cannot be made, QUODREL_ERROR_WRITE when it cannot be written.
quodrel_error read_stream(quodrel_read_next read_next, void* context, OpenArchive& archive,
                          bool require_magic);

// Reads a stream archive to its end, and plans it again with its size known: what lies
// past its end is refused as extraction of a file refuses it. Nothing for others.
void settle_stream(OpenArchive& archive);

// Makes a stream archive one that reads by position, its rest read into an unnamed
// temporary file (what was passed already is gone): QUODREL_OK, or why not.
quodrel_error spool_stream(OpenArchive& archive);

} // namespace quodrel
