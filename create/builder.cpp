// Creation as a whole: the tree scanned into a table, the table and every file's
// bytes written into a temporary file in the archive's place, moved on the crew's
// threads while the calling thread tells what became of each entry in table order,
// and the archive put in place only when complete.
#include "create/builder.h"

#include "create/creation.h"
#include "reading/scan.h"
#include "transfer/held_folders.h"

#include <algorithm>
#include <cstring>

namespace quodrel {
namespace {

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

// Opens file entry i in its folder, held open since the walk reached it, through a
// link only where the scan followed one: never a file from elsewhere.
int open_source(const Creation& c, const transfer::Job& job, std::size_t i) {
    const platform::Folder& folder =
        static_cast<const transfer::OpenFolder*>(job.context.get())->folder;
    return platform::open_source_in(folder, std::string(c.table.name(i)),
                                    (c.scan.kinds[i] & Scan::kLink) != 0);
}

// Whether a batch is files the archive being updated holds back to back, as they lie in
// the new one: then one copy inside the kernel moves them all.
bool one_run_of_the_archive(const Creation& c, const transfer::Job& job, std::uint64_t& from) {
    if (!(c.scan.kinds[job.first] & Scan::kFromArchive)) // (a batch never mixes the two)
        return false;
    bool first = true;
    std::uint64_t next = 0;
    for (std::size_t i = job.first; i < job.last; ++i) {
        const auto size = static_cast<std::uint64_t>(c.table[i].record.size);
        if (size == 0)
            continue;
        if (first)
            from = next = c.scan.archive_data[i];
        if (c.scan.archive_data[i] != next)
            return false;
        next += size;
        first = false;
    }
    return !first;
}

// A batch: the files read one after the other into the block, which is then
// written into the archive with one call.
void move_batch(Creation& c, const transfer::Job& job, transfer::Hands& hands) {
    std::uint64_t from = 0;
    if (one_run_of_the_archive(c, job, from)) {
        std::uint64_t copied = 0;
        const transfer::Copy result = hands.copier.copy(*c.old_archive, from, c.archive, job.start,
                                                        job.bytes, copied, &c.abandoned);
        if (result != transfer::Copy::done && result != transfer::Copy::stopped)
            c.outcomes.fail(job.last - 1, QUODREL_ERROR_WRITE, platform::last_error());
        return;
    }
    std::uint64_t at = 0;
    for (std::size_t i = job.first; i < job.last; ++i) {
        const auto size = static_cast<std::uint64_t>(c.table[i].record.size);
        if (size == 0)
            continue;
        char* to = hands.block.data() + at;
        if (c.scan.kinds[i] & Scan::kFromArchive) {
            if (!c.old_archive->read_exactly(to, static_cast<std::size_t>(size),
                                             c.scan.archive_data[i]))
                c.outcomes.fail(i, QUODREL_ERROR_WRITE, platform::last_error());
            at += size;
            continue;
        }
        const int source = open_source(c, job, i);
        // Gone or closed since the scan, or unreadable: left out when the archive is
        // written again without it, and named. Changed: named, its bytes as read.
        const Read read = source < 0 ? Read::failed : read_whole(source, to, size);
        if (read == Read::failed)
            c.outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error());
        else if (read == Read::changed)
            c.outcomes.fail(i, QUODREL_ERROR_CHANGED, 0);
        if (source >= 0)
            platform::close_file(source);
        at += size;
    }
    if (!platform::write_all_at(c.archive, hands.block.data(), static_cast<std::size_t>(at),
                                job.start))
        c.outcomes.fail(job.last - 1, QUODREL_ERROR_WRITE, platform::last_error());
}

void move_big_file(Creation& c, const transfer::Job& job, transfer::Hands& hands) {
    const std::size_t i = job.first;
    const std::uint64_t size = job.bytes;
    if (c.scan.kinds[i] & Scan::kFromArchive) {
        // Copied from the archive being updated, inside the kernel where it can.
        std::uint64_t copied = 0;
        const transfer::Copy result =
            hands.copier.copy(*c.old_archive, c.scan.archive_data[i], c.archive, job.start, size,
                              copied, &c.abandoned);
        if (result != transfer::Copy::done && result != transfer::Copy::stopped)
            c.outcomes.fail(i, QUODREL_ERROR_WRITE, platform::last_error());
        return;
    }
    const int source = open_source(c, job, i);
    if (source < 0) {
        c.outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error()); // left out, as in a batch
        return;
    }
    std::uint64_t copied = 0;
    const transfer::Copy result = hands.copier.copy(transfer::ReadableFile(source), 0, c.archive,
                                                    job.start, size, copied, &c.abandoned);
    const int error = result == transfer::Copy::done ? 0 : platform::last_error();
    char beyond;
    const bool grew =
        result == transfer::Copy::done && platform::read_at(source, &beyond, 1, size) > 0;
    platform::close_file(source);
    if (result == transfer::Copy::stopped)
        return;
    if (result == transfer::Copy::read_failed) {
        c.outcomes.fail(i, QUODREL_ERROR_OPEN, error); // left out, as in a batch
        return;
    }
    if (result == transfer::Copy::write_failed || result == transfer::Copy::no_memory ||
        (copied < size && !write_zeros_at(c.archive, job.start + copied, size - copied)))
        c.outcomes.fail(i, QUODREL_ERROR_WRITE, error);
    else if (copied < size || grew)
        c.outcomes.fail(i, QUODREL_ERROR_CHANGED, 0);
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
// be written or the caller cancelled, which ends the creation.
bool report(Creation& c, std::size_t i) {
    const EntryRecord& record = c.table[i].record;
    c.reported.next(static_cast<std::int32_t>(i), record, c.table.name(i));
    if (!c.events.progress(static_cast<std::int64_t>(i), c.bytes_done)) {
        c.abandoned = true;
        return false;
    }
    c.bytes_done += record.size;
    const std::string_view path =
        c.events.listening() ? c.reported.entry_path() : std::string_view();
    const quodrel_error error = c.outcomes.error(i);
    bool going = true;
    if (error == QUODREL_ERROR_WRITE) {
        c.events.failed(error, c.outcomes.system_error(i), c.archive_path);
        going = false;
    } else if (error == kInsideLeftOut) {
        ++c.left_out;
        going = c.events.refused(QUODREL_NO_INDEX, path, QUODREL_REFUSED_INSIDE, record.size);
    } else if (error == QUODREL_ERROR_OPEN) {
        ++c.left_out;
        going = c.events.failed_entry(error, c.outcomes.system_error(i), QUODREL_NO_INDEX, path,
                                      record.size);
    } else if (error == QUODREL_ERROR_CHANGED) {
        going = c.events.failed_entry(error, 0, i - c.left_out, path, record.size);
    } else {
        (record.size == 0 ? c.folders : c.files) += 1;
        c.bytes += record.size;
        going = c.events.entry(i - c.left_out, path, record.size);
    }
    if (!going)
        c.abandoned = true;
    return going;
}

// Writes header, table and data into the temporary file: QUODREL_OK when all of it
// landed, else the failure, told.
quodrel_error write_archive(Creation& c, transfer::OrderedMover& mover, std::int32_t data_offset) {
    const EntryTable& table = c.table;
    {
        BlockWriter writer(c.archive);
        if (!write_table(writer, table, data_offset) || !writer.flush()) {
            c.events.failed(QUODREL_ERROR_WRITE, platform::last_error(), c.archive_path);
            return QUODREL_ERROR_WRITE;
        }
    }
    // The folders of the tree are held open along the walk, each opened from the one
    // above it and checked to be the folder the scan listed: a folder renamed or
    // replaced since the scan is left out with everything in it, never read elsewhere.
    auto root = std::make_shared<transfer::OpenFolder>();
    if (!platform::open_folder(c.source_root, root->folder) ||
        !(platform::file_id(root->folder.handle) == c.scan.open_folders.front())) {
        c.events.failed(QUODREL_ERROR_OPEN, platform::last_error(), c.source_dir);
        return QUODREL_ERROR_OPEN;
    }
    transfer::HeldFolders held(std::move(root), c.lean);
    TreeWalker walk;
    std::size_t folders = 0; // folder entries met so far
    std::int32_t batch_parent = -1;
    bool batch_from_archive = false; // a batch's files come all from the tree, or all not
    for (std::size_t i = 0; i < table.size() && !c.abandoned; ++i) {
        const EntryRecord& record = table[i].record;
        walk.next(static_cast<std::int32_t>(i), record, table.name(i));
        const std::int32_t parent = walk.parent();
        const bool folder = (c.scan.kinds[i] & Scan::kFolder) != 0;
        const platform::FileId expected =
            folder ? c.scan.folder_ids[folders++] : platform::FileId{};
        // A batch is of one folder: given before the walk leaves it, so that it lets go
        // of that folder before another is opened (where descriptors are few).
        if (record.size == 0 || parent != batch_parent)
            mover.cut();
        batch_parent = parent;
        if (parent >= 0 && is_left_out(c, static_cast<std::size_t>(parent))) {
            c.outcomes.fail(i, kInsideLeftOut, 0);
            mover.cut();
        } else if (c.scan.kinds[i] & Scan::kFromArchive) {
            // As the archive being updated holds it: a folder is not opened, a file's
            // bytes come from there.
            if (!batch_from_archive)
                mover.cut();
            batch_from_archive = true;
            if (record.size > 0)
                mover.add_file(i, parent,
                               static_cast<std::uint64_t>(data_offset) +
                                   static_cast<std::uint64_t>(record.offset),
                               static_cast<std::uint64_t>(record.size), [](transfer::Job&) {});
        } else if (folder) {
            // Only a folder with something in it to read is opened.
            held.leave_to(parent);
            if (record.child_count > 0 &&
                !held.open_and_enter(static_cast<std::int32_t>(i), std::string(table.name(i)),
                                     (c.scan.kinds[i] & Scan::kLink) != 0, expected))
                c.outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error());
        } else if (record.size == 0) {
            // An empty file: nothing to read.
        } else {
            if (batch_from_archive)
                mover.cut();
            batch_from_archive = false;
            held.leave_to(parent);
            transfer::FolderRef in = held.innermost();
            if (!in) {
                c.outcomes.fail(i, QUODREL_ERROR_OPEN, platform::last_error());
                mover.cut();
            } else {
                const auto start = static_cast<std::uint64_t>(data_offset) +
                                   static_cast<std::uint64_t>(record.offset);
                mover.add_file(i, parent, start, static_cast<std::uint64_t>(record.size),
                               [&](transfer::Job& job) { job.context = std::move(in); });
            }
        }
        mover.report_done(i + 1); // what is done by now is told now
    }
    if (!c.abandoned)
        mover.finish(table.size());
    if (c.events.cancelled())
        return QUODREL_ERROR_CANCELLED;
    return c.abandoned ? QUODREL_ERROR_WRITE : QUODREL_OK;
}

