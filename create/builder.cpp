#include "create/builder.h"

#include "archive/table.h"
#include "archive/tree.h"
#include "create/scan.h"
#include "platform/cleanup.h"
#include "platform/files.h"
#include "transfer/mover.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quodrel {
namespace {

// The clean-up slots of the temporary archive and, when the archive is written again,
// of the second one; the movers' threads hold the slots below the second.
constexpr int kMainSlot = 0;
constexpr int kSecondSlot = platform::kCleanupSlots - 1;

// Gathers the header and the entry table into blocks, so that many small writes
// (records, names) become few.
class BlockWriter : public ByteSink {
public:
    explicit BlockWriter(int archive) : archive_(archive) { block_.reserve(transfer::kCopyBlock); }

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        block_.insert(block_.end(), bytes, bytes + size);
        return block_.size() < transfer::kCopyBlock || flush();
    }

    bool flush() {
        const bool written =
            platform::write_all_at(archive_, block_.data(), block_.size(), position_);
        position_ += block_.size();
        block_.clear();
        return written;
    }

private:
    int archive_;
    std::vector<char> block_;
    std::uint64_t position_ = 0;
};

// The state of one creation once the tree is scanned.
struct Creation {
    const EntryTable* table = nullptr;
    std::string source_dir;   // as the user gave it, for messages
    std::string source_root;  // as the system reads it, for names to be joined to
    std::string archive_path; // as the user gave it
    std::string archive_file; // as the system reads it
    int archive = -1;
    std::vector<Fault> outcome; // per entry, set by the job that moves it
    std::atomic<bool> abandoned{false};
    TreeWalker reported; // where the entry reported last lies
};

bool write_zeros_at(int archive, std::uint64_t at, std::uint64_t count) {
    static const char zeros[4096] = {};
    while (count > 0) {
        const std::size_t n = count < sizeof zeros ? static_cast<std::size_t>(count) : sizeof zeros;
        if (!platform::write_all_at(archive, zeros, n, at))
            return false;
        at += n;
        count -= n;
    }
    return true;
}

// Reads a source file of `size` bytes into `to`, which has room for one byte more:
// enough to see that it grew. Whether it held exactly `size` bytes; what it lacks
// is zeros.
bool read_whole(int source, char* to, std::uint64_t size) {
    const std::uint64_t want = size + 1;
    std::uint64_t got = 0;
    while (got < want) {
        const std::uint64_t asked = want - got;
        const std::int64_t n =
            platform::read_some(source, to + got, static_cast<std::size_t>(asked));
        if (n <= 0)
            break;
        got += static_cast<std::uint64_t>(n);
        // A short read of a plain file is its end: no further call to be told so.
        if (static_cast<std::uint64_t>(n) < asked && got >= size)
            break;
    }
    if (got < size)
        std::memset(to + got, 0, static_cast<std::size_t>(size - got));
    return got == size;
}

// A batch: the files read one after the other into the block, which is then
// written into the archive with one call.
void move_batch(Creation& c, const transfer::Job& job, transfer::Hands& hands) {
    const EntryTable& table = *c.table;
    std::uint64_t at = 0;
    for (std::size_t i = job.first; i < job.last; ++i) {
        const auto size = static_cast<std::uint64_t>(table[i].record.size);
        if (size == 0)
            continue;
        char* to = hands.block.data() + at;
        const int source = platform::open_source(job.folder + std::string(table.name(i)));
        if (source < 0) {
            // Gone or closed since the scan: left out when the archive is written
            // again without it, and named.
            c.outcome[i] = Fault::cannot_open;
        } else {
            if (!read_whole(source, to, size))
                c.outcome[i] = Fault::file_changed;
            platform::close_file(source);
        }
        at += size;
    }
    if (!platform::write_all_at(c.archive, hands.block.data(), static_cast<std::size_t>(at),
                                job.start))
        c.outcome[job.last - 1] = Fault::cannot_write;
}

