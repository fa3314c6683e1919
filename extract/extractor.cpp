// Runs an extraction plan against the disk, and deals with what only the disk can
// tell: a folder that turns out to be a link, a file that cannot be created or
// written, data that cannot be read after all. Every folder and file is made in an
// open folder, by its name alone, never through a path walked again: whatever is
// done to the tree meanwhile, nothing lands outside the destination. Folders are made
// on the calling thread, in table order, before anything below them; file contents
// move on the workers; everything the user reads is printed in table order by the
// calling thread.
#include "extract/extractor.h"

#include "archive/table.h"
#include "archive/tree.h"
#include "extract/archive_file.h"
#include "extract/plan.h"
#include "extract/select.h"
#include "platform/cleanup.h"
#include "platform/files.h"
#include "transfer/mover.h"

#include <algorithm>
#include <memory>
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

// A folder held open while anything is still to be made in it: by the walk, or by a
// job whose files go there.
struct OpenFolder {
    platform::Folder folder;
    OpenFolder() = default;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder() { platform::close_folder(folder); }
};
using FolderRef = std::shared_ptr<OpenFolder>;

// The state of one extraction.
struct Extraction {
    ArchiveFile archive;
    ExtractionPlan plan;
    // Where two spellings of a name may lead to one file, what this run wrote, so
    // that a second spelling never overwrites the first.
    bool names_fold_case = false;
    WrittenFiles written;
    std::vector<Fault> outcome; // per entry, what to tell
    // What was written, for the totals of an extraction of chosen entries.
    std::int32_t files = 0, folders = 0;
    std::int64_t bytes = 0;
};

// Whether `name` in `folder` is something this run already wrote under another spelling.
bool written_before(const Extraction& x, const platform::Folder& folder, const std::string& name) {
    return x.names_fold_case && x.written.has(platform::file_id_in(folder, name));
}

// Writes `size` bytes into an open output: from `data` when given, else copied from
// the archive at `start`. Whether all of it was stored; closes the file.
transfer::Copy fill(Extraction& x, int file, const char* data, std::uint64_t start,
                    std::uint64_t size, transfer::Hands& hands) {
    transfer::Copy result = transfer::Copy::done;
    if (data) {
        if (!platform::write_all(file, data, static_cast<std::size_t>(size)))
            result = transfer::Copy::write_failed;
    } else {
        std::uint64_t copied = 0;
        result = hands.copier.copy(x.archive.file, start, file, 0, size, copied);
    }
    const bool closed = platform::close_output(file);
    return result == transfer::Copy::done && !closed ? transfer::Copy::write_failed : result;
}

Fault fault_of_copy(transfer::Copy result) {
    switch (result) {
    case transfer::Copy::done: return Fault::none;
    case transfer::Copy::no_memory: return Fault::no_memory;
    case transfer::Copy::short_read: return Fault::data_cut_short;
    case transfer::Copy::write_failed: break;
    }
    return Fault::cannot_write;
}

// Writes a file over one that is there already: beside it first, then renamed over
// it once complete, so that a failure leaves the earlier file as it was.
Fault replace_file(Extraction& x, const platform::Folder& folder, const std::string& name,
                   const char* data, std::uint64_t start, std::uint64_t size,
                   transfer::Hands& hands) {
    std::string temp;
    const int file = platform::create_replacement(folder, temp, hands.slot);
    if (file < 0) {
        platform::output_finished(hands.slot);
        return Fault::cannot_create;
    }
    const platform::FileId id = x.names_fold_case ? platform::file_id(file) : platform::FileId{};
    Fault fault = fault_of_copy(fill(x, file, data, start, size, hands));
    if (fault == Fault::none && !platform::rename_in(folder, temp, name))
        fault = Fault::cannot_write;
    if (fault != Fault::none)
        platform::remove_in(folder, temp);
    platform::output_finished(hands.slot);
    if (fault == Fault::none && x.names_fold_case)
        x.written.add(id);
    return fault;
}

// Creates one output file `name` in `folder` and writes `size` bytes into it. Nothing
// is left behind unless it is complete; if the run is ended meanwhile, the file goes
// too.
Fault write_file(Extraction& x, const platform::Folder& folder, const std::string& name,
                 const char* data, std::uint64_t start, std::uint64_t size,
                 transfer::Hands& hands) {
    platform::begin_output(hands.slot, folder, name);
    const platform::Output output =
        platform::create_output(folder, name, x.archive.id, x.names_fold_case);
    platform::output_created(hands.slot, output.file >= 0);
    if (output.existed) {
        // What an earlier run left is replaced; what this run wrote under another
        // spelling of the name is not.
        if (x.names_fold_case && x.written.has(output.id))
            return Fault::name_clash;
        return replace_file(x, folder, name, data, start, size, hands);
    }
    if (output.file < 0)
        return written_before(x, folder, name) ? Fault::name_clash : Fault::cannot_create;
    const Fault fault = fault_of_copy(fill(x, output.file, data, start, size, hands));
    if (fault != Fault::none)
        platform::remove_in(folder, name);
    platform::output_finished(hands.slot);
    if (fault == Fault::none && x.names_fold_case)
        x.written.add(output.id);
    return fault;
}

