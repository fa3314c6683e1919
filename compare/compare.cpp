// Compares in three steps, so that what is told comes in the archive's order while
// files are read in the tree's: each archive entry is matched with the folder's entry
// at its path (as this system compares names), files of one size on both sides are
// then read side by side along a walk through the folder's tree (each folder held
// open and known by its identity, as creation reads), and last every difference is
// told.
#include "compare/compare.h"

#include "archive/tree.h"
#include "reading/scan.h"
#include "transfer/held_folders.h"
#include "transfer/workers.h"

#include <cstring>
#include <unordered_map>
#include <vector>

namespace quodrel {
namespace {

// What became of an archive entry.
enum class Verdict : std::uint8_t {
    passed,       // inside what was told as a whole: not told again
    refused,      // extraction refuses it: told as refused, never compared
    only_archive, // nothing at its path in the folder
    differs,      // another kind, size or bytes
    same,
    unread, // its bytes or the file's could not be read: told as a failure
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kBlock = 1 << 20;

// What became of an entry of the folder's side.
enum class Met : std::uint8_t {
    not_met,    // only the folder has it: told, with all inside it
    met,        // an archive entry of its path is written: what is inside is looked at
    other_kind, // met by an archive entry of the other kind: nothing inside is told
    refused_at, // only a refused archive entry has its path: nothing of it is told
};

// The folder's side: its walk (as creation's), each entry's path as compared, and
// what became of each.
struct FolderSide {
    Scan scan;
    std::unordered_map<std::string, std::size_t> by_path;
    std::vector<Met> met;
};

// Whether a file of the folder holds exactly the archive entry's bytes; `unread` set
// when either side could not be read (`system_error` then the file's error, or 0 for
// the archive's).
bool same_bytes(const ArchiveBytes& archive, std::uint64_t start, int file, std::uint64_t size,
                std::vector<char>& ours, std::vector<char>& theirs, bool& unread,
                int& system_error) {
    for (std::uint64_t done = 0;;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size - done));
        // One byte more than is left: a plain file's short read is its end, so a file
        // that grew since the walk is seen in the same call.
        const std::int64_t got = platform::read_at(file, theirs.data(), want + 1, done);
        if (got < 0) {
            unread = true;
            system_error = platform::last_error();
            if (system_error == 0)
                system_error = -1; // (the file's, whatever the system said)
            return false;
        }
        if (static_cast<std::size_t>(got) < want ||
            (done + want == size && static_cast<std::size_t>(got) > want))
            return false; // shorter than it was, or longer
        if (!archive.read_exactly(ours.data(), want, start + done)) {
            unread = true;
            system_error = 0;
            return false;
        }
        if (std::memcmp(ours.data(), theirs.data(), want) != 0)
            return false;
        done += want;
        if (done == size)
            return true;
    }
}

} // namespace

