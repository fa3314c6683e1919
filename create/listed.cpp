// The caller's list made into folders of items, walked by the rules every creation
// follows (reading/scan.h) into the same table a walk of the same tree on disk gives,
// and the archive handed by the one writer to the caller's writer from its first byte
// to its last: the header and table, then every file's bytes in table order, read
// through the caller's reader. Nothing is sought back, so nothing can be written again:
// a file that fails ends the call.
#include "create/listed.h"

#include "archive/format.h"
#include "reading/scan.h"
#include "writer/sink.h"
#include "writer/writer.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quodrel {
namespace {

// One item of the caller's tree: an entry of the list, or a folder a path lies in.
struct Item {
    std::string name;
    bool folder = false;
    const quodrel_listed_entry* listed = nullptr; // none for a folder only a path implies
    std::vector<std::size_t> children;
};

// The caller's tree: items[0] is the root; items are found by their path below it.
struct Tree {
    std::vector<Item> items = std::vector<Item>(1, Item{"", true, nullptr, {}});
    std::unordered_map<std::string, std::size_t> by_path;
};

// Whether a part of a path the caller gave names something below its folder.
bool is_a_name(std::string_view part) { return !part.empty() && part != "." && part != ".."; }

std::size_t add_item(Tree& tree, std::size_t parent, const std::string& path, std::string_view name,
                     bool folder, const quodrel_listed_entry* listed) {
    const std::size_t at = tree.items.size();
    tree.items.push_back(Item{std::string(name), folder, listed, {}});
    tree.items[parent].children.push_back(at);
    tree.by_path.emplace(path, at);
    return at;
}

void refuse(Scan& scan, quodrel_refusal refusal, const char* path) {
    scan.problems.push_back({QUODREL_ERROR_REFUSED, refusal, 0, path, false});
}

// Places one listed entry in the tree, with the folders its path lies in; a path that
// names nothing, or that meets an entry placed before it, is refused and left out.
void place(Tree& tree, const quodrel_listed_entry& entry, Scan& scan) {
    const std::string_view path(entry.path);
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(
            path.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    if (!std::all_of(parts.begin(), parts.end(), is_a_name)) {
        refuse(scan, QUODREL_REFUSED_UNSAFE_NAME, entry.path);
        return;
    }
    std::size_t parent = 0;
    std::string below;
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
        below.append(parts[k]);
        const auto found = tree.by_path.find(below);
        if (below.size() > kMaxPathLength) {
            // The walk stops at this folder, whose path is too long for the format
            // (the creation fails, as -c does): nothing below it is needed, and a long
            // path's every prefix kept would cost memory as its square.
            if (found == tree.by_path.end())
                add_item(tree, parent, below, parts[k], true, nullptr);
            return;
        }
        if (found == tree.by_path.end()) {
            parent = add_item(tree, parent, below, parts[k], true, nullptr);
        } else if (!tree.items[found->second].folder) {
            refuse(scan, QUODREL_REFUSED_NAME_CLASH, entry.path); // a file stands there
            return;
        } else {
            parent = found->second;
        }
        below.push_back('/');
    }
    below.append(parts.back());
    const auto found = tree.by_path.find(below);
    if (found == tree.by_path.end()) {
        add_item(tree, parent, below, parts.back(), entry.is_folder != 0, &entry);
        return;
    }
    Item& there = tree.items[found->second];
    if (there.folder && entry.is_folder && !there.listed)
        there.listed = &entry; // a folder a path before implied, listed now
    else
        refuse(scan, QUODREL_REFUSED_NAME_CLASH, entry.path);
}

// Adds the items of folder `folder`, whose path below the root is `below_root` (with a
// closing "/" unless it is the root's ""), as a walk of the tree on disk would, and
// returns how many lie directly inside it. `listed` gets each entry's listing.
std::int32_t add_folder(Scan& scan, const Tree& tree, std::size_t folder,
                        const std::string& below_root,
                        std::vector<const quodrel_listed_entry*>& listed) {
    std::vector<std::size_t> order = tree.items[folder].children;
    std::sort(order.begin(), order.end(), [&tree](std::size_t a, std::size_t b) {
        return listing_order_less(tree.items[a].name, tree.items[b].name);
    });
    std::int32_t count = 0;
    for (const std::size_t at : order) {
        const Item& item = tree.items[at];
        const std::uint64_t size = item.folder ? 0 : item.listed->size;
        if (!admits(scan, below_root, item.name, size))
            continue;
        ++count;
        const std::size_t i = add_entry(scan, item.name, item.folder, size, false);
        listed.push_back(item.listed);
        if (item.folder)
            scan.table[i].record.child_count =
                add_folder(scan, tree, at, below_root + item.name + "/", listed);
    }
    return count;
}

} // namespace

quodrel_error create_listed(const quodrel_listed_entry* entries, std::size_t count,
                            quodrel_read_at read_at, quodrel_write write, void* write_context,
                            const std::string& name, Events& events) {
    Scan scan;
    Tree tree;
    for (std::size_t k = 0; k < count; ++k)
        place(tree, entries[k], scan);
    std::vector<const quodrel_listed_entry*> listed;
    add_folder(scan, tree, 0, "", listed);
    tree = Tree();
    std::int64_t data_offset = 0;
    const quodrel_error refused = begin_writing(scan, events, "", name, data_offset);
    if (refused != QUODREL_OK)
        return refused;

    Sources sources;
    sources.read_at = read_at;
    sources.contexts.reserve(listed.size());
    for (const quodrel_listed_entry* entry : listed)
        sources.contexts.push_back(entry && !entry->is_folder ? entry->context : nullptr);
    WriterSink sink(write, write_context);
    Written written(scan.table.size());
    if (write_archive(scan, static_cast<std::int32_t>(data_offset), sources, sink, 1, false, name,
                      events, written) != QUODREL_OK)
        return written.error;
    // Every byte is with the writer: a cancel from here on comes too late to change that.
    tell_written(written, scan.table.size(), events);
    return events.incomplete() ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
}

} // namespace quodrel