// A big file is copied from the archive; a batch's data is read with one call, then
// written out file by file.
void move_job(Extraction& x, const transfer::Job& job, transfer::Hands& hands) {
    const platform::Folder& folder = static_cast<const OpenFolder*>(job.context.get())->folder;
    const EntryTable& table = x.archive.table;
    if (job.big()) {
        x.outcome[job.first] = write_file(x, folder, std::string(table.name(job.first)), nullptr,
                                          job.start, job.bytes, hands);
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
        const auto size = static_cast<std::uint64_t>(table[i].record.size);
        x.outcome[i] = at + size > got ? Fault::data_cut_short
                                       : write_file(x, folder, std::string(table.name(i)),
                                                    hands.block.data() + at, 0, size, hands);
        at += size;
    }
}

// Makes and opens the destination; false, with the error printed, when it cannot be had.
bool open_destination(Reporter& out, const std::string& base, const std::string& dest_dir,
                      OpenFolder& destination) {
    // A link the user names as the destination is followed; one inside it never is.
    // Windows would take a device name or a trailing dot or blank for something else.
    const std::string folder = platform::system_path(base);
    if ((platform::windows_rules() && !is_windows_safe_last_part(dest_dir)) ||
        platform::make_directory(folder) == platform::MakeDirectory::failed ||
        !platform::open_folder(folder, destination.folder)) {
        out.fault(Fault::cannot_create, dest_dir);
        return false;
    }
    return true;
}

// Makes one folder of the archive in `parent` and opens it. Another spelling of a
// name already written, something else in its place, no room or no right to make it,
// or a link (writing below it would land wherever it points) refuse it: told once,
// and nothing below it is tried.
Fault make_folder(Extraction& x, const platform::Folder& parent, const std::string& name,
                  OpenFolder& made) {
    const platform::MakeDirectory result = platform::make_folder(parent, name, made.folder);
    if (result == platform::MakeDirectory::failed || result == platform::MakeDirectory::is_link)
        return written_before(x, parent, name) ? Fault::name_clash : Fault::cannot_create;
    const platform::FileId id =
        x.names_fold_case ? platform::file_id(made.folder.handle) : platform::FileId{};
    if (result != platform::MakeDirectory::created && x.names_fold_case && x.written.has(id))
        return Fault::name_clash;
    if (x.names_fold_case)
        x.written.add(id); // made, or an earlier run's
    return Fault::none;
}

// The folders open along the walk, from the destination down to the one entries now
// go into, each with the names met in it so far as hashes of how the file system
// compares them: two entries that may meet on disk are never under way at the same
// time, so which one comes first never depends on timing. Where descriptors are few,
// only the destination and the innermost folder stay open; a folder needed again is
// opened anew by a walk from the destination, never through a link.
class OpenFolders {
public:
    OpenFolders(FolderRef destination, bool fold, bool lean) : fold_(fold), lean_(lean) {
        levels_.push_back({-1, std::string(), std::move(destination), {}});
    }

    // Closes the folders that the entry with parent `parent` lies outside of.
    void leave_to(std::int32_t parent) {
        while (levels_.size() > 1 && levels_.back().index != parent)
            levels_.pop_back();
    }

    // Whether `name` may meet a name met before in the innermost folder; notes it.
    bool meets(std::string_view name) {
        const std::size_t key =
            fold_ ? std::hash<std::string>()(platform::fold_case(std::string(name)))
                  : std::hash<std::string_view>()(name);
        return !levels_.back().names.insert(key).second;
    }

    // The innermost folder, open; null when it cannot be opened again.
    FolderRef innermost() {
        if (!levels_.back().folder)
            reopen();
        return levels_.back().folder;
    }

    void enter(std::int32_t index, const std::string& name, FolderRef folder) {
        if (lean_)
            for (std::size_t i = 1; i < levels_.size(); ++i)
                levels_[i].folder.reset(); // closed unless a job still holds it
        levels_.push_back({index, name, std::move(folder), {}});
    }

private:
    void reopen() {
        FolderRef at = levels_.front().folder;
        for (std::size_t i = 1; i < levels_.size() && at; ++i) {
            if (levels_[i].folder) {
                at = levels_[i].folder;
                continue;
            }
            auto next = std::make_shared<OpenFolder>();
            if (!platform::open_subfolder(at->folder, levels_[i].name, next->folder))
                next.reset();
            at = next;
        }
        levels_.back().folder = at;
    }

    struct Level {
        std::int32_t index; // the folder's entry, -1 for the destination
        std::string name;
        FolderRef folder; // null while closed
        std::unordered_set<std::size_t> names;
    };
    bool fold_;
    bool lean_;
    std::vector<Level> levels_;
};

