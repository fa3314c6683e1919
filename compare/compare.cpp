// Compares in named stages, so that what is told comes in the archive's order while
// files are read in the tree's: the folder walked (walk_folder), each archive entry
// matched with the folder's entry at its path as this system compares names (match),
// files of one size on both sides read side by side along a walk through the folder's
// tree (read_side_by_side), and last every difference told (tell_archives, then
// tell_folders_own).
#include "compare/compare.h"

#include "archive/tree.h"
#include "reading/scan.h"
#include "transfer/copy.h"
#include "transfer/held_folders.h"
#include "transfer/workers.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>
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
    clash,  // another spelling of a name the folder holds (a short alias of a long
            // name on Windows): extraction would refuse it, told as a name clash
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Files are read, and the archive's bytes come, in blocks small enough that what one
// read brings in is still in the processor's cache when it is compared: with blocks of
// 1 MiB, -d of /usr/include with one thread took 1.47 times GNU tar's -d, with 64 KiB
// 1.07 times (tmpfs, medians of 9 paired runs).
constexpr std::size_t kBlock = transfer::kCopyBlock;

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
    // The paths of what the walk could not read (told as failures), as compared: no
    // archive entry there is told again as the archive's alone.
    std::unordered_set<std::string> unread;
    // Under Windows' rules, each folder's entries by its path as compared ("" for the
    // root): where an archive's name of a short alias's shape meets a long name.
    std::unordered_map<std::string, std::vector<std::size_t>> in_folder;
};

// A thread's window on the archive: files compared one after the other mostly lie back
// to back in it, so one read brings the bytes of many.
class Window {
public:
    // The archive's `size` bytes at `start` (at most kBlock), or null when they cannot
    // be read.
    const char* bytes(const ArchiveBytes& archive, std::uint64_t start, std::size_t size) {
        if (start >= at_ && start + size <= at_ + held_)
            return block_.data() + (start - at_);
        if (block_.empty())
            block_.resize(kBlock);
        const std::int64_t got = archive.read_at(block_.data(), block_.size(), start);
        at_ = start;
        held_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        if (held_ >= size)
            return block_.data();
        // (A short read need not be the end: the rest as it comes.)
        held_ = 0;
        return archive.read_exactly(block_.data(), size, start) ? block_.data() : nullptr;
    }

private:
    std::vector<char> block_;
    std::uint64_t at_ = 0;
    std::size_t held_ = 0;
};

// Whether a file of the folder holds exactly the archive entry's bytes; `unread` set
// when either side could not be read (`system_error` then the file's error, or 0 for
// the archive's).
bool same_bytes(const ArchiveBytes& archive, std::uint64_t start, int file, std::uint64_t size,
                Window& ours, std::vector<char>& theirs, bool& unread, int& system_error) {
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
        const char* our = ours.bytes(archive, start + done, want);
        if (!our) {
            unread = true;
            system_error = 0;
            return false;
        }
        if (std::memcmp(our, theirs.data(), want) != 0)
            return false;
        done += want;
        if (done == size)
            return true;
    }
}

// One comparison: the archive, the folder's side, and what became of each entry.
struct Comparison {
    Comparison(const OpenArchive& archive, const std::string& folder, Events& events)
        : archive(archive), table(archive.table), plan(archive.plan), folder(folder),
          root(platform::system_path(folder)), events(events),
          verdicts(archive.table.size(), Verdict::same), unread_errors(archive.table.size(), 0),
          archive_unread(archive.table.size(), 0) {}

    const OpenArchive& archive;
    const EntryTable& table;
    const ExtractionPlan& plan;
    const std::string& folder; // as the caller gave it
    const std::string root;    // as the system reads it
    Events& events;
    bool lean = false; // descriptors are few
    FolderSide side;
    // Each archive entry's verdict, and the folder's entry it was met with.
    std::vector<Verdict> verdicts;
    std::vector<std::size_t> to_read; // folder entry -> archive entry of one size
    std::vector<int> unread_errors;
    std::vector<std::uint8_t> archive_unread;
};