void move_big_file(Creation& c, const transfer::Job& job, transfer::Hands& hands) {
    const std::size_t i = job.first;
    const std::string path = job.folder + std::string(c.table->name(i));
    const std::uint64_t size = job.bytes;
    const int source = platform::open_source(path);
    if (source < 0) {
        c.outcome[i] = Fault::cannot_open; // left out, as in a batch
        return;
    }
    std::uint64_t copied = 0;
    const transfer::Copy result = hands.copier.copy(source, 0, c.archive, job.start, size, copied);
    char beyond;
    const bool grew =
        result == transfer::Copy::done && platform::read_at(source, &beyond, 1, size) > 0;
    platform::close_file(source);
    if (result == transfer::Copy::write_failed || result == transfer::Copy::no_memory ||
        (copied < size && !write_zeros_at(c.archive, job.start + copied, size - copied)))
        c.outcome[i] = Fault::cannot_write;
    else if (copied < size || grew)
        c.outcome[i] = Fault::file_changed;
}

void move_job(Creation& c, const transfer::Job& job, transfer::Hands& hands) {
    if (c.abandoned.load(std::memory_order_relaxed))
        return; // the creation has failed: nothing more is worth writing
    if (job.big())
        move_big_file(c, job, hands);
    else
        move_batch(c, job, hands);
}

// Tells what became of entry i, once its job is done; false when the archive could not
// be written, which ends the creation.
bool report(Creation& c, Reporter& out, std::size_t i) {
    const EntryTable& table = *c.table;
    c.reported.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
    out.progress(static_cast<std::int32_t>(table.size()), static_cast<std::int32_t>(i));
    const Fault fault = c.outcome[i];
    if (fault == Fault::cannot_write) {
        out.fault(fault, c.archive_path);
        c.abandoned = true;
        return false;
    }
    if (fault != Fault::none)
        out.fault(fault, c.source_dir, c.reported.path());
    return true;
}

// Writes header, table and data into the temporary file; true when all of it landed.
bool write_archive(Creation& c, transfer::OrderedMover& mover, std::int32_t data_offset,
                   Reporter& out) {
    const EntryTable& table = *c.table;
    {
        BlockWriter writer(c.archive);
        if (!write_table(writer, table, data_offset) || !writer.flush()) {
            out.fault(Fault::cannot_write, c.archive_path);
            return false;
        }
    }
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size() && !c.abandoned; ++i) {
        const EntryRecord& record = table[i].record;
        walk.next(static_cast<std::int32_t>(i), record, table.name(i));
        if (record.size == 0) {
            mover.cut();
        } else {
            const auto start =
                static_cast<std::uint64_t>(data_offset) + static_cast<std::uint64_t>(record.offset);
            mover.add_file(i, walk.parent(), start, static_cast<std::uint64_t>(record.size),
                           [&](transfer::Job& job) {
                               const std::string& path = walk.path();
                               job.folder =
                                   c.source_root + path.substr(0, path.size() - table[i].name_size);
                           });
        }
        mover.report_done(i + 1); // what is done by now is shown now
    }
    if (!c.abandoned)
        mover.finish(table.size());
    return !c.abandoned;
}

// The table without the entries left out: their folders hold fewer entries, and every
// later file's data moves up.
EntryTable table_without(const EntryTable& table, const std::vector<Fault>& outcome) {
    std::vector<std::int32_t> children(table.size());
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
        children[i] = table[i].record.child_count;
        if (outcome[i] == Fault::cannot_open && walk.parent() >= 0)
            --children[static_cast<std::size_t>(walk.parent())];
    }
    EntryTable kept;
    std::int32_t offset = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (outcome[i] == Fault::cannot_open)
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

