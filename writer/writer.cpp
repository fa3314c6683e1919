// The writer's loop: the table into the sink, then every file's bytes, moved on the
// worker threads into a file sink at their places, or read on them and handed over in
// order on the calling thread into a sink that takes bytes in order; and what became of
// each entry told in table order, whatever the timing.
#include "writer/writer.h"

#include "archive/tree.h"
#include "platform/files.h"
#include "transfer/held_folders.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>

namespace quodrel {
namespace {

// What became of the caller's file that gave fewer bytes than its size: the call ends
// there (a code of its own among the outcomes, which the writer has no other use for).
constexpr quodrel_error kEndedEarly = QUODREL_ERROR_TABLE_CUT_SHORT;

// The caller's reader of one file, read as any file is.
class CallerFile final : public transfer::Readable {
public:
    CallerFile(quodrel_read_at read_at, void* context) : read_at_(read_at), context_(context) {}
    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override {
        const std::int64_t got = read_at_(context_, to, size, offset);
        return got < 0 || static_cast<std::uint64_t>(got) > size ? -1 : got;
    }

private:
    quodrel_read_at read_at_;
    void* context_;
};

// A batch's bytes, or a big file of the tree held open, kept until they are handed over
// in order: by job number modulo the window.
struct Held {
    std::vector<char> bytes;
    std::uint64_t size = 0; // of a batch: its bytes read
    int file = -1;
};

// A batch begun, for finding its bytes when its entries' turn comes.
struct Begun {
    std::size_t first;
    std::size_t slot;
    std::uint64_t start;
};

struct Writing {
    Writing(const Scan& scan, std::int32_t data_offset, const Sources& sources, Sink& sink,
            const std::string& archive_name, Events& events, Written& written)
        : scan(scan), table(scan.table), data_offset(data_offset), sources(sources), sink(sink),
          archive_name(archive_name), events(events), written(written), in_order(sink.file() < 0) {}
    ~Writing() {
        for (Held& h : held)
            if (h.file >= 0)
                platform::close_file(h.file);
    }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;

