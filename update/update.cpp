// The update's policy around the one writer: only a sound archive is updated, and
// nothing it holds is taken away by what the folder cannot give; the archive read is
// the archive replaced.
#include "update/update.h"

#include "archive/tree.h"
#include "reading/plan.h"
#include "writer/replace.h"
#include "writer/sink.h"
#include "writer/writer.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quodrel {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// One side's tree: each folder's entries (the root's at -1), in table order, and each
// entry's folder.
struct Tree {
    std::vector<std::vector<std::size_t>> children; // by entry, plus the root last
    std::vector<std::int32_t> parents;
    std::vector<std::size_t>& of(std::int32_t folder) {
        return children[folder < 0 ? children.size() - 1 : static_cast<std::size_t>(folder)];
    }
    // Entry `i`'s path below the root, as a user names it.
    std::string path(const EntryTable& table, std::size_t i) const {
        std::string path(table.name(i));
        for (std::int32_t up = parents[i]; up >= 0; up = parents[static_cast<std::size_t>(up)])
            path = std::string(table.name(static_cast<std::size_t>(up))) + "/" + path;
        return path;
    }
};

Tree tree_of(const EntryTable& table) {
    Tree tree;
    tree.children.resize(table.size() + 1);
    tree.parents.resize(table.size());
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
        tree.parents[i] = walk.parent();
        tree.of(walk.parent()).push_back(i);
    }
    return tree;
}

class Merger {
public:
    Merger(const OpenArchive& archive, const Scan& folder, Scan& merged,
           std::vector<std::uint64_t>& in_archive)
        : archive_(archive), folder_(folder), merged_(merged), in_archive_(in_archive),
          ours_(tree_of(archive.table)), theirs_(tree_of(folder.table)) {
        // The folder's own folders, in its table order, for their identities.
        std::size_t k = 0;
        folder_index_.assign(folder.table.size(), 0);
        for (std::size_t j = 0; j < folder.table.size(); ++j)
            if (folder.kinds[j] & Scan::kFolder)
                folder_index_[j] = k++;
    }

    void run() {
        merged_.problems = folder_.problems;
        merged_.open_folders = folder_.open_folders;
        merged_.skip = folder_.skip;
        merge(-1, -1);
        // Every file's place in the new archive's data, in table order.
        std::int64_t offset = 0;
        for (std::size_t m = 0; m < merged_.table.size(); ++m) {
            EntryRecord& record = merged_.table[m].record;
            // (An empty file of the folder has the next place, as creation gives it; a
            // folder, and an empty entry the archive keeps, which is a folder, none.)
            const bool empty_file = record.size == 0 && !(merged_.kinds[m] & Scan::kFolder) &&
                                    in_archive_[m] == Sources::kFromTree;
            if (record.size == 0 && !empty_file)
                continue;
            record.offset = offset <= kMaxArchiveSize ? static_cast<std::int32_t>(offset) : 0;
            offset += record.size;
        }
        merged_.data_size = offset;
    }

private:
    // The name the system compares.
    std::string compared(std::string_view name) const {
        return compared_path(name, archive_.rules);
    }

    // Appends one entry, of the folder's `kind`, or the archive's with its bytes at
    // `data`; its index.
    std::size_t add(const EntryRecord& record, std::string_view name, std::uint8_t kind,
                    std::uint64_t data) {
        // Only the size is the entry's own: the rest is laid out anew, as creation lays
        // out a table.
        EntryRecord copy;
        copy.size = record.size;
        merged_.table.add(copy, name);
        merged_.kinds.push_back(kind);
        in_archive_.push_back(data);
        return merged_.table.size() - 1;
    }

    // Entry `i` of the archive with all inside it, as the archive holds it.
    void keep_ours(std::size_t i) {
        const EntryRecord& record = archive_.table[i].record;
        const std::uint64_t data = static_cast<std::uint64_t>(archive_.header.data_offset) +
                                   static_cast<std::uint64_t>(record.offset);
        const std::size_t m = add(record, archive_.table.name(i), 0, record.size > 0 ? data : 0);
        std::int32_t count = 0;
        for (const std::size_t child : ours_.of(static_cast<std::int32_t>(i))) {
            keep_ours(child);
            ++count;
        }
        merged_.table[m].record.child_count = count;
    }

    // Entry `j` of the folder with all inside it, under the name `name`.
    void take_theirs(std::size_t j, std::string_view name) {
        const std::uint8_t kind = folder_.kinds[j];
        const std::size_t m = add(folder_.table[j].record, name, kind, Sources::kFromTree);
        if (kind & Scan::kFolder)
            merged_.folder_ids.push_back(folder_.folder_ids[folder_index_[j]]);
        std::int32_t count = 0;
        for (const std::size_t child : theirs_.of(static_cast<std::int32_t>(j))) {
            take_theirs(child, folder_.table.name(child));
            ++count;
        }
        merged_.table[m].record.child_count = count;
    }

