#include "extract/plan.h"

#include "archive/format.h"
#include "archive/tree.h"

#include <string>
#include <unordered_set>
#include <utility>

namespace quodrel {
namespace {

// Whether a file's data lies within the archive.
Fault check_data(const EntryRecord& record, const PlanRules& rules) {
    const std::int64_t start = std::int64_t{rules.data_offset} + record.offset;
    if (start < 0 || record.size < 0)
        return Fault::data_out_of_range;
    if (static_cast<std::uint64_t>(start) + static_cast<std::uint64_t>(record.size) >
        rules.archive_size)
        return Fault::data_cut_short;
    return Fault::none;
}

} // namespace

ExtractionPlan plan_extraction(const EntryTable& table, const PlanRules& rules) {
    ExtractionPlan plan;
    plan.steps.resize(table.size());
    TreeWalker walk;
    // The names written so far in each open folder, as the file system compares them.
    std::vector<std::pair<std::int32_t, std::unordered_set<std::string>>> written{{-1, {}}};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const EntryRecord& record = table[i].record;
        const std::string_view name = table.name(i);
        if (!walk.next(static_cast<std::int32_t>(i), record, name))
            break; // too deep: the reader refuses such a table, and all is left a skip
        Step& step = plan.steps[i];
        const std::int32_t parent = walk.parent();
        if (parent >= 0) {
            const Action above = plan.steps[static_cast<std::size_t>(parent)].action;
            if (above == Action::refuse || above == Action::skip)
                continue; // a skip
        }
        const bool directory = record.size == 0;
        // An overlong name may be anything: its length is told first. A path's length
        // only counts once its name is known to be safe.
        Fault fault = Fault::none;
        if (name.size() > kMaxNameLength)
            fault = Fault::name_too_long;
        else if (!is_safe_name(name, rules.windows_rules))
            fault = Fault::unsafe_name;
        else
            fault = fault_of(check_entry(name, walk.path_length(), 0));
        if (fault == Fault::none && !directory)
            fault = check_data(record, rules);
        if (fault == Fault::none) {
            // The same name twice in one folder: the first is written, the second would
            // land on it.
            while (written.size() > 1 && written.back().first != parent)
                written.pop_back();
            const std::string key = rules.fold ? rules.fold(std::string(name)) : std::string(name);
            if (!written.back().second.insert(key).second)
                fault = Fault::name_clash;
            else if (directory)
                written.push_back({static_cast<std::int32_t>(i), {}});
        }
        step.fault = fault;
        step.action = fault != Fault::none ? Action::refuse
                      : directory          ? Action::make_directory
                                           : Action::write_file;
    }
    return plan;
}

} // namespace quodrel