    const Scan& scan;
    const EntryTable& table;
    const std::int32_t data_offset;
    const Sources& sources;
    Sink& sink;
    const std::string& archive_name;
    Events& events;
    Written& written;
    const bool in_order; // the sink takes bytes only in order, on this thread
    // The write has failed, been cancelled or stopped: nothing more is worth moving.
    std::atomic<bool> abandoned{false};
    TreeWalker reported;          // where the entry told last lies
    std::size_t left_out = 0;     // entries told so far that the archive will not hold
    std::vector<Held> held;       // (in order)
    std::deque<Begun> begun;      // (in order) batches not yet handed over
    std::size_t batches = 0;      // (in order) batches begun so far
    std::uint64_t sent_until = 0; // (in order) where the data sent so far ends
    std::vector<char> piece;      // (in order) a big file's bytes on their way
};

std::uint64_t data_start(const Writing& w, std::size_t i) {
    return static_cast<std::uint64_t>(w.data_offset) +
           static_cast<std::uint64_t>(w.table[i].record.offset);
}

bool is_big(std::uint64_t size) { return size >= transfer::kBigFile; }

// A big file handed over in order through a buffer (where the kernel cannot move it)
// goes in pieces this large: a sixteenth of the calls of 64 KiB pieces, for a writer
// whose every call may cost a trip to another process (a pipe).
constexpr std::size_t kPiece = 1 << 20;

enum class Read { whole, changed, failed };

// Reads a source file of `size` bytes into `to`, which has room for one byte more:
// enough to see that it grew. Whether it held exactly `size` bytes, held another
// number (what it lacks is zeros), or could not be read (an error, a range another
// program locked).
Read read_whole(int source, char* to, std::uint64_t size) {
    const std::uint64_t want = size + 1;
    std::uint64_t got = 0;
    while (got < want) {
        const std::uint64_t asked = want - got;
        const std::int64_t n =
            platform::read_some(source, to + got, static_cast<std::size_t>(asked));
        if (n < 0)
            return Read::failed;
        if (n == 0)
            break;
        got += static_cast<std::uint64_t>(n);
        // A short read of a plain file is its end: no further call to be told so.
        if (static_cast<std::uint64_t>(n) < asked && got >= size)
            break;
    }
    if (got < size)
        std::memset(to + got, 0, static_cast<std::size_t>(size - got));
    return got == size ? Read::whole : Read::changed;
}

// Reads the caller's file of `size` bytes into `to` in pieces, then asks for one byte
// past them: enough to see that the file gave more than it promised.
quodrel_error read_callers(const transfer::Readable& file, char* to, std::uint64_t size) {
    for (std::uint64_t at = 0; at < size;) {
        const auto asked =
            static_cast<std::size_t>(std::min<std::uint64_t>(transfer::kCopyBlock, size - at));
        const std::int64_t got = file.read_at(to + at, asked, at);
        if (got < 0)
            return QUODREL_ERROR_OPEN;
        if (got == 0)
            return kEndedEarly;
        at += static_cast<std::uint64_t>(got);
    }
    char beyond;
    return file.read_at(&beyond, 1, size) > 0 ? QUODREL_ERROR_CHANGED : QUODREL_OK;
}

// Opens the tree's file entry i in its folder, held open since the walk reached it,
// through a link only where the scan followed one: never a file from elsewhere.
int open_source(const Writing& w, const transfer::Job& job, std::size_t i) {
    const platform::Folder& folder =
        static_cast<const transfer::OpenFolder*>(job.context.get())->folder;
    return platform::open_source_in(folder, std::string(w.table.name(i)),
                                    (w.scan.kinds[i] & Scan::kLink) != 0);
}

// Reads file entry i of a batch, of `size` bytes, into `to` (room for one byte more),
// noting what went wrong.
void read_entry(Writing& w, const transfer::Job& job, std::size_t i, char* to, std::uint64_t size) {
    transfer::Outcomes& outcomes = w.written.outcomes;
    if (w.sources.read_at) {
        const quodrel_error error =
            read_callers(CallerFile(w.sources.read_at, w.sources.contexts[i]), to, size);
        if (error != QUODREL_OK)
            outcomes.fail(i, error, 0);
        return;
    }
    if (w.sources.from_archive(i)) {
        if (!w.sources.archive->read_exactly(to, static_cast<std::size_t>(size),
                                             w.sources.in_archive[i]))
            outcomes.fail(i, QUODREL_ERROR_READ, platform::last_error());
        return;
    }
    const int source = open_source(w, job, i);
    // Gone or closed since the scan, or unreadable: left out, and named. Changed: named,
    // its bytes as read.
    const Read read = source < 0 ? Read::failed : read_whole(source, to, size);
    if (read == Read::failed)
        outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error());
    else if (read == Read::changed)
        outcomes.fail(i, QUODREL_ERROR_CHANGED, 0);
    if (source >= 0)
        platform::close_file(source);
}

// A batch: the files read one after the other into a block, which is then written into
// a file sink with one call, or kept to be handed over in order.
void move_batch(Writing& w, const transfer::Job& job, transfer::Hands& hands) {
    transfer::Outcomes& outcomes = w.written.outcomes;

    char* block = w.in_order ? w.held[job.number % w.held.size()].bytes.data() : hands.block.data();
    std::uint64_t at = 0;
    for (std::size_t i = job.first; i < job.last; ++i) {
        const auto size = static_cast<std::uint64_t>(w.table[i].record.size);
        if (size == 0)
            continue;
        read_entry(w, job, i, block + at, size);
        at += size;
        // An archive sent out in order ends at a file that could not be read: the
        // batch's later files are never sent, so their sources are not asked.
        const quodrel_error error = outcomes.error(i);
        if (w.in_order && error != QUODREL_OK && error != QUODREL_ERROR_CHANGED)
            break;
    }
    if (w.in_order)
        w.held[job.number % w.held.size()].size = at;
    else if (!platform::write_all_at(w.sink.file(), block, static_cast<std::size_t>(at), job.start))
        outcomes.fail(job.last - 1, QUODREL_ERROR_WRITE, platform::last_error());
}

bool write_zeros_at(int file, std::uint64_t at, std::uint64_t count) {
    static const char zeros[4096] = {};
    while (count > 0) {
        const std::size_t n = count < sizeof zeros ? static_cast<std::size_t>(count) : sizeof zeros;
        if (!platform::write_all_at(file, zeros, n, at))
            return false;
        at += n;
        count -= n;
    }
    return true;
}

// A run of the archive's entries, back to back there as in the new one: copied into a
// file sink with one copy inside the kernel where it can.
void copy_run(Writing& w, const transfer::Job& job, transfer::Hands& hands) {
    std::uint64_t copied = 0;
    const transfer::Copy result =
        hands.copier.copy(*w.sources.archive, w.sources.in_archive[job.first], w.sink.file(),
                          job.start, job.bytes, copied, &w.abandoned);
    if (result == transfer::Copy::short_read || result == transfer::Copy::read_failed)
        w.written.outcomes.fail(job.last - 1, QUODREL_ERROR_READ, platform::last_error());
    else if (result != transfer::Copy::done && result != transfer::Copy::stopped)
        w.written.outcomes.fail(job.last - 1, QUODREL_ERROR_WRITE, platform::last_error());
}

// A big file copied into a file sink at its place: from the tree inside the kernel
// where it can, the caller's through its reader.
void copy_big_file(Writing& w, const transfer::Job& job, transfer::Hands& hands) {
    transfer::Outcomes& outcomes = w.written.outcomes;
    const std::size_t i = job.first;
    const std::uint64_t size = job.bytes;
    std::uint64_t copied = 0;
    const int source = w.sources.read_at ? -1 : open_source(w, job, i);
    if (!w.sources.read_at && source < 0) {
        outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error()); // left out, as in a batch
        return;
    }
    const CallerFile caller(w.sources.read_at, w.sources.read_at ? w.sources.contexts[i] : nullptr);
    const transfer::ReadableFile file(source);
    const transfer::Readable& from =
        w.sources.read_at ? static_cast<const transfer::Readable&>(caller) : file;
    // (Two threads copying into one archive file at once: measured on the big workload,
    // 531 ms against 563 when they took turns, and 579 with one thread.)
    const transfer::Copy result =
        hands.copier.copy(from, 0, w.sink.file(), job.start, size, copied, &w.abandoned);
    const int error = result == transfer::Copy::done ? 0 : platform::last_error();
    char beyond;
    const bool grew = result == transfer::Copy::done && from.read_at(&beyond, 1, size) > 0;
    if (source >= 0)
        platform::close_file(source);
    if (result == transfer::Copy::stopped)
        return;
    if (result == transfer::Copy::read_failed) {
        outcomes.fail(i, QUODREL_ERROR_OPEN, error); // left out, as in a batch
        return;
    }
    if (w.sources.read_at && result == transfer::Copy::short_read) {
        outcomes.fail(i, kEndedEarly, 0);
        return;
    }
    if (result == transfer::Copy::write_failed || result == transfer::Copy::no_memory ||
        (copied < size && !write_zeros_at(w.sink.file(), job.start + copied, size - copied)))
        outcomes.fail(i, QUODREL_ERROR_WRITE, error);
    else if (copied < size || grew)
        outcomes.fail(i, QUODREL_ERROR_CHANGED, 0);
}

