#include "reading/plan.h"

#include "archive/format.h"
#include "archive/tree.h"

#include <set>
#include <string>
#include <unordered_set>
#include <utility>

namespace quodrel {
namespace {

// Whether a file's data lies within the archive.
quodrel_refusal check_data(const EntryRecord& record, const PlanRules& rules) {
    const std::int64_t start = std::int64_t{rules.data_offset} + record.offset;
    if (start < 0 || record.size < 0)
        return QUODREL_REFUSED_DATA_OUT_OF_RANGE;
    if (static_cast<std::uint64_t>(start) + static_cast<std::uint64_t>(record.size) >
        rules.archive_size)
        return QUODREL_REFUSED_DATA_CUT_SHORT;
    return QUODREL_WRITTEN;
}

// The UTF-16 units a UTF-8 name takes: one per character, two beyond the first plane.
std::size_t utf16_units(std::string_view name) {
    std::size_t units = 0;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xc0) != 0x80;
        units += byte >= 0xf0;
    }
    return units;
}

// The names written so far in one open folder.
struct WrittenNames {
    std::int32_t folder;
    std::unordered_set<std::string> names; // as the file system compares them
    std::set<std::string> long_keys;       // the short-name keys of the long names among them
};

// Whether a name is another spelling of one written before it in its folder: the same
// name as the file system compares them, or (under Windows' rules) a name of a short
// alias's shape after a long name it may stand for. Otherwise it is noted.
bool meets_written(WrittenNames& written, std::string_view name, const PlanRules& rules) {
    if (!written.names.insert(compared_path(name, rules)).second)
        return true;
    if (!rules.windows_rules)
        return false;
    const std::string alias = short_alias_key(name);
    if (!alias.empty()) {
        const auto next = written.long_keys.lower_bound(alias);
        if (next != written.long_keys.end() && next->compare(0, alias.size(), alias) == 0)
            return true;
    }
    for (std::string& key : long_name_keys(name))
        written.long_keys.insert(std::move(key));
    return false;
}

} // namespace

ExtractionPlan plan_extraction(const EntryTable& table, const PlanRules& rules) {
    ExtractionPlan plan;
    plan.steps.resize(table.size());
    plan.parents.assign(table.size(), -1);
    TreeWalker walk;
    // The names written so far in each open folder: those of a folder the walk has left
    // are forgotten with it, those of the folders around it stay.
    std::vector<WrittenNames> written(1);
    written.front().folder = -1;
    // Each entry's path below the root in the bytes the archive stores (a name read in
    // an older program's code page may take more or fewer): the format's limits are
    // on those, so that every system says the same of an archive.
    std::vector<std::uint32_t> stored_path(table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const EntryRecord& record = table[i].record;
        const std::string_view name = table.name(i);
        if (!walk.next(static_cast<std::int32_t>(i), record, name))
            break; // too deep: the reader refuses such a table, and all is left inside
        Step& step = plan.steps[i];
        const std::int32_t parent = walk.parent();
        plan.parents[i] = parent;
        const std::size_t stored = table[i].stored_size;
        stored_path[i] = static_cast<std::uint32_t>(
            (parent < 0 ? 1 : stored_path[static_cast<std::size_t>(parent)] + 1) + stored);
        if (parent >= 0 && !is_written(plan.steps[static_cast<std::size_t>(parent)].action))
            continue; // inside a refused folder
        const bool folder = record.size == 0;
        // An overlong name may be anything: its length is told first (and under
        // Windows' rules, the length Windows can hold). A path's length only counts
        // once its name is known to be safe.
        quodrel_refusal refusal = QUODREL_WRITTEN;
        if (stored > kMaxNameLength || (rules.windows_rules && utf16_units(name) > kMaxNameLength))
            refusal = QUODREL_REFUSED_NAME_TOO_LONG;
        else if (!is_safe_name(name, rules.windows_rules))
            refusal = QUODREL_REFUSED_UNSAFE_NAME;
        else if (stored_path[i] > kMaxPathLength)
            refusal = QUODREL_REFUSED_PATH_TOO_LONG;
        if (refusal == QUODREL_WRITTEN && !folder)
            refusal = check_data(record, rules);
        if (refusal == QUODREL_WRITTEN) {
            // The same name twice in one folder: the first is written, the second would
            // land on it.
            while (written.size() > 1 && written.back().folder != parent)
                written.pop_back();
            if (meets_written(written.back(), name, rules))
                refusal = QUODREL_REFUSED_NAME_CLASH;
            else if (folder)
                written.push_back({static_cast<std::int32_t>(i), {}, {}});
        }
        if (refusal != QUODREL_WRITTEN)
            step.refuse(refusal);
        else
            step.action = folder ? Action::make_folder : Action::write_file;
    }
    return plan;
}

} // namespace quodrel
