// Its cost does not matter: it runs only when files vanished or turned unreadable
// between the scan and their turn.
#include "create/rewrite.h"

#include "archive/tree.h"
#include "platform/files.h"
#include "writer/sink.h"
#include "writer/writer.h"

namespace quodrel {
namespace {

// The table without the entries left out: their folders hold fewer entries, and every
// later file's data moves up.
EntryTable table_without(const EntryTable& table, const transfer::Outcomes& outcomes) {
    std::vector<std::int32_t> children(table.size());
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
        children[i] = table[i].record.child_count;
        if (is_left_out(outcomes, i) && walk.parent() >= 0)
            --children[static_cast<std::size_t>(walk.parent())];
    }
    EntryTable kept;
    std::int32_t offset = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (is_left_out(outcomes, i))
            continue;
        EntryRecord record = table[i].record;
        record.child_count = children[i];
        if (record.size != 0) {
            record.offset = offset;
            offset += record.size;
        }
        kept.add(record, table.name(i));
    }
    return kept;
}

} // namespace

quodrel_error write_again_without_left_out(const EntryTable& table,
                                           const transfer::Outcomes& outcomes,
                                           std::int32_t data_offset, Replacement& replacement,
                                           const transfer::Crew& crew, Events& events) {
    EntryTable kept = table_without(table, outcomes);
    const std::int64_t kept_data_offset = lay_out_table(kept);
    platform::TempFile again;
    // On a thread number of its own: the first file is still watched on thread 0.
    if (!platform::create_temp_file(replacement.place(), again, replacement.watch(),
                                    crew.threads)) {
        events.failed(QUODREL_ERROR_CREATE, platform::last_error(), replacement.archive_path());
        return QUODREL_ERROR_CREATE;
    }
    bool written = false;
    {
        FileSink sink(again.file);
        written =
            write_table(sink, kept, static_cast<std::int32_t>(kept_data_offset)) && sink.flush();
    }
    transfer::Copier copier;
    const transfer::ReadableFile from(replacement.file());
    for (std::size_t i = 0, k = 0; written && i < table.size(); ++i) {
        if (is_left_out(outcomes, i))
            continue;
        const EntryRecord& old = table[i].record;
        const EntryRecord& now = kept[k++].record;
        if (old.size == 0)
            continue;
        std::uint64_t copied = 0;
        written = copier.copy(from,
                              static_cast<std::uint64_t>(data_offset) +
                                  static_cast<std::uint64_t>(old.offset),
                              again.file,
                              static_cast<std::uint64_t>(kept_data_offset) +
                                  static_cast<std::uint64_t>(now.offset),
                              static_cast<std::uint64_t>(old.size), copied,
                              &events.cancel_flag()) == transfer::Copy::done;
    }
    const int error = written ? 0 : platform::last_error();
    platform::discard(replacement.place(), replacement.temp());
    replacement.temp() = std::move(again);
    if (events.cancelled())
        return QUODREL_ERROR_CANCELLED;
    if (!written) {
        events.failed(QUODREL_ERROR_WRITE, error, replacement.archive_path());
        return QUODREL_ERROR_WRITE;
    }
    return QUODREL_OK;
}

} // namespace quodrel