    // The entries of archive folder `a` and tree folder `t` (-1 for the roots), merged
    // in the order creation lists a folder; how many there are. Entries meet by name,
    // as the system compares names, whatever order the archive keeps them in.
    std::int32_t merge(std::int32_t a, std::int32_t t) {
        struct Item {
            std::string_view name; // the archive's spelling where it has the entry
            std::size_t ours, theirs;
        };
        std::vector<Item> items;
        std::unordered_map<std::string, std::size_t> by_name;
        for (const std::size_t i : ours_.of(a)) {
            by_name.emplace(compared(archive_.table.name(i)), items.size());
            items.push_back({archive_.table.name(i), i, kNone});
        }
        for (const std::size_t j : theirs_.of(t)) {
            const auto met = by_name.find(compared(folder_.table.name(j)));
            if (met != by_name.end() && items[met->second].theirs == kNone)
                items[met->second].theirs = j;
            else
                items.push_back({folder_.table.name(j), kNone, j});
        }
        std::stable_sort(items.begin(), items.end(), [](const Item& x, const Item& y) {
            return listing_order_less(x.name, y.name);
        });
        for (const Item& item : items) {
            if (item.theirs == kNone)
                keep_ours(item.ours);
            else if (item.ours == kNone)
                take_theirs(item.theirs, item.name);
            else
                pair(item.ours, item.theirs);
        }
        return static_cast<std::int32_t>(items.size());
    }

    // An entry both sides have at one path.
    void pair(std::size_t i, std::size_t j) {
        const EntryRecord& our = archive_.table[i].record;
        const EntryRecord& their = folder_.table[j].record;
        const bool our_folder = our.size == 0;
        const bool their_folder = (folder_.kinds[j] & Scan::kFolder) != 0;
        // An empty entry may be an empty file as well as an empty folder (the format
        // stores both alike): a file of the folder takes its place, as a file would
        // replace a file.
        const bool our_empty = our_folder && ours_.of(static_cast<std::int32_t>(i)).empty();
        if (our_empty && !their_folder) {
            add(their, archive_.table.name(i), folder_.kinds[j], Sources::kFromTree);
            return;
        }
        if (our_folder != their_folder) {
            // A file of the folder where the archive has a folder, or the reverse: the
            // archive's entry stays, and the clash is named.
            merged_.problems.push_back({QUODREL_ERROR_REFUSED, QUODREL_REFUSED_NAME_CLASH, 0,
                                        theirs_.path(folder_.table, j), false});
            keep_ours(i);
            return;
        }
        const std::string_view name = archive_.table.name(i); // the archive's spelling
        if (!their_folder) {
            add(their, name, folder_.kinds[j], Sources::kFromTree);
            return;
        }
        const std::size_t m = add(their, name, folder_.kinds[j], Sources::kFromTree);
        merged_.folder_ids.push_back(folder_.folder_ids[folder_index_[j]]);
        merged_.table[m].record.child_count =
            merge(static_cast<std::int32_t>(i), static_cast<std::int32_t>(j));
    }

    const OpenArchive& archive_;
    const Scan& folder_;
    Scan& merged_;
    std::vector<std::uint64_t>& in_archive_;
    Tree ours_, theirs_;
    std::vector<std::size_t> folder_index_;
};

// Whether the archive is sound: no damage, and every entry written by extraction.
// Else what is wrong is told.
bool is_sound(const OpenArchive& archive, quodrel_error damage, const std::string& archive_path,
              Events& events) {
    if (damage != QUODREL_OK) {
        events.failed(damage, 0, archive_path);
        return false;
    }
    bool sound = true;
    TreeWalker walk;
    for (std::size_t i = 0; i < archive.table.size() && !events.cancelled(); ++i) {
        walk.next(static_cast<std::int32_t>(i), archive.table[i].record, archive.table.name(i));
        const Step& step = archive.plan.steps[i];
        if (step.action == Action::refuse) {
            sound = false;
            events.refused(i, walk.entry_path(), step.refusal(), archive.table[i].record.size);
        }
    }
    return sound;
}

// The locked archive, read anew: what stood at the path when the lock was taken.
std::unique_ptr<ArchiveBytes> locked_archive(const Replacement& replacement) {
    const int file = replacement.read_standing();
    return file < 0 ? nullptr : archive_of_file(file);
}

// Whether the merged table holds two spellings of one name that extraction would
// refuse as a name clash under this system's rules (on Windows, a name of a short
// alias's shape after a long name it may stand for, one from each side): each is told,
// as the folder's path it would land on. The archive made would be one -t refuses.
bool tells_clashes(const Scan& merged, const PlanRules& archive_rules, Events& events) {
    if (!archive_rules.windows_rules)
        return false; // (elsewhere names meet byte for byte, and merging met them)
    PlanRules rules = archive_rules;
    rules.archive_size = ~std::uint64_t{0}; // the data is not there yet: names only
    rules.data_offset = 0;
    const ExtractionPlan plan = plan_extraction(merged.table, rules);
    bool clash = false;
    TreeWalker walk;
    for (std::size_t i = 0; i < merged.table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), merged.table[i].record, merged.table.name(i));
        const Step& step = plan.steps[i];
        if (step.action != Action::refuse || step.refusal() != QUODREL_REFUSED_NAME_CLASH)
            continue;
        clash = true;
        events.refused(QUODREL_NO_INDEX, walk.entry_path(), QUODREL_REFUSED_NAME_CLASH, 0);
    }
    return clash;
}

