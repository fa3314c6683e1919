// What can go wrong, as the user is told it. The operations name a Fault (the
// format's own findings turned into one by fault_of); report/ turns it into its one
// message text.
#pragma once

#include "archive/format.h"
#include "archive/table.h"

#include <cstdint>

namespace quodrel {

enum class Fault : std::uint8_t {
    none,
    // Files and folders.
    cannot_open,   // a file or folder to be read
    cannot_create, // a file or folder to be written
    cannot_write,  // written in part, then the writing failed
    no_memory,     // no buffer for a file's contents; the "path" is its size
    // Limits of the format.
    name_too_long,     // a name of more than 255 bytes
    path_too_long,     // a path below the root of more than 511 bytes
    file_too_large,    // a file of 2 GiB or more
    archive_too_large, // an archive that would reach 2 GiB
    // Creation.
    file_changed,    // a source file's length changed while it was packed
    unstorable_name, // a name holding ":" or a backslash, which no extraction gives back
    // Extraction.
    unsafe_name,       // empty, ".", "..", a separator, a Windows device name
    data_out_of_range, // a file's data before the start of the archive or of negative size
    data_cut_short,    // a file's data past the end of the archive
    name_clash,        // another spelling of a name this extraction already wrote
    // Damage to the entry table: nothing is written.
    table_cut_short,
    bad_name_length,
    too_deep,
    table_no_memory,
    not_an_archive, // a file that does not start with the magic
    not_in_archive, // a path the user named that no entry has
    not_a_file,     // a path the user named that is a folder, where a file was wanted
};

// The fault the user is told for a limit of the format an entry breaks, and for
// damage to an entry table.
Fault fault_of(Limit limit);
Fault fault_of(TableDamage damage);

} // namespace quodrel