// The folder's tree, walked as creation walks it; what creation would leave out is
// told, with the folder's path. QUODREL_OK, or why nothing can be compared.
quodrel_error walk_folder(Comparison& c) {
    c.lean = platform::descriptors_left() < transfer::kDescriptorsAtEase;
    scan_tree_skipping(c.side.scan, c.root, c.archive.bytes->id(), c.archive.bytes->size(), c.lean);
    c.events.set_folder(c.folder);
    for (const ScanProblem& problem : c.side.scan.problems) {
        if (problem.error == QUODREL_ERROR_OPEN && problem.below_root.empty()) {
            c.events.failed(problem.error, problem.system_error, c.folder);
            return c.events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_OPEN;
        }
        if (problem.error == QUODREL_ERROR_OPEN)
            c.side.unread.insert(compared_path(problem.below_root, c.archive.rules));
        const bool going =
            problem.error == QUODREL_ERROR_OPEN
                ? c.events.failed_entry(problem.error, problem.system_error, QUODREL_NO_INDEX,
                                        problem.below_root, 0)
                : c.events.refused(QUODREL_NO_INDEX, problem.below_root, problem.refusal, 0);
        if (!going)
            return QUODREL_ERROR_CANCELLED;
    }
    const EntryTable& theirs = c.side.scan.table;
    c.side.met.assign(theirs.size(), Met::not_met);
    TreeWalker walk;
    for (std::size_t j = 0; j < theirs.size(); ++j) {
        walk.next(static_cast<std::int32_t>(j), theirs[j].record, theirs.name(j));
        c.side.by_path.emplace(compared_path(walk.entry_path(), c.archive.rules), j);
        if (c.archive.rules.windows_rules) {
            const std::string_view path = walk.entry_path();
            const std::size_t cut = path.rfind('/');
            c.side
                .in_folder[compared_path(path.substr(0, cut == std::string_view::npos ? 0 : cut),
                                         c.archive.rules)]
                .push_back(j);
        }
    }
    return QUODREL_OK;
}

// Whether the archive's entry at `path` would be refused as a name clash when laid over
// the folder, by the rule -t and extraction follow within an archive (a name of a short
// alias's shape after a long name of its folder that it may stand for), as an update of
// the archive from the folder would meet it.
bool meets_long_name(const Comparison& c, std::string_view path) {
    if (!c.archive.rules.windows_rules)
        return false;
    const std::size_t cut = path.rfind('/');
    const std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    if (short_alias_key(name).empty())
        return false;
    const auto folder = c.side.in_folder.find(
        compared_path(path.substr(0, cut == std::string_view::npos ? 0 : cut), c.archive.rules));
    if (folder == c.side.in_folder.end())
        return false;
    const std::string compared = compared_path(name, c.archive.rules);
    for (const std::size_t j : folder->second) {
        const std::string_view theirs = c.side.scan.table.name(j);
        if (listing_order_less(theirs, name) &&
            compared_path(theirs, c.archive.rules) != compared && may_be_short_alias(name, theirs))
            return true;
    }
    return false;
}

// Matches each archive entry with the folder's entry at its path: a verdict for what
// the table alone tells (refused, only in the archive, another kind or size), and the
// files of one size on both sides to be read.
void match(Comparison& c) {
    const EntryTable& theirs = c.side.scan.table;
    c.to_read.assign(theirs.size(), kNone);
    TreeWalker walk;
    for (std::size_t i = 0; i < c.table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), c.table[i].record, c.table.name(i));
        const std::int32_t parent = c.plan.parents[i];
        const Verdict above =
            parent >= 0 ? c.verdicts[static_cast<std::size_t>(parent)] : Verdict::same;
        const Step& step = c.plan.steps[i];
        const auto found = c.side.by_path.find(compared_path(walk.entry_path(), c.archive.rules));
        const std::size_t j = found == c.side.by_path.end() ? kNone : found->second;
        if (step.action == Action::refuse || step.action == Action::inside) {
            c.verdicts[i] = Verdict::refused;
            if (j != kNone && c.side.met[j] == Met::not_met)
                c.side.met[j] = Met::refused_at; // never compared, nor told as the folder's
            continue;
        }
        if (above == Verdict::only_archive || above == Verdict::differs ||
            above == Verdict::passed || above == Verdict::clash) {
            c.verdicts[i] = Verdict::passed;
            continue;
        }
        if (meets_long_name(c, walk.entry_path())) {
            c.verdicts[i] = Verdict::clash;
            if (j != kNone)
                c.side.met[j] = Met::refused_at;
            continue;
        }
        // What the folder holds there could not be read (a file not to be opened, a
        // folder not to be listed), and the failure is told: nothing more of it is.
        if ((j == kNone || c.table[i].record.size == 0) && !c.side.unread.empty() &&
            c.side.unread.count(compared_path(walk.entry_path(), c.archive.rules))) {
            c.verdicts[i] = Verdict::passed;
            if (j != kNone)
                c.side.met[j] = Met::other_kind;
            continue;
        }
        if (j == kNone) {
            c.verdicts[i] = Verdict::only_archive;
            continue;
        }
        c.side.met[j] = Met::met;
        const std::int64_t size = c.table[i].record.size;
        const std::int64_t their_size = theirs[j].record.size;
        // The folder's side knows its kinds (an empty file is no folder); the archive's
        // entry of size 0 is written as a folder.
        const bool their_folder = (c.side.scan.kinds[j] & Scan::kFolder) != 0;
        if ((size == 0) != their_folder) {
            c.verdicts[i] = Verdict::differs; // a file and a folder
            c.side.met[j] = Met::other_kind;
        } else if (size != their_size) {
            c.verdicts[i] = Verdict::differs;
        } else if (size > 0) {
            c.to_read[j] = i;
        }
    }
}