void move_job(Writing& w, const transfer::Job& job, transfer::Hands& hands) {
    if (w.abandoned.load(std::memory_order_relaxed))
        return; // the write has failed: nothing more is worth moving
    if (job.run) {
        copy_run(w, job, hands);
    } else if (!job.big()) {
        move_batch(w, job, hands);
    } else if (!w.in_order) {
        copy_big_file(w, job, hands);
    } else if (!w.sources.read_at && !w.sources.from_archive(job.first)) {
        // The tree's big file is opened here, in its folder, and read when its turn comes.
        const int source = open_source(w, job, job.first);
        if (source < 0)
            w.written.outcomes.fail(job.first, QUODREL_ERROR_OPEN, platform::last_error());
        w.held[job.number % w.held.size()].file = source;
    }
}

// Hands a big file's `size` bytes over in order, read from `from` at `offset` in pieces:
// what the source lacks goes as zeros (changed), or ends the caller's file early.
quodrel_error send_big_file(Writing& w, const transfer::Readable& from, std::uint64_t offset,
                            std::uint64_t size, bool archive) {
    std::uint64_t at = 0;
    quodrel_error read = QUODREL_OK;
    // From a file into a descriptor, inside the kernel where it can; the rest, if any,
    // through the buffer, which tells what went wrong.
    if (from.file() >= 0 && w.sink.flush()) {
        const platform::KernelCopy sent = w.sink.send_file(from.file(), offset, size, at);
        if (sent == platform::KernelCopy::write_failed)
            return QUODREL_ERROR_WRITE;
    }
    if (at < size && w.piece.empty())
        w.piece.resize(kPiece);
    while (at < size) {
        if (w.events.cancelled())
            return QUODREL_ERROR_CANCELLED;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(w.piece.size(), size - at));
        const std::int64_t got = from.read_at(w.piece.data(), want, offset + at);
        if (got < 0)
            return archive ? QUODREL_ERROR_READ : QUODREL_ERROR_OPEN;
        if (got == 0) {
            if (archive)
                return QUODREL_ERROR_READ;
            if (w.sources.read_at)
                return kEndedEarly;
            // The tree's file shrank: what it lacks is zeros, as in a file sink.
            std::memset(w.piece.data(), 0, w.piece.size());
            read = QUODREL_ERROR_CHANGED;
            while (at < size) {
                const auto n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(w.piece.size(), size - at));
                if (!w.sink.write(w.piece.data(), n))
                    return QUODREL_ERROR_WRITE;
                at += n;
            }
            return read;
        }
        if (!w.sink.write(w.piece.data(), static_cast<std::size_t>(got)))
            return QUODREL_ERROR_WRITE;
        at += static_cast<std::uint64_t>(got);
    }
    char beyond;
    if (!archive && from.read_at(&beyond, 1, offset + size) > 0)
        read = QUODREL_ERROR_CHANGED;
    return read;
}

