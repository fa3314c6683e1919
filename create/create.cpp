// Creation as a whole: the tree scanned into a table, the table and every file's
// bytes written by the one writer into a temporary file in the archive's place, and
// the archive put in place only when complete, without what could not be read.
#include "create/create.h"

#include "create/rewrite.h"
#include "platform/files.h"
#include "reading/scan.h"
#include "writer/replace.h"
#include "writer/sink.h"
#include "writer/writer.h"

namespace quodrel {

quodrel_error create_archive(const std::string& source_dir, const std::string& archive_path,
                             const transfer::Crew& crew, Events& events) {
    bool lean = false;
    if (!enough_descriptors(archive_path, 0, events, lean))
        return QUODREL_ERROR_DESCRIPTORS;
    // Paths as the user typed them show in messages; the system reads them its way.
    Sources sources;
    sources.tree_root = platform::system_path(source_dir);
    sources.tree_name = source_dir;
    Scan scan;
    scan_tree(scan, sources.tree_root, platform::system_path(archive_path), lean);
    std::int64_t data_offset = 0;
    const quodrel_error refused =
        begin_writing(scan, events, source_dir, archive_path, data_offset);
    if (refused != QUODREL_OK)
        return refused;

    // The archive's place is claimed before anything is written: a second run that would
    // replace it is turned away.
    Replacement replacement(archive_path, crew.watch);
    const quodrel_error claimed = replacement.claim(events, true);
    if (claimed != QUODREL_OK)
        return claimed;
    if (!replacement.begin(events))
        return QUODREL_ERROR_CREATE;
    if (lean)
        platform::let_go_of_folder(replacement.place()); // a descriptor more for the tree
    Written written(scan.table.size());
    {
        FileSink sink(replacement.file());
        write_archive(scan, static_cast<std::int32_t>(data_offset), sources, sink,
                      writing_threads(crew, lean, sources), lean, archive_path, events, written);
    }
    quodrel_error error = written.error;
    // What could not be read when its turn came is left out, and named.
    if (error == QUODREL_OK && written.left_out)
        error = write_again_without_left_out(scan.table, written.outcomes,
                                             static_cast<std::int32_t>(data_offset), replacement,
                                             crew, events);
    if (error == QUODREL_OK)
        error = replacement.commit(events);
    if (error != QUODREL_OK)
        return error;
    // The archive is in place: a cancel from here on comes too late to change that.
    tell_written(written, scan.table.size(), events);
    return events.incomplete() ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
}

quodrel_error create_into(const std::string& source_dir, Sink& sink, const std::string& name,
                          const transfer::Crew& crew, Events& events) {
    bool lean = false;
    if (!enough_descriptors(name, 0, events, lean))
        return QUODREL_ERROR_DESCRIPTORS;
    Sources sources;
    sources.tree_root = platform::system_path(source_dir);
    sources.tree_name = source_dir;
    // A file the archive goes into (standard output sent to one) is never packed into it.
    std::uint64_t destination_size = 0;
    const platform::FileId destination = sink.destination(destination_size);
    Scan scan;
    scan_tree_skipping(scan, sources.tree_root, destination, destination_size, lean);
    std::int64_t data_offset = 0;
    const quodrel_error refused = begin_writing(scan, events, source_dir, name, data_offset);
    if (refused != QUODREL_OK)
        return refused;
    Written written(scan.table.size());
    if (write_archive(scan, static_cast<std::int32_t>(data_offset), sources, sink,
                      writing_threads(crew, lean, sources), lean, name, events,
                      written) != QUODREL_OK)
        return written.error;
    // Every byte is with the writer: a cancel from here on comes too late to change that.
    tell_written(written, scan.table.size(), events);
    return events.incomplete() ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
}

} // namespace quodrel
