// Runs an extraction plan against the disk, and deals with what only the disk can
// tell: a folder that turns out to be a link, a file that cannot be created or
// written, data that cannot be read after all. Folders are made on the calling
// thread, in table order, before anything below them; file contents move on the
// crew's threads; everything the caller is told comes in table order on the calling
// thread.
#include "extract/extractor.h"

#include "archive/tree.h"
#include "extract/landing.h"
#include "extract/select.h"
#include "transfer/held_folders.h"
#include "transfer/outcomes.h"
#include "transfer/turns.h"

#include <algorithm>
#include <memory>

namespace quodrel {
namespace {

// The state of one extraction.
struct Extraction {
    Extraction(const OpenArchive& archive, std::vector<Step> steps, Events& events,
               bool names_fold_case, const platform::Watch& watch)
        : archive(archive), steps(std::move(steps)), events(events),
          landing(archive.bytes->id(), names_fold_case, watch), outcomes(archive.table.size()) {}

    const OpenArchive& archive;
    // A stream is read by one job at a time, in order.
    transfer::Turns turns;
    // The plan, with what this extraction leaves out and what the disk refuses.
    std::vector<Step> steps;
    Events& events;
    Landing landing;
    transfer::Outcomes outcomes;
    // What was written, and the bytes of the files handled so far.
    std::int64_t files = 0, folders = 0, bytes = 0, bytes_done = 0;
    std::size_t told = 0; // entries whose turn to be told has come
};

std::uint64_t data_start(const OpenArchive& archive, std::size_t i) {
    return static_cast<std::uint64_t>(std::int64_t{archive.header.data_offset} +
                                      std::int64_t{archive.table[i].record.offset});
}

void note(Extraction& x, std::size_t i, const Landed& landed) {
    if (landed.error != QUODREL_OK)
        x.outcomes.fail(i, landed.error, landed.system_error);
}

// A big file is copied from the archive; a batch's data is read with one call, then
// written out file by file.
void move_job(Extraction& x, const transfer::Job& job, transfer::Hands& hands) {
    const platform::Folder& folder =
        static_cast<const transfer::OpenFolder*>(job.context.get())->folder;
    const EntryTable& table = x.archive.table;
    const std::atomic<bool>& stop = x.events.cancel_flag();
    // A stream is read in turn: a big file while it is copied, a batch before its files
    // are written, while others write theirs.
    transfer::Turn turn(x.archive.bytes->sequential() ? &x.turns : nullptr, job.number);
    if (job.big()) {
        auto copy = [&](int file) {
            std::uint64_t copied = 0;
            return hands.copier.copy(*x.archive.bytes, job.start, file, 0, job.bytes, copied,
                                     &stop);
        };
        note(x, job.first,
             x.landing.file(folder, std::string(table.name(job.first)), hands.thread, copy));
        return;
    }
    std::uint64_t got = 0;
    while (got < job.bytes && !stop) {
        const std::int64_t n = x.archive.bytes->read_at(
            hands.block.data() + got, static_cast<std::size_t>(job.bytes - got), job.start + got);
        if (n <= 0)
            break; // the archive shrank since it was opened
        got += static_cast<std::uint64_t>(n);
    }
    turn.pass();
    std::uint64_t at = 0;
    for (std::size_t i = job.first; i < job.last; ++i) {
        const auto size = static_cast<std::uint64_t>(table[i].record.size);
        if (stop)
            x.outcomes.fail(i, QUODREL_ERROR_CANCELLED, 0);
        else if (at + size > got)
            x.outcomes.fail(i, QUODREL_ERROR_READ, 0);
        else {
            auto write = [&](int file) {
                return platform::write_all(file, hands.block.data() + at,
                                           static_cast<std::size_t>(size))
                           ? transfer::Copy::done
                           : transfer::Copy::write_failed;
            };
            note(x, i, x.landing.file(folder, std::string(table.name(i)), hands.thread, write));
        }
        at += size;
    }
}

// Makes and opens the destination; false, with the failure told, when it cannot be had.
bool open_destination(Events& events, const std::string& base, const std::string& dest_dir,
                      transfer::OpenFolder& destination) {
    // A link the user names as the destination is followed; one inside it never is.
    // Windows would take a device name or a trailing dot or blank for something else.
    const std::string folder = platform::system_path(base);
    if ((platform::windows_rules() && !is_windows_safe_output(dest_dir, folder, true)) ||
        platform::make_folder(folder) == platform::MakeFolder::failed ||
        !platform::open_folder(folder, destination.folder)) {
        events.failed(QUODREL_ERROR_DESTINATION, platform::last_error(), dest_dir);
        return false;
    }
    return true;
}

// Tells what became of entry i, once what became of it is known; false once the
// caller has cancelled.
bool report(Extraction& x, TreeWalker& reported, std::size_t i) {
    const EntryTable& table = x.archive.table;
    const std::int64_t size = table[i].record.size;
    const Step& step = x.steps[i];
    x.told = i + 1;
    reported.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
    if (!x.events.progress(static_cast<std::int64_t>(i), x.bytes_done))
        return false;
    if (step.action == Action::leave)
        return true;
    const std::string_view path = x.events.listening() ? reported.entry_path() : std::string_view();
    const quodrel_error error = x.outcomes.error(i);
    if (error == QUODREL_ERROR_REFUSED)
        return x.events.refused(i, path, QUODREL_REFUSED_NAME_CLASH, size);
    if (error == QUODREL_ERROR_CANCELLED)
        return false;
    if (error != QUODREL_OK)
        return x.events.failed_entry(error, x.outcomes.system_error(i), i, path, size);
    switch (step.action) {
    case Action::inside: return x.events.refused(i, path, QUODREL_REFUSED_INSIDE, size);
    case Action::refuse: return x.events.refused(i, path, step.refusal(), size);
    case Action::make_folder: ++x.folders; break;
    case Action::write_file:
        ++x.files;
        x.bytes += size;
        x.bytes_done += size;
        break;
    case Action::leave: break;
    }
    return x.events.entry(i, path, size);
}

void write_entries(Extraction& x, transfer::FolderRef destination, const transfer::Crew& crew,
                   bool names_fold_case) {
    const EntryTable& table = x.archive.table;
    const std::size_t n = table.size();
    const bool lean = platform::descriptors_left() < transfer::kDescriptorsAtEase;
    TreeWalker reported;
    // Every thread's block before anything is written: no thread runs out halfway.
    transfer::OrderedMover mover(
        lean ? 1 : crew.threads, transfer::kBatchBytes,
        [&x](const transfer::Job& job, transfer::Hands& hands) { move_job(x, job, hands); },
        [&](std::size_t i) { return report(x, reported, i); });
    transfer::HeldFolders folders(std::move(destination), lean);
    std::int32_t batch_parent = -1;
    for (std::size_t i = 0; i < n && !x.events.cancelled(); ++i) {
        const std::string_view name = table.name(i);
        Step& step = x.steps[i];
        const std::int32_t parent = x.archive.plan.parents[i];
        if (parent >= 0 && step.action != Action::leave &&
            !is_written(x.steps[static_cast<std::size_t>(parent)].action))
            step.action = Action::inside; // a folder above it was refused, now or before
        // A batch is of one folder: given before the walk leaves it, so that it lets go
        // of that folder before another is opened (where descriptors are few).
        if (step.action != Action::write_file || parent != batch_parent)
            mover.cut();
        batch_parent = parent;
        if (is_written(step.action)) {
            folders.leave_to(parent);
            if (folders.meets(name, names_fold_case))
                mover.report_all_before(i); // it may land where one before it does: that one first
        }
        if (step.action == Action::make_folder) {
            const transfer::FolderRef in = folders.innermost();
            auto made = std::make_shared<transfer::OpenFolder>();
            const Landed landed = in ? x.landing.folder(in->folder, std::string(name), made->folder)
                                     : Landed{QUODREL_ERROR_CREATE, 0};
            if (landed.error != QUODREL_OK) {
                x.outcomes.fail(i, landed.error, landed.system_error);
                step.action = Action::refuse; // nothing below it is tried
            } else {
                folders.enter(static_cast<std::int32_t>(i), std::string(name), std::move(made));
            }
        } else if (step.action == Action::write_file) {
            transfer::FolderRef in = folders.innermost();
            if (!in) {
                x.outcomes.fail(i, QUODREL_ERROR_CREATE, 0);
                mover.cut();
            } else {
                mover.add_file(i, parent, data_start(x.archive, i),
                               static_cast<std::uint64_t>(table[i].record.size),
                               [&](transfer::Job& job) { job.context = std::move(in); });
            }
        }
        mover.report_done(i + 1); // what is done by now is told now
    }
    mover.finish(n);
}

// The bytes of the files an extraction will write.
std::int64_t bytes_to_write(const OpenArchive& archive, const std::vector<Step>& steps) {
    std::int64_t bytes = 0;
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (steps[i].action == Action::write_file)
            bytes += archive.table[i].record.size;
    return bytes;
}

} // namespace

quodrel_error extract_archive(const OpenArchive& archive, std::vector<Step> steps,
                              const std::string& dest_dir, const std::vector<std::string>* chosen,
                              const transfer::Crew& crew, Events& events) {
    // An empty destination means the current folder, never the filesystem root.
    const std::string base = dest_dir.empty() ? std::string(".") : dest_dir;
    Selection selection;
    if (chosen) {
        // Only what the paths name, and the folders above it.
        selection = select_entries(archive.table, *chosen, archive.rules);
        for (std::size_t i = 0; i < selection.entries.size(); ++i)
            if (selection.entries[i] == Chosen::no)
                steps[i].action = Action::leave;
    }
    if (!events.begin(archive.name, archive.header.entry_count, bytes_to_write(archive, steps),
                      archive.header.data_offset))
        return QUODREL_ERROR_CANCELLED;
    // A path that names nothing is told first.
    for (const std::string& path : selection.unmatched)
        if (!events.failed(QUODREL_ERROR_NOT_FOUND, 0, path))
            return QUODREL_ERROR_CANCELLED;
    // Beside the archive, a folder and a file must be open at once (two folders, for a
    // moment): with fewer, nothing is tried.
    if (platform::descriptors_left() < 2) {
        events.failed(QUODREL_ERROR_DESCRIPTORS, 0, archive.name);
        return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_DESCRIPTORS;
    }
    auto destination = std::make_shared<transfer::OpenFolder>();
    if (!open_destination(events, base, dest_dir, *destination))
        return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_DESTINATION;
    events.set_folder(base);
    const bool names_fold_case = platform::names_fold_case(destination->folder.path);
    Extraction x(archive, std::move(steps), events, names_fold_case, crew.watch);
    write_entries(x, std::move(destination), crew, names_fold_case);
    // Cancelled before the last entry's turn, the extraction stopped there; at it or
    // after, every entry was done already.
    if (events.cancelled() && x.told < archive.table.size())
        return QUODREL_ERROR_CANCELLED;
    // Every entry is done: a cancel from here on comes too late to change that.
    if (events.progress(static_cast<std::int64_t>(archive.table.size()), x.bytes_done))
        events.end(x.files, x.folders, x.bytes);
    return events.incomplete() ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
}

} // namespace quodrel