// Tells what became of entry i, once what became of it is known.
bool report(Extraction& x, TreeWalker& reported, const std::string& base, Reporter& out,
            std::size_t i) {
    const EntryTable& table = x.archive.table;
    reported.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
    out.progress(x.archive.header.entry_count, static_cast<std::int32_t>(i));
    const Fault fault = x.outcome[i];
    if (fault == Fault::none && x.plan.steps[i].action == Action::make_directory) {
        ++x.folders;
    } else if (fault == Fault::none && x.plan.steps[i].action == Action::write_file) {
        ++x.files;
        x.bytes += table[i].record.size;
    } else if (fault == Fault::no_memory) {
        out.no_memory(table[i].record.size);
    } else if (fault != Fault::none) {
        std::string_view path = reported.path();
        if (table[i].record.size == 0)
            path.remove_suffix(1); // a directory's path ends with "/"; messages name it without
        out.fault(fault, base, path);
    }
    return true;
}

// Descriptors enough for every folder level open at once, the jobs under way and
// each thread's file: else only a few folders stay open, and one thread writes.
constexpr std::size_t kDescriptorsAtEase = 2 * kMaxOpenDirectories + transfer::kWindow + 128;

void write_entries(Extraction& x, FolderRef destination, const std::string& base, unsigned threads,
                   Reporter& out) {
    const EntryTable& table = x.archive.table;
    const std::size_t n = table.size();
    std::vector<Step>& steps = x.plan.steps;
    x.outcome.assign(n, Fault::none);
    const bool lean = platform::descriptors_left() < kDescriptorsAtEase;
    if (lean)
        threads = 1;
    TreeWalker reported;
    // Every thread's block before anything is written: no thread runs out halfway.
    transfer::OrderedMover mover(
        std::min<unsigned>(threads, platform::kCleanupSlots), transfer::kBatchBytes,
        [&x](const transfer::Job& job, transfer::Hands& hands) { move_job(x, job, hands); },
        [&](std::size_t i) { return report(x, reported, base, out, i); });
    OpenFolders folders(std::move(destination), x.names_fold_case, lean);
    TreeWalker walk;
    for (std::size_t i = 0; i < n; ++i) {
        const EntryRecord& record = table[i].record;
        const std::string_view name = table.name(i);
        walk.next(static_cast<std::int32_t>(i), record, name);
        Step& step = steps[i];
        const std::int32_t parent = walk.parent();
        if (parent >= 0 && (steps[static_cast<std::size_t>(parent)].action == Action::refuse ||
                            steps[static_cast<std::size_t>(parent)].action == Action::skip))
            step.action = Action::skip; // a directory above it was refused, now or before
        if (step.action != Action::write_file)
            mover.cut();
        if (step.action == Action::make_directory || step.action == Action::write_file) {
            folders.leave_to(parent);
            if (folders.meets(name))
                mover.report_all_before(i); // it may land where one before it does: that one first
        }
        switch (step.action) {
        case Action::skip: break;
        case Action::refuse: x.outcome[i] = step.fault; break;
        case Action::make_directory: {
            const FolderRef in = folders.innermost();
            auto made = std::make_shared<OpenFolder>();
            x.outcome[i] =
                in ? make_folder(x, in->folder, std::string(name), *made) : Fault::cannot_create;
            if (x.outcome[i] != Fault::none)
                step.action = Action::refuse;
            else
                folders.enter(static_cast<std::int32_t>(i), std::string(name), std::move(made));
            break;
        }
        case Action::write_file: {
            const auto start = static_cast<std::uint64_t>(
                std::int64_t{x.archive.header.data_offset} + std::int64_t{record.offset});
            FolderRef in = folders.innermost();
            if (!in) {
                x.outcome[i] = Fault::cannot_create;
                mover.cut();
                break;
            }
            mover.add_file(i, parent, start, static_cast<std::uint64_t>(record.size),
                           [&](transfer::Job& job) { job.context = std::move(in); });
            break;
        }
        }
        mover.report_done(i + 1); // what is done by now is shown now
    }
    mover.finish(n);
}

} // namespace

bool extract_archive(const std::string& archive_path, const std::string& dest_dir, unsigned threads,
                     Reporter& out, const std::vector<std::string>* chosen) {
    if (chosen)
        out.set_quiet(true);
    Extraction x;
    if (!open_archive(platform::system_path(archive_path), x.archive)) {
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
    auto destination = std::make_shared<OpenFolder>();
    if (damage != TableDamage::none) {
        out.fault(fault_of(damage), archive_path);
    } else {
        x.plan = plan_archive(x.archive);
        if (chosen) {
            // Only what the paths name, and the folders above it; a path that names
            // nothing is told first.
            const Selection selection = select_entries(x.archive.table, *chosen);
            for (const std::string& path : selection.unmatched)
                out.fault(Fault::not_in_archive, path);
            for (std::size_t i = 0; i < selection.entries.size(); ++i)
                if (selection.entries[i] == Chosen::no)
                    x.plan.steps[i].action = Action::skip;
        }
        if (open_destination(out, base, dest_dir, *destination)) {
            x.names_fold_case = platform::names_fold_case(destination->folder.path);
            write_entries(x, std::move(destination), base, threads, out);
            out.done();
            if (chosen)
                out.totals(x.files, x.folders, x.bytes);
        }
    }
    out.flush();
    return !out.failed();
}

} // namespace quodrel
