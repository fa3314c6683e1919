// The state of one creation once its tree is scanned, shared by the ordinary write
// (builder.cpp) and the rare write again without the files that could not be read
// (rewrite.cpp); and the writer that gathers the table into blocks for both.
#pragma once

#include "archive/table.h"
#include "archive/tree.h"
#include "create/blocks.h"
#include "events/events.h"
#include "platform/files.h"
#include "reading/scan.h"
#include "transfer/mover.h"
#include "transfer/outcomes.h"

#include <atomic>
#include <string>
#include <vector>

namespace quodrel {

// What became of an entry, beside what the operations tell: left out, as it lies in a
// folder left out (told once, by that folder).
constexpr quodrel_error kInsideLeftOut = QUODREL_ERROR_REFUSED;

struct Creation {
    Creation(const Scan& scan, Events& events, const transfer::Crew& crew)
        : table(scan.table), scan(scan), events(events), crew(crew), outcomes(table.size()) {}

    const EntryTable& table;
    const Scan& scan;
    Events& events;
    const transfer::Crew& crew;
    std::string source_dir;   // as the user gave it, for messages
    std::string source_root;  // as the system reads it, where the files are read
    std::string archive_path; // as the user gave it
    std::string archive_file; // as the system reads it
    int archive = -1;
    const transfer::Readable* old_archive = nullptr; // an archive being updated
    transfer::Outcomes outcomes;                     // per entry, set by the job that moves it
    // The creation has failed or been cancelled: nothing more is worth writing.
    std::atomic<bool> abandoned{false};
    TreeWalker reported;      // where the entry told last lies
    std::size_t left_out = 0; // entries told so far that the archive will not hold
    bool lean = false;        // descriptors are few
    std::int64_t files = 0, folders = 0, bytes = 0, bytes_done = 0;
};

// Writes the header and the entry table into the archive's file from its start, in
// blocks.
class BlockWriter final : public BlockSink {
public:
    explicit BlockWriter(int archive) : archive_(archive) {}

private:
    bool send(const char* data, std::size_t size) override {
        const bool written = platform::write_all_at(archive_, data, size, position_);
        position_ += size;
        return written;
    }

    int archive_;
    std::uint64_t position_ = 0;
};

// Whether entry i was left out when its turn came: it, or the folder it lies in, could
// not be opened, or was not what the scan saw.
inline bool is_left_out(const Creation& c, std::size_t i) {
    const quodrel_error error = c.outcomes.error(i);
    return error == QUODREL_ERROR_OPEN || error == kInsideLeftOut;
}

// Writes the archive again into a second temporary file without the files that could
// not be opened when their turn came, copying the data of the rest from `temp` (whose
// data starts at `data_offset`), and puts the new file in `temp`'s place.
// QUODREL_OK, or the failure, told.
quodrel_error write_again_without_left_out(const Creation& c, platform::TempFile& temp,
                                           std::int32_t data_offset);

} // namespace quodrel