// Tells what the scan met; the error that refuses the archive, or QUODREL_OK.
quodrel_error tell_problems(const Scan& scan, Events& events, const std::string& source_dir) {
    quodrel_error refused = QUODREL_OK;
    for (const ScanProblem& problem : scan.problems) {
        if (problem.error == QUODREL_ERROR_OPEN && problem.below_root.empty())
            events.failed(problem.error, problem.system_error, source_dir); // the root
        else if (problem.error == QUODREL_ERROR_OPEN)
            events.failed_entry(problem.error, problem.system_error, QUODREL_NO_INDEX,
                                problem.below_root, 0);
        else
            events.refused(QUODREL_NO_INDEX, problem.below_root, problem.refusal, 0);
        if (problem.refuses_archive && refused == QUODREL_OK)
            refused =
                problem.error == QUODREL_ERROR_OPEN ? QUODREL_ERROR_OPEN : QUODREL_ERROR_LIMIT;
    }
    return refused;
}

} // namespace

quodrel_error begin_creation(Scan& scan, Events& events, const std::string& source_dir,
                             const std::string& archive_path, std::int64_t& data_offset) {
    if (!events.begin(archive_path, static_cast<std::int64_t>(scan.table.size()), scan.data_size))
        return QUODREL_ERROR_CANCELLED;
    events.set_folder(source_dir);
    quodrel_error refused = tell_problems(scan, events, source_dir);
    data_offset = lay_out_table(scan.table);
    if (data_offset + scan.data_size > kMaxArchiveSize) {
        events.failed(QUODREL_ERROR_LIMIT, 0, archive_path);
        refused = refused != QUODREL_OK ? refused : QUODREL_ERROR_LIMIT;
    }
    if (events.cancelled())
        return QUODREL_ERROR_CANCELLED;
    return refused;
}