// Hands entry i's bytes over to a sink that takes them in order, on this thread; the
// outcome noted where something went wrong.
void send_entry(Writing& w, std::size_t i) {
    transfer::Outcomes& outcomes = w.written.outcomes;
    const auto size = static_cast<std::uint64_t>(w.table[i].record.size);
    while (w.begun.size() > 1 && w.begun[1].first <= i)
        w.begun.pop_front();
    const Begun& batch = w.begun.front();
    Held& held = w.held[batch.slot];
    if (!is_big(size)) {
        // A batch's bytes go at once when its first entry's turn comes (its job is done,
        // so what became of each of its entries is known), up to the first one that
        // ends the archive there.
        if (data_start(w, i) < w.sent_until)
            return; // sent with the batch
        std::uint64_t end = batch.start + held.size;
        // (A batch's entries follow one another, each a file with bytes.)
        for (std::size_t k = i;
             k < w.table.size() && w.table[k].record.size > 0 && data_start(w, k) < end; ++k) {
            const quodrel_error error = outcomes.error(k);
            if (error != QUODREL_OK && error != QUODREL_ERROR_CHANGED) {
                end = data_start(w, k);
                break;
            }
        }
        if (!w.sink.write(held.bytes.data() + (data_start(w, i) - batch.start),
                          static_cast<std::size_t>(end - data_start(w, i))))
            outcomes.fail(i, QUODREL_ERROR_WRITE, w.sink.error());
        w.sent_until = end;
        return;
    }
    quodrel_error error = QUODREL_OK;
    if (w.sources.read_at) {
        error =
            send_big_file(w, CallerFile(w.sources.read_at, w.sources.contexts[i]), 0, size, false);
    } else if (w.sources.from_archive(i)) {
        error = send_big_file(w, *w.sources.archive, w.sources.in_archive[i], size, true);
    } else {
        error = send_big_file(w, transfer::ReadableFile(held.file), 0, size, false);
        platform::close_file(held.file);
        held.file = -1;
    }
    if (error != QUODREL_OK && error != QUODREL_ERROR_CANCELLED)
        outcomes.fail(i, error,
                      error == QUODREL_ERROR_WRITE  ? w.sink.error()
                      : error == QUODREL_ERROR_OPEN ? platform::last_error()
                                                    : 0);
}