// Writes the archive again into a second temporary file without the files that could
// not be opened when their turn came: every later offset shifts, so the data is moved
// too, from the first file. The rare path: its cost does not matter.
bool write_again_without_left_out(Creation& c, platform::TempFile& temp,
                                  std::int32_t old_data_offset, Reporter& out) {
    EntryTable kept = table_without(*c.table, c.outcome);
    const std::int64_t data_offset = lay_out_table(kept);
    platform::TempFile again;
    if (!platform::create_temp_file_beside(c.archive_file, again, kSecondSlot)) {
        out.fault(Fault::cannot_create, c.archive_path);
        return false;
    }
    bool written = false;
    {
        BlockWriter writer(again.file);
        written =
            write_table(writer, kept, static_cast<std::int32_t>(data_offset)) && writer.flush();
    }
    transfer::Copier copier;
    const EntryTable& table = *c.table;
    for (std::size_t i = 0, k = 0; written && i < table.size(); ++i) {
        if (c.outcome[i] == Fault::cannot_open)
            continue;
        const EntryRecord& from = table[i].record;
        const EntryRecord& to = kept[k++].record;
        if (from.size == 0)
            continue;
        std::uint64_t copied = 0;
        written =
            copier.copy(temp.file,
                        static_cast<std::uint64_t>(old_data_offset) +
                            static_cast<std::uint64_t>(from.offset),
                        again.file,
                        static_cast<std::uint64_t>(data_offset) +
                            static_cast<std::uint64_t>(to.offset),
                        static_cast<std::uint64_t>(from.size), copied) == transfer::Copy::done;
    }
    platform::discard(temp);
    temp = again;
    if (!written) {
        out.fault(Fault::cannot_write, c.archive_path);
        return false;
    }
    return true;
}

} // namespace

bool create_archive(const std::string& source_dir, const std::string& archive_path,
                    unsigned threads, Reporter& out) {
    // Paths as the user typed them show in messages; the system reads them its way.
    const std::string source_root = platform::system_path(source_dir);
    const std::string archive_file = platform::system_path(archive_path);
    Scan scan;
    scan_tree(scan, source_root, archive_file);
    EntryTable& table = scan.table;
    out.creating(archive_path, table.size());

    bool refused = false;
    for (const ScanProblem& problem : scan.problems) {
        out.fault(problem.fault, source_dir, problem.below_root);
        refused = refused || problem.refuses_archive;
    }
    const std::int64_t data_offset = lay_out_table(table);
    if (data_offset + scan.data_size > kMaxArchiveSize) {
        out.fault(Fault::archive_too_large, archive_path);
        refused = true;
    }
    if (refused) {
        out.flush();
        return false;
    }

    Creation c;
    c.table = &table;
    c.source_dir = source_dir;
    c.source_root = source_root;
    c.archive_path = archive_path;
    c.archive_file = archive_file;
    c.outcome.assign(table.size(), Fault::none);
    platform::TempFile temp;
    bool complete = false;
    {
        // The order of everything printed is the table's, whatever the timing: dots and
        // faults are reported entry by entry, once the job that moved it is done. Every
        // thread's block (one byte to spare tells a file that grew) is allocated before
        // anything is written, so that no thread runs out of memory halfway.
        // Each thread holds one source file open at a time: no more threads than the
        // descriptors the process may still open, beside the archive's own.
        const std::size_t spare = platform::descriptors_left();
        threads = static_cast<unsigned>(std::min<std::size_t>(threads, spare > 6 ? spare - 6 : 1));
        transfer::OrderedMover mover(
            std::min<unsigned>(threads, kSecondSlot), transfer::kBatchBytes + 1,
            [&c](const transfer::Job& job, transfer::Hands& hands) { move_job(c, job, hands); },
            [&](std::size_t i) { return report(c, out, i); });
        // Windows would take a device name or a name with a trailing dot or blank for
        // something else: no archive is made under such a name.
        const bool fits = !platform::windows_rules() || is_windows_safe_last_part(archive_path);
        if (!fits || !platform::create_temp_file_beside(archive_file, temp, kMainSlot)) {
            out.fault(Fault::cannot_create, archive_path);
            out.flush();
            return false;
        }
        c.archive = temp.file;
        complete = write_archive(c, mover, static_cast<std::int32_t>(data_offset), out);
    } // every job has ended: nothing writes into the archive any more
    const bool left_out =
        std::find(c.outcome.begin(), c.outcome.end(), Fault::cannot_open) != c.outcome.end();
    if (complete && left_out)
        complete =
            write_again_without_left_out(c, temp, static_cast<std::int32_t>(data_offset), out);
    if (!complete) {
        platform::discard(temp);
    } else if (!platform::put_in_place(temp, archive_file)) {
        out.fault(Fault::cannot_create, archive_path);
        complete = false;
    }
    if (complete)
        out.done();
    out.flush();
    return complete && !out.failed();
}

} // namespace quodrel