quodrel_error create_archive(const std::string& source_dir, const std::string& archive_path,
                             const transfer::Crew& crew, Events& events) {
    bool lean = false;
    if (!enough_descriptors(archive_path, 0, events, lean))
        return QUODREL_ERROR_DESCRIPTORS;
    Scan scan;
    scan_tree(scan, platform::system_path(source_dir), platform::system_path(archive_path), lean);
    return write_scanned(scan, source_dir, archive_path, lean, nullptr, platform::FileStamp{}, crew,
                         events);
}

bool enough_descriptors(const std::string& archive_path, std::size_t held, Events& events,
                        bool& lean) {
    // Few descriptors: one folder held at a time, one thread. The archive, a folder and
    // a file must be open at once (two folders, for a moment), beside the `held` ones
    // the operation keeps open already: with fewer, nothing is tried.
    const std::size_t descriptors = platform::descriptors_left();
    if (descriptors < 3 + held) {
        events.failed(QUODREL_ERROR_DESCRIPTORS, 0, archive_path);
        return false;
    }
    lean = descriptors < transfer::kDescriptorsAtEase;
    return true;
}

quodrel_error write_scanned(Scan& scan, const std::string& source_dir,
                            const std::string& archive_path, bool lean,
                            std::unique_ptr<transfer::Readable> old_archive,
                            const platform::FileStamp& old_stamp, const transfer::Crew& crew,
                            Events& events) {
    // Paths as the user typed them show in messages; the system reads them its way.
    const std::string source_root = platform::system_path(source_dir);
    const std::string archive_file = platform::system_path(archive_path);
    EntryTable& table = scan.table;
    std::int64_t data_offset = 0;
    const quodrel_error refused =
        begin_creation(scan, events, source_dir, archive_path, data_offset);
    if (refused != QUODREL_OK)
        return refused;

    Creation c(scan, events, crew);
    c.old_archive = old_archive.get();
    c.lean = lean;
    c.source_dir = source_dir;
    c.source_root = source_root;
    c.archive_path = archive_path;
    c.archive_file = archive_file;
    platform::TempFile temp;
    quodrel_error written = QUODREL_OK;
    {
        // The order of everything told is the table's, whatever the timing: entries are
        // told one by one, once the job that moved them is done. Every thread's block
        // (one byte to spare tells a file that grew) is allocated before anything is
        // written, so that no thread runs out of memory halfway. Each thread holds one
        // source file open at a time: no more threads than the descriptors the process
        // may still open, beside the archive's own.
        const std::size_t spare = platform::descriptors_left();
        const auto threads = lean ? 1u
                                  : static_cast<unsigned>(std::min<std::size_t>(
                                        crew.threads, spare > 6 ? spare - 6 : 1));
        transfer::OrderedMover mover(
            threads, transfer::kBatchBytes + 1,
            [&c](const transfer::Job& job, transfer::Hands& hands) { move_job(c, job, hands); },
            [&c](std::size_t i) { return report(c, i); });
        // Windows would take a device name or a name with a trailing dot or blank for
        // something else: no archive is made under such a name.
        const bool fits =
            !platform::windows_rules() || is_windows_safe_output(archive_path, archive_file, false);
        if (!fits || !platform::create_temp_file_beside(archive_file, temp, crew.watch, 0)) {
            events.failed(QUODREL_ERROR_CREATE, fits ? platform::last_error() : 0, archive_path);
            return QUODREL_ERROR_CREATE;
        }
        if (lean)
            platform::let_go_of_folder(temp); // a descriptor more for the tree
        c.archive = temp.file;
        written = write_archive(c, mover, static_cast<std::int32_t>(data_offset));
    } // every job has ended: nothing writes into the archive any more
    const bool left_out = c.outcomes.any(QUODREL_ERROR_OPEN) || c.outcomes.any(kInsideLeftOut);
    if (written == QUODREL_OK && left_out && old_archive) {
        // An update never leaves out what could not be read (the folder's file may
        // stand for the archive's, a folder for all the archive holds in it): the
        // archive stays as it was, and the lines above say why.
        platform::discard(temp);
        events.failed(QUODREL_ERROR_NOT_UPDATED, 0, archive_path);
        return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_NOT_UPDATED;
    }
    if (written == QUODREL_OK && left_out)
        written = write_again_without_left_out(c, temp, static_cast<std::int32_t>(data_offset));
    if (written != QUODREL_OK) {
        platform::discard(temp);
        return written;
    }
    // Every byte of the old archive is copied: if it was written over meanwhile (its
    // stamp moved), what was copied may mix two archives, and nothing is put in place.
    if (old_archive &&
        !platform::same_bytes_as(old_stamp, platform::file_stamp(old_archive->file()))) {
        platform::discard(temp);
        events.failed(QUODREL_ERROR_CHANGED, 0, archive_path);
        events.failed(QUODREL_ERROR_NOT_UPDATED, 0, archive_path);
        return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_NOT_UPDATED;
    }
    c.old_archive = nullptr;
    old_archive.reset(); // let go of it before it is replaced
    if (!platform::put_in_place(temp)) {
        events.failed(QUODREL_ERROR_CREATE, platform::last_error(), archive_path);
        return QUODREL_ERROR_CREATE;
    }
    // The archive is in place: a cancel from here on comes too late to change that.
    if (events.progress(static_cast<std::int64_t>(table.size()), c.bytes_done))
        events.end(c.files, c.folders, c.bytes);
    return events.incomplete() ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
}

} // namespace quodrel