// Tells what became of entry i, once its job is done; false when the archive could not
// be written, the caller cancelled, or an archive sent out in order can go no further,
// which ends the write.
bool report(Writing& w, std::size_t i) {
    Written& written = w.written;
    Events& events = w.events;
    const EntryRecord& record = w.table[i].record;
    w.reported.next(static_cast<std::int32_t>(i), record, w.table.name(i));
    if (!events.progress(static_cast<std::int64_t>(i), written.bytes_done)) {
        written.error = QUODREL_ERROR_CANCELLED;
        w.abandoned = true;
        return false;
    }
    written.bytes_done += record.size;
    if (w.in_order && record.size > 0 &&
        (written.outcomes.error(i) == QUODREL_OK ||
         written.outcomes.error(i) == QUODREL_ERROR_CHANGED))
        send_entry(w, i);
    const std::string_view path = events.listening() ? w.reported.entry_path() : std::string_view();
    const quodrel_error error = written.outcomes.error(i);
    // Where the archive goes out in order, its entries are all there is: nothing is
    // left out without cutting it short.
    const std::size_t index = i - w.left_out;
    bool going = true;
    if (error == QUODREL_ERROR_WRITE || error == QUODREL_ERROR_READ) {
        events.failed(error, written.outcomes.system_error(i), w.archive_name);
        written.error = error;
        going = false;
    } else if (error == kInsideLeftOut) {
        ++w.left_out;
        written.left_out = true;
        going = events.refused(QUODREL_NO_INDEX, path, QUODREL_REFUSED_INSIDE, record.size);
    } else if (error == QUODREL_ERROR_OPEN && w.in_order) {
        events.failed_entry(error, written.outcomes.system_error(i), index, path, record.size);
        written.error = error;
        going = false;
    } else if (error == QUODREL_ERROR_OPEN) {
        ++w.left_out;
        written.left_out = true;
        going = events.failed_entry(error, written.outcomes.system_error(i), QUODREL_NO_INDEX, path,
                                    record.size);
    } else if (error == kEndedEarly) {
        events.failed_entry(QUODREL_ERROR_CHANGED, 0, index, path, record.size);
        written.error = QUODREL_ERROR_CHANGED;
        going = false;
    } else if (error == QUODREL_ERROR_CHANGED) {
        going = events.failed_entry(error, 0, index, path, record.size);
    } else {
        (record.size == 0 ? written.folders : written.files) += 1;
        written.bytes += record.size;
        going = events.entry(index, path, record.size);
    }
    if (!going) {
        if (written.error == QUODREL_OK)
            written.error = QUODREL_ERROR_CANCELLED;
        w.abandoned = true;
    }
    return going;
}