quodrel_error compare_archive(const OpenArchive& archive, const std::string& folder,
                              unsigned threads, Events& events) {
    const EntryTable& table = archive.table;
    const ExtractionPlan& plan = archive.plan;
    if (platform::descriptors_left() < 3) {
        events.failed(QUODREL_ERROR_DESCRIPTORS, 0, folder);
        return QUODREL_ERROR_DESCRIPTORS;
    }
    std::int64_t total = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        total += table[i].record.size > 0 ? table[i].record.size : 0;
    if (!events.begin(archive.name, static_cast<std::int64_t>(table.size()), total))
        return QUODREL_ERROR_CANCELLED;

    // The folder's tree, walked as creation walks it; what creation would leave out is
    // told, with the folder's path.
    FolderSide side;
    const bool lean = platform::descriptors_left() < transfer::kDescriptorsAtEase;
    const std::string root = platform::system_path(folder);
    scan_tree_skipping(side.scan, root, archive.bytes->id(), archive.bytes->size(), lean);
    events.set_folder(folder);
    for (const ScanProblem& problem : side.scan.problems) {
        if (problem.error == QUODREL_ERROR_OPEN && problem.below_root.empty()) {
            events.failed(problem.error, problem.system_error, folder);
            return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_OPEN;
        }
        const bool going =
            problem.error == QUODREL_ERROR_OPEN
                ? events.failed_entry(problem.error, problem.system_error, QUODREL_NO_INDEX,
                                      problem.below_root, 0)
                : events.refused(QUODREL_NO_INDEX, problem.below_root, problem.refusal, 0);
        if (!going)
            return QUODREL_ERROR_CANCELLED;
    }
    const EntryTable& theirs = side.scan.table;
    side.met.assign(theirs.size(), Met::not_met);
    {
        TreeWalker walk;
        for (std::size_t j = 0; j < theirs.size(); ++j) {
            walk.next(static_cast<std::int32_t>(j), theirs[j].record, theirs.name(j));
            side.by_path.emplace(compared_path(walk.entry_path(), archive.rules), j);
        }
    }

    // Each archive entry matched: its verdict, and the folder's entry it was met with.
    std::vector<Verdict> verdicts(table.size(), Verdict::same);
    std::vector<std::size_t> to_read(theirs.size(), kNone); // folder entry -> archive entry
    {
        TreeWalker walk;
        for (std::size_t i = 0; i < table.size(); ++i) {
            walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
            const std::int32_t parent = plan.parents[i];
            const Verdict above =
                parent >= 0 ? verdicts[static_cast<std::size_t>(parent)] : Verdict::same;
            const Step& step = plan.steps[i];
            const auto found = side.by_path.find(compared_path(walk.entry_path(), archive.rules));
            const std::size_t j = found == side.by_path.end() ? kNone : found->second;
            if (step.action == Action::refuse || step.action == Action::inside) {
                verdicts[i] = Verdict::refused;
                if (j != kNone && side.met[j] == Met::not_met)
                    side.met[j] = Met::refused_at; // never compared, nor told as the folder's
                continue;
            }
            if (above == Verdict::only_archive || above == Verdict::differs ||
                above == Verdict::passed) {
                verdicts[i] = Verdict::passed;
                continue;
            }
            if (j == kNone) {
                verdicts[i] = Verdict::only_archive;
                continue;
            }
            side.met[j] = Met::met;
            const std::int64_t size = table[i].record.size;
            const std::int64_t their_size = theirs[j].record.size;
            if ((size == 0) != (their_size == 0)) {
                verdicts[i] = Verdict::differs; // a file and a folder
                side.met[j] = Met::other_kind;
            } else if (size != their_size) {
                verdicts[i] = Verdict::differs;
            } else if (size > 0) {
                to_read[j] = i;
            }
        }
    }

    // Files of one size on both sides, read side by side along the folder's tree.
    std::vector<int> unread_errors(table.size(), 0);
    std::vector<std::uint8_t> archive_unread(table.size(), 0);
    auto root_folder = std::make_shared<transfer::OpenFolder>();
    if (!platform::open_folder(root, root_folder->folder) ||
        !(platform::file_id(root_folder->folder.handle) == side.scan.open_folders.front())) {
        events.failed(QUODREL_ERROR_OPEN, platform::last_error(), folder);
        return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_OPEN;
    }
    {
        // Each file is opened here, along the walk, and compared on the threads: at most
        // `window` open at once.
        const unsigned workers_wanted = lean ? 1u : std::max(1u, threads);
        const std::size_t window = 4 * static_cast<std::size_t>(workers_wanted);
        struct Pending {
            int file = -1;
            std::size_t entry = kNone;
        };
        std::vector<Pending> pending(window);
        std::vector<std::vector<char>> ours(workers_wanted + 1), buffers(workers_wanted + 1);
        transfer::Workers workers(workers_wanted, window, [&](std::size_t job, int slot) {
            const Pending& p = pending[job % window];
            const std::size_t i = p.entry;
            std::vector<char>& our = ours[static_cast<std::size_t>(slot)];
            std::vector<char>& their = buffers[static_cast<std::size_t>(slot)];
            if (our.empty()) {
                our.resize(kBlock);
                their.resize(kBlock + 1);
            }
            bool unread = false;
            int system_error = 0;
            const std::uint64_t start = static_cast<std::uint64_t>(archive.header.data_offset) +
                                        static_cast<std::uint64_t>(table[i].record.offset);
            const bool same = same_bytes(*archive.bytes, start, p.file,
                                         static_cast<std::uint64_t>(table[i].record.size), our,
                                         their, unread, system_error);
            platform::close_file(p.file);
            verdicts[i] = unread ? Verdict::unread : same ? Verdict::same : Verdict::differs;
            unread_errors[i] = system_error;
            archive_unread[i] = unread && system_error == 0;
        });
        const auto nothing_to_report = [](std::size_t) { return true; };
        transfer::HeldFolders held(std::move(root_folder), lean);
        TreeWalker walk;
        std::size_t folders = 0;
        std::vector<std::uint8_t> unopened(theirs.size(), 0);
        for (std::size_t j = 0; j < theirs.size() && !events.cancelled(); ++j) {
            walk.next(static_cast<std::int32_t>(j), theirs[j].record, theirs.name(j));
            const std::int32_t parent = walk.parent();
            const bool is_folder = (side.scan.kinds[j] & Scan::kFolder) != 0;
            const platform::FileId expected =
                is_folder ? side.scan.folder_ids[folders++] : platform::FileId{};
            if (parent >= 0 && unopened[static_cast<std::size_t>(parent)]) {
                unopened[j] = 1;
                if (to_read[j] != kNone) {
                    verdicts[to_read[j]] = Verdict::unread;
                    unread_errors[to_read[j]] = -1;
                }
                continue;
            }
            held.leave_to(parent);
            if (is_folder) {
                if (theirs[j].record.child_count > 0 &&
                    !held.open_and_enter(static_cast<std::int32_t>(j), std::string(theirs.name(j)),
                                         (side.scan.kinds[j] & Scan::kLink) != 0, expected))
                    unopened[j] = 1;
                continue;
            }
            const std::size_t i = to_read[j];
            if (i == kNone)
                continue;
            transfer::FolderRef in = held.innermost();
            const int file = in ? platform::open_source_in(in->folder, std::string(theirs.name(j)),
                                                           (side.scan.kinds[j] & Scan::kLink) != 0)
                                : -1;
            if (file < 0) {
                verdicts[i] = Verdict::unread;
                unread_errors[i] = platform::last_error();
                if (unread_errors[i] == 0)
                    unread_errors[i] = -1;
                continue;
            }
            const std::size_t job = workers.make_room(nothing_to_report);
            pending[job % window] = Pending{file, i};
            workers.give(j, j + 1);
        }
        workers.report_until(theirs.size(), true, nothing_to_report);
    }

    // Everything told: the archive's entries in its order, then what only the folder has.
    std::int64_t files = 0, both_folders = 0, differences = 0;
    {
        TreeWalker walk;
        for (std::size_t i = 0; i < table.size(); ++i) {
            walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
            const std::int64_t size = table[i].record.size;
            const std::string_view path = walk.entry_path();
            bool going = true;
            switch (verdicts[i]) {
            case Verdict::passed: break;
            case Verdict::refused:
                events.set_folder(std::string()); // an entry of the archive, as -t names it
                going =
                    events.refused(i, path,
                                   plan.steps[i].action == Action::refuse ? plan.steps[i].refusal()
                                                                          : QUODREL_REFUSED_INSIDE,
                                   size);
                events.set_folder(folder);
                break;
            case Verdict::only_archive:
                ++differences;
                going = events.difference(QUODREL_ONLY_IN_ARCHIVE, i, path, size);
                break;
            case Verdict::differs:
                ++differences;
                (size == 0 ? both_folders : files) += 1;
                going = events.difference(QUODREL_DIFFERS, i, path, size);
                break;
            case Verdict::unread:
                files += 1;
                if (archive_unread[i]) { // the archive's bytes: named as the archive names them
                    events.set_folder(std::string());
                    going = events.failed_entry(QUODREL_ERROR_READ, 0, i, path, size);
                    events.set_folder(folder);
                } else { // the folder's file
                    going =
                        events.failed_entry(QUODREL_ERROR_OPEN, unread_errors[i], i, path, size);
                }
                break;
            case Verdict::same: (size == 0 ? both_folders : files) += 1; break;
            }
            if (!going)
                return QUODREL_ERROR_CANCELLED;
        }
        TreeWalker their_walk;
        std::vector<std::uint8_t> told_whole(theirs.size(), 0); // nothing inside to tell
        for (std::size_t j = 0; j < theirs.size(); ++j) {
            their_walk.next(static_cast<std::int32_t>(j), theirs[j].record, theirs.name(j));
            const std::int32_t parent = their_walk.parent();
            told_whole[j] = 1;
            if (parent >= 0 && told_whole[static_cast<std::size_t>(parent)])
                continue; // told with the folder it lies in, or never to be told
            if (side.met[j] == Met::met) {
                told_whole[j] = 0; // what lies inside is looked at one by one
                continue;
            }
            if (side.met[j] != Met::not_met)
                continue;
            ++differences;
            if (!events.difference(QUODREL_ONLY_IN_FOLDER, QUODREL_NO_INDEX,
                                   their_walk.entry_path(), theirs[j].record.size))
                return QUODREL_ERROR_CANCELLED;
        }
    }
    events.end(files, both_folders, 0, differences); // (a cancel there comes once all is told)
    if (events.incomplete())
        return QUODREL_ERROR_INCOMPLETE;
    return differences > 0 ? QUODREL_ERROR_DIFFERENT : QUODREL_OK;
}

} // namespace quodrel
