// The one writer of archives. A table laid out (scanned from a tree, merged from an
// archive and a tree, or made of the caller's list) is filled entry by entry from each
// file's source into one sink, while the calling thread tells what became of every
// entry in table order. Sources: a file in a folder of the tree, held open along the
// walk as the scan held it; a range of an archive open already (in the kernel where
// both are files); the caller's reader. Sinks: a file the worker threads write at any
// position, or a writer that takes the bytes in order (writer/sink.h). Creation, listed
// creation and update differ only in their sources and in what they check before the
// archive is put in place.
#pragma once

#include "events/events.h"
#include "reading/scan.h"
#include "transfer/copy.h"
#include "transfer/mover.h"
#include "transfer/outcomes.h"
#include "writer/sink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

// Where a table's files come from.
struct Sources {
    // The tree the table was scanned from, as the system reads it: its files are read
    // in the folders the scan listed (its entries' kinds and folder identities), each
    // opened from the one above it. Empty when no entry is the tree's.
    std::string tree_root;
    std::string tree_name; // as the caller gave it, for messages
    // Entries of an archive open already: where each one's bytes lie in `archive`, or
    // kFromTree for the tree's own (a folder of the archive's is never opened). Empty:
    // every entry is the tree's.
    static constexpr std::uint64_t kFromTree = ~std::uint64_t{0};
    std::vector<std::uint64_t> in_archive;
    const transfer::Readable* archive = nullptr;
    // The caller's: when set, every file is read through it, on the calling thread,
    // with its entry's context.
    quodrel_read_at read_at = nullptr;
    std::vector<void*> contexts;

    bool from_archive(std::size_t i) const {
        return !in_archive.empty() && in_archive[i] != kFromTree;
    }
};

// What a write came to.
struct Written {
    explicit Written(std::size_t entries) : outcomes(entries) {}
    // QUODREL_OK, or what ended it, told: the sink failed (QUODREL_ERROR_WRITE),
    // QUODREL_ERROR_CANCELLED; or, into a sink that takes bytes in order, an entry that
    // could not be read (QUODREL_ERROR_OPEN; the caller's cut short,
    // QUODREL_ERROR_CHANGED), which no archive sent out already can leave out.
    quodrel_error error = QUODREL_OK;
    // Files (or folders of them) that could not be read when their turn came: told,
    // and written as zeros into a file sink, to be left out by writing again.
    bool left_out = false;
    transfer::Outcomes outcomes; // per entry
    std::int64_t files = 0, folders = 0, bytes = 0, bytes_done = 0;
};

// What happened to an entry the writer left out, beside the errors an operation tells:
// it lies in a folder left out (told once, by that folder).
constexpr quodrel_error kInsideLeftOut = QUODREL_ERROR_REFUSED;

// Whether entry i was left out when its turn came: it, or the folder it lies in, could
// not be opened, or was not what the scan saw.
inline bool is_left_out(const transfer::Outcomes& outcomes, std::size_t i) {
    const quodrel_error error = outcomes.error(i);
    return error == QUODREL_ERROR_OPEN || error == kInsideLeftOut;
}

// The start of every write, once the table is listed into `scan`: tells BEGIN (the
// archive named `archive_name`, entries below the folder `source_name`, "" for none)
// and what the listing met, and lays out the table. QUODREL_OK with `data_offset` set
// (where the data starts); else the error that refuses the archive (told), or
// QUODREL_ERROR_CANCELLED.
quodrel_error begin_writing(Scan& scan, Events& events, const std::string& source_name,
                            const std::string& archive_name, std::int64_t& data_offset);

// How many threads a write may use: the crew's, fewer where descriptors are few (each
// holds a file open), one with `lean` or the caller's reader.
unsigned writing_threads(const transfer::Crew& crew, bool lean, const Sources& sources);

// Whether descriptors are enough to write an archive, beside `held` the operation has
// open already (else told, naming `archive_name`); `lean` set when they are few.
bool enough_descriptors(const std::string& archive_name, std::size_t held, Events& events,
                        bool& lean);

// Writes the table laid out in `scan` (its data from `data_offset` on) and every file's
// bytes into `sink`, on `threads` threads (one folder held at a time with `lean`),
// telling each entry (`archive_name` names the archive in failures of the sink) and
// setting `written`, whose error it returns. Nothing is told after the last entry: the
// operation tells the end once the archive is where it goes (tell_written).
quodrel_error write_archive(const Scan& scan, std::int32_t data_offset, const Sources& sources,
                            Sink& sink, unsigned threads, bool lean,
                            const std::string& archive_name, Events& events, Written& written);

// Tells that every entry is written and where it went: PROGRESS at the end, then END.
// A cancel from here on comes too late to change anything.
void tell_written(const Written& written, std::size_t entries, Events& events);

} // namespace quodrel