// The loop: every entry in table order, its folder held open, its file given to the
// mover; what is done by now told as it goes.
void fill(Writing& w, transfer::OrderedMover& mover, bool lean) {
    const EntryTable& table = w.table;
    const Scan& scan = w.scan;
    const Sources& sources = w.sources;
    transfer::Outcomes& outcomes = w.written.outcomes;
    // The folders of the tree are held open along the walk, each opened from the one
    // above it and checked to be the folder the scan listed: a folder renamed or
    // replaced since the scan is left out with everything in it, never read elsewhere.
    std::unique_ptr<transfer::HeldFolders> held;
    if (!sources.tree_root.empty()) {
        auto root = std::make_shared<transfer::OpenFolder>();
        if (!platform::open_folder(sources.tree_root, root->folder) ||
            !(platform::file_id(root->folder.handle) == scan.open_folders.front())) {
            w.events.failed(QUODREL_ERROR_OPEN, platform::last_error(), sources.tree_name);
            w.written.error = QUODREL_ERROR_OPEN;
            return;
        }
        held = std::make_unique<transfer::HeldFolders>(std::move(root), lean);
    }
    // (In order, each batch's bytes are found again by its number.)
    const auto note_batch = [&w](std::size_t first, std::uint64_t start) {
        if (w.in_order)
            w.begun.push_back({first, w.batches++ % w.held.size(), start});
    };
    TreeWalker walk;
    std::size_t folders = 0; // the tree's folder entries met so far
    std::int32_t batch_parent = -1;
    bool batch_from_archive = false; // a batch's files come all from the tree, or all not
    std::uint64_t run_from = Sources::kFromTree; // where a run's next bytes lie in the archive
    for (std::size_t i = 0; i < table.size() && !w.abandoned; ++i) {
        const EntryRecord& record = table[i].record;
        walk.next(static_cast<std::int32_t>(i), record, table.name(i));
        const std::int32_t parent = walk.parent();
        const bool from_archive = sources.from_archive(i);
        const bool tree_folder =
            !sources.read_at && !from_archive && (scan.kinds[i] & Scan::kFolder) != 0;
        const platform::FileId expected =
            tree_folder ? scan.folder_ids[folders++] : platform::FileId{};
        const auto size = static_cast<std::uint64_t>(record.size);
        // The archive's entries go into a file sink in runs, whatever their folders.
        const bool in_run = from_archive && !w.in_order;
        // A batch is of one folder: given before the walk leaves it, so that it lets go
        // of that folder before another is opened (where descriptors are few).
        if (!in_run && (size == 0 || parent != batch_parent || from_archive != batch_from_archive))
            mover.cut();
        batch_parent = parent;
        batch_from_archive = from_archive;
        if (parent >= 0 && is_left_out(outcomes, static_cast<std::size_t>(parent))) {
            outcomes.fail(i, kInsideLeftOut, 0);
            mover.cut();
        } else if (in_run) {
            // A run goes on while the archive holds the bytes back to back too.
            if (size > 0) {
                if (sources.in_archive[i] != run_from)
                    mover.cut();
                mover.add_run(i, data_start(w, i), size);
                run_from = sources.in_archive[i] + size;
            }
        } else if (sources.read_at || from_archive) {
            // The caller's file, or one of the archive's: no folder to open.
            if (size > 0)
                mover.add_file(i, parent, data_start(w, i), size, [&](transfer::Job& job) {
                    note_batch(job.first, data_start(w, i));
                });
        } else if (tree_folder) {
            // Only a folder with something in it to read is opened.
            held->leave_to(parent);
            if (record.child_count > 0 &&
                !held->open_and_enter(static_cast<std::int32_t>(i), std::string(table.name(i)),
                                      (scan.kinds[i] & Scan::kLink) != 0, expected))
                outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error());
        } else if (size > 0) {
            held->leave_to(parent);
            transfer::FolderRef in = held->innermost();
            if (!in) {
                outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error());
                mover.cut();
            } else {
                mover.add_file(i, parent, data_start(w, i), size, [&](transfer::Job& job) {
                    job.context = std::move(in);
                    note_batch(job.first, data_start(w, i));
                });
            }
        }
        mover.report_done(i + 1); // what is done by now is told now
    }
    if (!w.abandoned)
        mover.finish(table.size());
}

} // namespace