// A file of the folder that could not be opened or read: told as the folder's failure.
void unread(Comparison& c, std::size_t i, int system_error) {
    c.verdicts[i] = Verdict::unread;
    c.unread_errors[i] = system_error != 0 ? system_error : -1;
}

// Reads the files of one size on both sides side by side, along a walk through the
// folder's tree (each folder held open and known by its identity, as creation reads):
// each file opened here, compared on `threads` threads, at most a window of them open
// at once. QUODREL_OK, or the failure to open the folder again, told.
quodrel_error read_side_by_side(Comparison& c, unsigned threads) {
    auto root_folder = std::make_shared<transfer::OpenFolder>();
    if (!platform::open_folder(c.root, root_folder->folder) ||
        !(platform::file_id(root_folder->folder.handle) == c.side.scan.open_folders.front())) {
        c.events.failed(QUODREL_ERROR_OPEN, platform::last_error(), c.folder);
        return c.events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_OPEN;
    }
    const unsigned workers_wanted = c.lean ? 1u : std::max(1u, threads);
    const std::size_t window = 4 * static_cast<std::size_t>(workers_wanted);
    struct Pending {
        int file = -1;
        std::size_t entry = kNone;
    };
    std::vector<Pending> pending(window);
    std::vector<Window> ours(workers_wanted + 1);
    std::vector<std::vector<char>> buffers(workers_wanted + 1);
    transfer::Workers workers(workers_wanted, window, [&](std::size_t job, int slot) {
        const Pending& p = pending[job % window];
        const std::size_t i = p.entry;
        Window& our = ours[static_cast<std::size_t>(slot)];
        std::vector<char>& their = buffers[static_cast<std::size_t>(slot)];
        if (their.empty())
            their.resize(kBlock + 1);
        bool unread = false;
        int system_error = 0;
        const std::uint64_t start = static_cast<std::uint64_t>(c.archive.header.data_offset) +
                                    static_cast<std::uint64_t>(c.table[i].record.offset);
        const bool same = same_bytes(*c.archive.bytes, start, p.file,
                                     static_cast<std::uint64_t>(c.table[i].record.size), our, their,
                                     unread, system_error);
        platform::close_file(p.file);
        c.verdicts[i] = unread ? Verdict::unread : same ? Verdict::same : Verdict::differs;
        c.unread_errors[i] = system_error;
        c.archive_unread[i] = unread && system_error == 0;
    });
    const auto nothing_to_report = [](std::size_t) { return true; };
    const EntryTable& theirs = c.side.scan.table;
    transfer::HeldFolders held(std::move(root_folder), c.lean);
    TreeWalker walk;
    std::size_t folders = 0;
    std::vector<std::uint8_t> unopened(theirs.size(), 0);
    for (std::size_t j = 0; j < theirs.size() && !c.events.cancelled(); ++j) {
        walk.next(static_cast<std::int32_t>(j), theirs[j].record, theirs.name(j));
        const std::int32_t parent = walk.parent();
        const bool is_folder = (c.side.scan.kinds[j] & Scan::kFolder) != 0;
        const bool link = (c.side.scan.kinds[j] & Scan::kLink) != 0;
        const platform::FileId expected =
            is_folder ? c.side.scan.folder_ids[folders++] : platform::FileId{};
        if (parent >= 0 && unopened[static_cast<std::size_t>(parent)]) {
            unopened[j] = 1;
            if (c.to_read[j] != kNone)
                unread(c, c.to_read[j], -1);
            continue;
        }
        held.leave_to(parent);
        if (is_folder) {
            if (theirs[j].record.child_count > 0 &&
                !held.open_and_enter(static_cast<std::int32_t>(j), std::string(theirs.name(j)),
                                     link, expected))
                unopened[j] = 1;
            continue;
        }
        const std::size_t i = c.to_read[j];
        if (i == kNone)
            continue;
        transfer::FolderRef in = held.innermost();
        const int file =
            in ? platform::open_source_in(in->folder, std::string(theirs.name(j)), link) : -1;
        if (file < 0) {
            unread(c, i, platform::last_error());
            continue;
        }
        const std::size_t job = workers.make_room(nothing_to_report);
        pending[job % window] = Pending{file, i};
        workers.give(j, j + 1);
    }
    workers.report_until(theirs.size(), true, nothing_to_report);
    return QUODREL_OK;
}

