// Runs an extraction plan against the disk, and deals with what only the disk can
// tell: a directory that turns out to be a link, a file that cannot be created or
// written, data that cannot be read after all. Folders are made on the calling
// thread, in table order, before anything below them; file contents move on the
// workers; everything the user reads is printed in table order by the calling thread.
#include "extract/extractor.h"

#include "archive/table.h"
#include "archive/tree.h"
#include "extract/archive_file.h"
#include "extract/plan.h"
#include "platform/cleanup.h"
#include "platform/files.h"
#include "transfer/mover.h"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quodrel {
namespace {

// The files one run wrote, shared by the threads that write them.
class WrittenFiles {
public:
    void add(const platform::FileId& id) {
        std::lock_guard<std::mutex> hold(lock_);
        ids_.insert(id);
    }
    bool has(const platform::FileId& id) const {
        std::lock_guard<std::mutex> hold(lock_);
        return ids_.count(id) != 0;
    }

private:
    mutable std::mutex lock_;
    std::unordered_set<platform::FileId, platform::FileIdHash> ids_;
};

// The state of one extraction.
struct Extraction {
    ArchiveFile archive;
    ExtractionPlan plan;
    // Where two spellings of a name may lead to one file, what this run wrote, so
    // that a second spelling never overwrites the first.
    bool names_fold_case = false;
    WrittenFiles written;
    std::vector<Fault> outcome; // per entry, what to tell
};

// Whether `path` leads to something this run already wrote under another spelling.
bool written_before(const Extraction& x, const std::string& path) {
    return x.names_fold_case && x.written.has(platform::file_id(path));
}

// Creates one output file and writes `size` bytes into it: from `data` when given,
// else copied from the archive at `start`. Nothing is left behind unless it is
// complete; if the run is ended meanwhile, the file goes too.
Fault write_file(Extraction& x, const std::string& path, const char* data, std::uint64_t start,
                 std::uint64_t size, transfer::Hands& hands) {
    const int slot = hands.slot;
    platform::begin_output(slot, path);
    platform::Output output = platform::create_output(path, x.archive.id, x.names_fold_case);
    if (output.file >= 0 && output.existed) {
        // What an earlier run left is replaced; what this run wrote under another
        // spelling of the name is not.
        if (x.names_fold_case && x.written.has(output.id)) {
            platform::close_file(output.file);
            platform::output_created(slot, false);
            return Fault::name_clash;
        }
        platform::empty_existing_output(path, output, x.names_fold_case);
    }
    platform::output_created(slot, output.file >= 0);
    if (output.file < 0)
        return written_before(x, path) ? Fault::name_clash : Fault::cannot_create;
    transfer::Copy result = transfer::Copy::done;
    if (data) {
        if (!platform::write_all(output.file, data, static_cast<std::size_t>(size)))
            result = transfer::Copy::write_failed;
    } else {
        std::uint64_t copied = 0;
        result = hands.copier.copy(x.archive.file, start, output.file, 0, size, copied);
    }
    const bool closed = platform::close_output(output.file);
    const bool whole = result == transfer::Copy::done && closed;
    if (!whole)
        platform::remove_file(path);
    platform::output_finished(slot);
    if (whole) {
        if (x.names_fold_case)
            x.written.add(output.id);
        return Fault::none;
    }
    return result == transfer::Copy::no_memory    ? Fault::no_memory
           : result == transfer::Copy::short_read ? Fault::data_cut_short
                                                  : Fault::cannot_write;
}

// A big file is copied from the archive; a batch's data is read with one call, then
// written out file by file.
void move_job(Extraction& x, const transfer::Job& job, transfer::Hands& hands) {
    if (job.big()) {
        const std::string path = job.folder + std::string(x.archive.table.name(job.first));
        x.outcome[job.first] = write_file(x, path, nullptr, job.start, job.bytes, hands);
        return;
    }
    std::uint64_t got = 0;
    while (got < job.bytes) {
        const std::int64_t n =
            platform::read_at(x.archive.file, hands.block.data() + got,
                              static_cast<std::size_t>(job.bytes - got), job.start + got);
        if (n <= 0)
            break; // the archive shrank since it was opened
        got += static_cast<std::uint64_t>(n);
    }
    std::uint64_t at = 0;
    for (std::size_t i = job.first; i < job.last; ++i) {
        const auto size = static_cast<std::uint64_t>(x.archive.table[i].record.size);
        const std::string path = job.folder + std::string(x.archive.table.name(i));
        x.outcome[i] = at + size > got
                           ? Fault::data_cut_short
                           : write_file(x, path, hands.block.data() + at, 0, size, hands);
        at += size;
    }
}

// Makes the destination; false, with the error printed, when it cannot be had.
bool make_destination(Reporter& out, const std::string& base, const std::string& dest_dir) {
    const platform::MakeDirectory made = platform::make_directory(base);
    // A link the user names as the destination is followed; one inside it never is.
    if (made == platform::MakeDirectory::failed ||
        (made == platform::MakeDirectory::is_link && !platform::is_directory(base))) {
        out.fault(Fault::cannot_create, dest_dir);
        return false;
    }
    return true;
}

// Makes one folder of the archive. Another spelling of a name already written,
// something else in its place, no room or no right to make it, or a link (writing
// below it would land wherever it points) refuse it: told once, and nothing below it
// is tried.
Fault make_folder(Extraction& x, const std::string& path) {
    const platform::MakeDirectory made = platform::make_directory(path);
    const bool clash = made != platform::MakeDirectory::created && written_before(x, path);
    if (clash)
        return Fault::name_clash;
    if (made == platform::MakeDirectory::failed || made == platform::MakeDirectory::is_link)
        return Fault::cannot_create;
    if (x.names_fold_case)
        x.written.add(platform::file_id(path)); // made, or an earlier run's
    return Fault::none;
}

// The names met so far in each open folder, as hashes of how the file system compares
// them. Two entries that may meet on disk are never under way at the same time, so
// which one comes first never depends on timing.
class NamesSeen {
public:
    explicit NamesSeen(bool fold) : fold_(fold) { open_.push_back({-1, {}}); }
    // Whether the name may meet one met before in the same folder; notes it.
    bool meets(std::int32_t parent, std::string_view name) {
        while (open_.size() > 1 && open_.back().first != parent)
            open_.pop_back();
        const std::size_t key =
            fold_ ? std::hash<std::string>()(platform::fold_case(std::string(name)))
                  : std::hash<std::string_view>()(name);
        return !open_.back().second.insert(key).second;
    }
    void enter(std::int32_t folder) { open_.push_back({folder, {}}); }

private:
    bool fold_;
    std::vector<std::pair<std::int32_t, std::unordered_set<std::size_t>>> open_;
};

// Tells what became of entry i, once what became of it is known.
bool report(Extraction& x, TreeWalker& reported, const std::string& base, Reporter& out,
            std::size_t i) {
    const EntryTable& table = x.archive.table;
    reported.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
    out.progress(x.archive.header.entry_count, static_cast<std::int32_t>(i));
    const Fault fault = x.outcome[i];
    if (fault == Fault::no_memory) {
        out.no_memory(table[i].record.size);
    } else if (fault != Fault::none) {
        std::string path = base + reported.path();
        if (table[i].record.size == 0)
            path.pop_back(); // a directory's path ends with "/"; messages name it without
        out.fault(fault, path);
    }
    return true;
}

void write_entries(Extraction& x, const std::string& base, unsigned threads, Reporter& out) {
    const EntryTable& table = x.archive.table;
    const std::size_t n = table.size();
    std::vector<Step>& steps = x.plan.steps;
    x.outcome.assign(n, Fault::none);
    TreeWalker reported;
    // Every thread's block before anything is written: no thread runs out halfway.
    transfer::OrderedMover mover(
        std::min<unsigned>(threads, platform::kCleanupSlots), transfer::kBatchBytes,
        [&x](const transfer::Job& job, transfer::Hands& hands) { move_job(x, job, hands); },
        [&](std::size_t i) { return report(x, reported, base, out, i); });
    NamesSeen seen(x.names_fold_case);
    TreeWalker walk;
    for (std::size_t i = 0; i < n; ++i) {
        const EntryRecord& record = table[i].record;
        walk.next(static_cast<std::int32_t>(i), record, table.name(i));
        Step& step = steps[i];
        const std::int32_t parent = walk.parent();
        if (parent >= 0 && (steps[static_cast<std::size_t>(parent)].action == Action::refuse ||
                            steps[static_cast<std::size_t>(parent)].action == Action::skip))
            step.action = Action::skip; // a directory above it was refused, now or before
        if (step.action != Action::write_file)
            mover.cut();
        if ((step.action == Action::make_directory || step.action == Action::write_file) &&
            seen.meets(parent, table.name(i)))
            mover.report_all_before(i); // it may land where one before it does: that one first
        switch (step.action) {
        case Action::skip: break;
        case Action::refuse: x.outcome[i] = step.fault; break;
        case Action::make_directory: {
            std::string path = base + walk.path();
            path.pop_back();
            x.outcome[i] = make_folder(x, path);
            if (x.outcome[i] != Fault::none)
                step.action = Action::refuse;
            else
                seen.enter(static_cast<std::int32_t>(i));
            break;
        }
        case Action::write_file: {
            const auto start = static_cast<std::uint64_t>(
                std::int64_t{x.archive.header.data_offset} + std::int64_t{record.offset});
            mover.add_file(i, parent, start, static_cast<std::uint64_t>(record.size), [&] {
                const std::string& path = walk.path();
                return base + path.substr(0, path.size() - table[i].name_size);
            });
            break;
        }
        }
        mover.report_done(i + 1); // what is done by now is shown now
    }
    mover.finish(n);
}

} // namespace

bool extract_archive(const std::string& archive_path, const std::string& dest_dir, unsigned threads,
                     Reporter& out) {
    Extraction x;
    if (!open_archive(archive_path, x.archive)) {
        out.fault(Fault::cannot_open, archive_path);
        out.flush();
        return false;
    }
    out.extracting(archive_path);
    read_archive_header(x.archive);
    out.counts(x.archive.header.entry_count, x.archive.header.data_offset);
    const TableDamage damage = read_archive_table(x.archive);
    // An empty destination means the current folder, never the filesystem root.
    const std::string base = dest_dir.empty() ? std::string(".") : dest_dir;
    if (damage != TableDamage::none) {
        out.fault(fault_of(damage), archive_path);
    } else if (make_destination(out, base, dest_dir)) {
        x.plan = plan_archive(x.archive);
        x.names_fold_case = platform::names_fold_case(base);
        write_entries(x, base, threads, out);
        out.done();
    }
    out.flush();
    return !out.failed();
}

} // namespace quodrel
