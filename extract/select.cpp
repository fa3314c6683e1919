#include "extract/select.h"

#include "archive/tree.h"

#include <string_view>

namespace quodrel {
namespace {

// Splits a path into its parts.
std::vector<std::string_view> parts_of(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

// A path as the user may write it, as compared: one trailing "/" (a folder as -l shows
// it) left off.
std::string plain(std::string_view path, const PlanRules& rules) {
    std::string compared = compared_path(path, rules);
    if (compared.size() > 1 && compared.back() == '/')
        compared.pop_back();
    return compared;
}

bool path_matches(const std::vector<std::string_view>& pattern, std::string_view path) {
    const std::vector<std::string_view> parts = parts_of(path);
    if (parts.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!part_matches(pattern[i], parts[i]))
            return false;
    return true;
}

// Calls `each(i, parent, path)` for every entry, its path without the leading "/"
// and without a folder's closing "/", as compared.
template <class Each> void walk_paths(const EntryTable& table, const PlanRules& rules, Each each) {
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
        each(i, walk.parent(), std::string_view(compared_path(walk.entry_path(), rules)));
    }
}

} // namespace

bool part_matches(std::string_view pattern, std::string_view name) {
    // Backtracking over the last "*" only: linear for the patterns people write.
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

Selection select_entries(const EntryTable& table, const std::vector<std::string>& paths,
                         const PlanRules& rules) {
    Selection selection;
    selection.entries.assign(table.size(), Chosen::no);
    std::vector<bool> named(table.size(), false);
    std::vector<bool> exact(paths.size(), false);
    std::vector<std::string> wanted;
    for (const std::string& path : paths)
        wanted.push_back(plain(path, rules));
    // Exact paths first: they name what they name, whatever characters they hold.
    walk_paths(table, rules, [&](std::size_t i, std::int32_t, std::string_view path) {
        for (std::size_t k = 0; k < paths.size(); ++k)
            if (wanted[k] == path) {
                exact[k] = true;
                named[i] = true;
            }
    });
    std::vector<std::vector<std::string_view>> patterns(paths.size());
    std::vector<bool> matched = exact;
    for (std::size_t k = 0; k < paths.size(); ++k)
        if (!exact[k])
            patterns[k] = parts_of(wanted[k]);
    std::vector<std::int32_t> parents(table.size(), -1);
    walk_paths(table, rules, [&](std::size_t i, std::int32_t parent, std::string_view path) {
        parents[i] = parent;
        for (std::size_t k = 0; k < paths.size(); ++k)
            if (!exact[k] && !patterns[k].empty() && path_matches(patterns[k], path)) {
                matched[k] = true;
                named[i] = true;
            }
        // Inside a chosen folder is chosen; entries come after their folder.
        const bool inside =
            parent >= 0 && selection.entries[static_cast<std::size_t>(parent)] == Chosen::yes;
        if (named[i] || inside)
            selection.entries[i] = Chosen::yes;
    });
    // The folders above what is chosen are made too.
    for (std::size_t i = table.size(); i-- > 0;) {
        if (selection.entries[i] == Chosen::no)
            continue;
        for (std::int32_t up = parents[i];
             up >= 0 && selection.entries[static_cast<std::size_t>(up)] == Chosen::no;
             up = parents[static_cast<std::size_t>(up)])
            selection.entries[static_cast<std::size_t>(up)] = Chosen::above;
    }
    for (std::size_t k = 0; k < paths.size(); ++k)
        if (!matched[k])
            selection.unmatched.push_back(paths[k]);
    return selection;
}

} // namespace quodrel