// Refuses the update, told: nothing is put in place.
quodrel_error not_updated(const std::string& archive_path, Events& events) {
    events.failed(QUODREL_ERROR_NOT_UPDATED, 0, archive_path);
    return events.cancelled() ? QUODREL_ERROR_CANCELLED : QUODREL_ERROR_NOT_UPDATED;
}

} // namespace

void merge_over(const OpenArchive& archive, const Scan& folder, Scan& merged,
                std::vector<std::uint64_t>& in_archive) {
    Merger(archive, folder, merged, in_archive).run();
}

quodrel_error update_archive(const std::string& archive_path, const std::string& folder,
                             const transfer::Crew& crew, Events& events) {
    // The archive read and the one locked (opened again where the path moved on), and
    // the archive written, a folder and a file: with fewer, nothing is tried.
    if (platform::descriptors_left() < kUpdateDescriptors) {
        events.failed(QUODREL_ERROR_DESCRIPTORS, 0, archive_path);
        return QUODREL_ERROR_DESCRIPTORS;
    }
    int system_error = 0;
    OpenArchive archive;
    archive.bytes = archive_file(archive_path, system_error);
    if (!archive.bytes) {
        events.failed(QUODREL_ERROR_OPEN, system_error, archive_path);
        return QUODREL_ERROR_OPEN;
    }
    archive.name = archive_path;
    // Its place is claimed before anything is read: a second run that would replace it is
    // turned away. The archive read is the one locked, the one the commit replaces.
    Replacement replacement(archive_path, crew.watch);
    const quodrel_error claimed = replacement.claim(events, false);
    if (claimed != QUODREL_OK)
        return claimed;
    if (!(replacement.standing() == archive.bytes->id())) {
        archive.bytes = locked_archive(replacement);
        if (!archive.bytes) {
            events.failed(QUODREL_ERROR_OPEN, platform::last_error(), archive_path);
            return QUODREL_ERROR_OPEN;
        }
    }
    // What the archive is now: the update is put in place only if it still is.
    const platform::FileStamp stamp = platform::file_stamp(archive.bytes->file());
    // Only a sound archive is updated: what it would become is not what anyone packed.
    if (!is_sound(archive, read_archive(archive, true), archive_path, events))
        return not_updated(archive_path, events);
    bool lean = false; // (the old archive is one descriptor more, open all along)
    if (!enough_descriptors(archive_path, 0, events, lean))
        return QUODREL_ERROR_DESCRIPTORS;
    Sources sources;
    sources.tree_root = platform::system_path(folder);
    sources.tree_name = folder;
    Scan tree;
    scan_tree(tree, sources.tree_root, platform::system_path(archive_path), lean);
    if (!tree.problems.empty() && tree.problems.front().refuses_archive &&
        tree.problems.front().below_root.empty()) {
        events.failed(QUODREL_ERROR_OPEN, tree.problems.front().system_error, folder);
        return QUODREL_ERROR_OPEN; // the folder cannot be listed: nothing to lay over
    }
    Scan merged;
    merge_over(archive, tree, merged, sources.in_archive);
    tree = Scan();
    sources.archive = archive.bytes.get();
    std::int64_t data_offset = 0;
    const quodrel_error refused = begin_writing(merged, events, folder, archive_path, data_offset);
    if (refused != QUODREL_OK)
        return refused;
    // An archive that -t would refuse is never written.
    if (tells_clashes(merged, archive.rules, events))
        return not_updated(archive_path, events);

    if (!replacement.begin(events))
        return QUODREL_ERROR_CREATE;
    if (lean)
        platform::let_go_of_folder(replacement.place()); // a descriptor more for the tree
    Written written(merged.table.size());
    {
        FileSink sink(replacement.file());
        write_archive(merged, static_cast<std::int32_t>(data_offset), sources, sink,
                      writing_threads(crew, lean, sources), lean, archive_path, events, written);
    }
    if (written.error != QUODREL_OK)
        return written.error;
    // An update never leaves out what could not be read (the folder's file may stand
    // for the archive's, a folder for all the archive holds in it): the archive stays
    // as it was, and the lines above say why.
    if (written.left_out)
        return not_updated(archive_path, events);
    // Every byte of the old archive is copied: if it was written over meanwhile (its
    // stamp moved), what was copied may mix two archives, and nothing is put in place.
    if (!platform::same_bytes_as(stamp, platform::file_stamp(archive.bytes->file()))) {
        events.failed(QUODREL_ERROR_CHANGED, 0, archive_path);
        return not_updated(archive_path, events);
    }
    sources.archive = nullptr;
    archive.bytes.reset(); // let go of it before it is replaced
    const quodrel_error placed = replacement.commit(events);
    if (placed != QUODREL_OK)
        return placed;
    // The archive is in place: a cancel from here on comes too late to change that.
    tell_written(written, merged.table.size(), events);
    return events.incomplete() ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
}

} // namespace quodrel
