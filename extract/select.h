// Which entries of an archive a list of paths chooses, as the user writes them:
// below the root, "/"-separated, "#" for ":", compared as this system compares names.
// Pure, so that the rules are tested on their own.
#pragma once

#include "archive/table.h"
#include "reading/plan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

enum class Chosen : std::uint8_t {
    no,
    yes,   // named, or inside a named folder
    above, // a folder above a chosen entry: made, nothing more
};

struct Selection {
    std::vector<Chosen> entries;        // one per entry
    std::vector<std::string> unmatched; // the paths that chose nothing, in the order given
};

// Whether `name` matches `pattern`, one part of a path: "*" matches any run of
// characters, "?" any one.
bool part_matches(std::string_view pattern, std::string_view name);

// Chooses the entries the paths name. A path equal to an entry's path chooses it
// (and, for a folder, everything inside) before patterns are tried, so that a name
// holding "*" or "?" can always be named; otherwise each part of the path is matched
// as a pattern against the part of an entry's path at the same depth. Paths are
// compared as `rules` compare them (compared_path).
Selection select_entries(const EntryTable& table, const std::vector<std::string>& paths,
                         const PlanRules& rules);

} // namespace quodrel