// Tells the archive's entries in its order; the counts of what both hold. False once
// the caller has cancelled.
bool tell_archives(Comparison& c, std::int64_t& files, std::int64_t& both_folders,
                   std::int64_t& differences) {
    Events& events = c.events;
    TreeWalker walk;
    for (std::size_t i = 0; i < c.table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), c.table[i].record, c.table.name(i));
        const std::int64_t size = c.table[i].record.size;
        const std::string_view path = walk.entry_path();
        const Step& step = c.plan.steps[i];
        bool going = true;
        switch (c.verdicts[i]) {
        case Verdict::passed: break;
        case Verdict::refused:
            events.set_folder(std::string()); // an entry of the archive, as -t names it
            going = events.refused(
                i, path, step.action == Action::refuse ? step.refusal() : QUODREL_REFUSED_INSIDE,
                size);
            events.set_folder(c.folder);
            break;
        case Verdict::clash:
            going = events.refused(i, path, QUODREL_REFUSED_NAME_CLASH, size);
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
            if (c.archive_unread[i]) { // the archive's bytes: named as the archive names them
                events.set_folder(std::string());
                going = events.failed_entry(QUODREL_ERROR_READ, 0, i, path, size);
                events.set_folder(c.folder);
            } else { // the folder's file
                going = events.failed_entry(QUODREL_ERROR_OPEN, c.unread_errors[i], i, path, size);
            }
            break;
        case Verdict::same: (size == 0 ? both_folders : files) += 1; break;
        }
        if (!going)
            return false;
    }
    return true;
}

// Tells what only the folder has, in the order creation would store it (a folder once,
// for all inside it). False once the caller has cancelled.
bool tell_folders_own(Comparison& c, std::int64_t& differences) {
    const EntryTable& theirs = c.side.scan.table;
    TreeWalker walk;
    std::vector<std::uint8_t> told_whole(theirs.size(), 0); // nothing inside to tell
    for (std::size_t j = 0; j < theirs.size(); ++j) {
        walk.next(static_cast<std::int32_t>(j), theirs[j].record, theirs.name(j));
        const std::int32_t parent = walk.parent();
        told_whole[j] = 1;
        if (parent >= 0 && told_whole[static_cast<std::size_t>(parent)])
            continue; // told with the folder it lies in, or never to be told
        if (c.side.met[j] == Met::met) {
            told_whole[j] = 0; // what lies inside is looked at one by one
            continue;
        }
        if (c.side.met[j] != Met::not_met)
            continue;
        // A folder the walk could not list is told by its failure alone, as a file not
        // to be read is.
        if (!c.side.unread.empty() &&
            c.side.unread.count(compared_path(walk.entry_path(), c.archive.rules)))
            continue;
        ++differences;
        if (!c.events.difference(QUODREL_ONLY_IN_FOLDER, QUODREL_NO_INDEX, walk.entry_path(),
                                 theirs[j].record.size))
            return false;
    }
    return true;
}

} // namespace

quodrel_error compare_archive(const OpenArchive& archive, const std::string& folder,
                              unsigned threads, Events& events) {
    const EntryTable& table = archive.table;
    if (platform::descriptors_left() < 3) {
        events.failed(QUODREL_ERROR_DESCRIPTORS, 0, folder);
        return QUODREL_ERROR_DESCRIPTORS;
    }
    std::int64_t total = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        total += table[i].record.size > 0 ? table[i].record.size : 0;
    if (!events.begin(archive.name, archive.header.entry_count, total, archive.header.data_offset))
        return QUODREL_ERROR_CANCELLED;
    Comparison c(archive, folder, events);
    quodrel_error error = walk_folder(c);
    if (error != QUODREL_OK)
        return error;
    match(c);
    error = read_side_by_side(c, threads);
    if (error != QUODREL_OK)
        return error;
    std::int64_t files = 0, both_folders = 0, differences = 0;
    if (!tell_archives(c, files, both_folders, differences) || !tell_folders_own(c, differences))
        return QUODREL_ERROR_CANCELLED;
    events.end(files, both_folders, 0, differences); // (a cancel there comes once all is told)
    if (events.incomplete())
        return QUODREL_ERROR_INCOMPLETE;
    return differences > 0 ? QUODREL_ERROR_DIFFERENT : QUODREL_OK;
}

} // namespace quodrel