quodrel_error begin_writing(Scan& scan, Events& events, const std::string& source_name,
                            const std::string& archive_name, std::int64_t& data_offset) {
    data_offset = lay_out_table(scan.table);
    if (!events.begin(archive_name, static_cast<std::int64_t>(scan.table.size()), scan.data_size,
                      data_offset))
        return QUODREL_ERROR_CANCELLED;
    events.set_folder(source_name);
    quodrel_error refused = QUODREL_OK;
    for (const ScanProblem& problem : scan.problems) {
        if (problem.error == QUODREL_ERROR_OPEN && problem.below_root.empty())
            events.failed(problem.error, problem.system_error, source_name); // the root
        else if (problem.error == QUODREL_ERROR_OPEN)
            events.failed_entry(problem.error, problem.system_error, QUODREL_NO_INDEX,
                                problem.below_root, 0);
        else
            events.refused(QUODREL_NO_INDEX, problem.below_root, problem.refusal, 0);
        if (problem.refuses_archive && refused == QUODREL_OK)
            refused =
                problem.error == QUODREL_ERROR_OPEN ? QUODREL_ERROR_OPEN : QUODREL_ERROR_LIMIT;
    }
    if (data_offset + scan.data_size > kMaxArchiveSize) {
        events.failed(QUODREL_ERROR_LIMIT, 0, archive_name);
        refused = refused != QUODREL_OK ? refused : QUODREL_ERROR_LIMIT;
    }
    if (events.cancelled())
        return QUODREL_ERROR_CANCELLED;
    return refused;
}

unsigned writing_threads(const transfer::Crew& crew, bool lean, const Sources& sources) {
    if (lean || sources.read_at)
        return 1; // (the caller's reader is called on the calling thread alone)
    // Each thread holds one source file open at a time: no more threads than the
    // descriptors the process may still open, beside the archive's own.
    const std::size_t spare = platform::descriptors_left();
    return static_cast<unsigned>(std::min<std::size_t>(crew.threads, spare > 6 ? spare - 6 : 1));
}

bool enough_descriptors(const std::string& archive_name, std::size_t held, Events& events,
                        bool& lean) {
    // Few descriptors: one folder held at a time, one thread. The archive, a folder and
    // a file must be open at once (two folders, for a moment), beside the `held` ones
    // the operation keeps open already: with fewer, nothing is tried.
    const std::size_t descriptors = platform::descriptors_left();
    if (descriptors < 3 + held) {
        events.failed(QUODREL_ERROR_DESCRIPTORS, 0, archive_name);
        return false;
    }
    lean = descriptors < transfer::kDescriptorsAtEase;
    return true;
}

quodrel_error write_archive(const Scan& scan, std::int32_t data_offset, const Sources& sources,
                            Sink& sink, unsigned threads, bool lean,
                            const std::string& archive_name, Events& events, Written& written) {
    Writing w(scan, data_offset, sources, sink, archive_name, events, written);
    // The order of everything told is the table's, whatever the timing: entries are
    // told one by one, once the job that moved them is done. Every block (one byte to
    // spare tells a file that grew) is allocated before anything is written, so that no
    // thread runs out of memory halfway.
    const std::size_t window = w.in_order ? transfer::kWindowHoldingBytes : transfer::kWindow;
    if (w.in_order) {
        w.held.resize(window);
        for (Held& h : w.held)
            h.bytes.resize(transfer::kBatchBytes + 1);
    }
    {
        transfer::OrderedMover mover(
            threads, w.in_order ? 0 : transfer::kBatchBytes + 1,
            [&w](const transfer::Job& job, transfer::Hands& hands) { move_job(w, job, hands); },
            [&w](std::size_t i) { return report(w, i); }, window);
        if (!write_table(sink, scan.table, data_offset) || !sink.flush()) {
            events.failed(QUODREL_ERROR_WRITE, sink.error(), archive_name);
            return written.error = QUODREL_ERROR_WRITE;
        }
        fill(w, mover, lean);
    } // every job has ended: nothing writes into the sink any more
    // In order, what went before an entry that stopped the write goes too: a reader
    // sees the archive cut short there.
    if (w.in_order && !sink.flush() && written.error == QUODREL_OK) {
        events.failed(QUODREL_ERROR_WRITE, sink.error(), archive_name);
        written.error = QUODREL_ERROR_WRITE;
    }
    if (written.error == QUODREL_OK && events.cancelled())
        written.error = QUODREL_ERROR_CANCELLED;
    return written.error;
}

void tell_written(const Written& written, std::size_t entries, Events& events) {
    if (events.progress(static_cast<std::int64_t>(entries), written.bytes_done))
        events.end(written.files, written.folders, written.bytes);
}

} // namespace quodrel
