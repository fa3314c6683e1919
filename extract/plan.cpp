#include "extract/plan.h"

#include "archive/format.h"
#include "archive/tree.h"

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

} // namespace

ExtractionPlan plan_extraction(const EntryTable& table, const PlanRules& rules) {
    ExtractionPlan plan;
    plan.steps.resize(table.size());
    plan.parents.assign(table.size(), -1);
    TreeWalker walk;
    // The names written so far in each open folder, as the file system compares them:
    // those of a folder the walk has left are forgotten with it, those of the folders
    // around it stay.
    std::vector<std::pair<std::int32_t, std::unordered_set<std::string>>> written{{-1, {}}};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const EntryRecord& record = table[i].record;
        const std::string_view name = table.name(i);
        if (!walk.next(static_cast<std::int32_t>(i), record, name))
            break; // too deep: the reader refuses such a table, and all is left inside
        Step& step = plan.steps[i];
        const std::int32_t parent = walk.parent();
        plan.parents[i] = parent;
        if (parent >= 0 && !is_written(plan.steps[static_cast<std::size_t>(parent)].action))
            continue; // inside a refused folder
        const bool folder = record.size == 0;
        // An overlong name may be anything: its length is told first. A path's length
        // only counts once its name is known to be safe.
        quodrel_refusal refusal = QUODREL_WRITTEN;
        if (name.size() > kMaxNameLength)
            refusal = QUODREL_REFUSED_NAME_TOO_LONG;
        else if (!is_safe_name(name, rules.windows_rules))
            refusal = QUODREL_REFUSED_UNSAFE_NAME;
        else
            refusal = refusal_of(check_entry(name, walk.path_length(), 0));
        if (refusal == QUODREL_WRITTEN && !folder)
            refusal = check_data(record, rules);
        if (refusal == QUODREL_WRITTEN) {
            // The same name twice in one folder: the first is written, the second would
            // land on it.
            while (written.size() > 1 && written.back().first != parent)
                written.pop_back();
            const std::string key = rules.fold ? rules.fold(std::string(name)) : std::string(name);
            if (!written.back().second.insert(key).second)
                refusal = QUODREL_REFUSED_NAME_CLASH;
            else if (folder)
                written.push_back({static_cast<std::int32_t>(i), {}});
        }
        if (refusal != QUODREL_WRITTEN)
            step.refuse(refusal);
        else
            step.action = folder ? Action::make_folder : Action::write_file;
    }
    return plan;
}

} // namespace quodrel
