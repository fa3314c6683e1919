// What extraction does with each entry, decided from the entry table alone, before
// anything is written: pure, so the unit tests and the fuzzer run the very rules the
// extractor follows.
#pragma once

#include "archive/table.h"
#include "events/events.h"
#include "reading/names.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quodrel {

enum class Action : std::uint8_t {
    make_folder,
    write_file, // its data lies in the archive: data_offset + offset, size bytes
    refuse,     // told with the step's refusal; a folder takes its contents along
                // (a name met before in its folder is refused as a name clash)
    inside,     // inside a refused folder: passed over, told only as being inside one
    leave,      // not chosen by an extraction of chosen entries: passed over, untold
};

struct Step {
    Action action = Action::inside;
    std::uint8_t why = QUODREL_WRITTEN; // the quodrel_refusal of a refused step
    quodrel_refusal refusal() const { return static_cast<quodrel_refusal>(why); }
    void refuse(quodrel_refusal refusal) {
        action = Action::refuse;
        why = static_cast<std::uint8_t>(refusal);
    }
};

struct ExtractionPlan {
    std::vector<Step> steps;           // one per entry, in table order
    std::vector<std::int32_t> parents; // each entry's folder (its index), -1 at the root
};

// The rules a plan is made by: this system's names, and where the data may lie.
struct PlanRules : NameRules {
    std::uint64_t archive_size = 0; // file data must lie within it
    std::int32_t data_offset = 0;
};

// Decides every entry's step for a table read_table accepted. Entries lie where
// TreeWalker places them; their output path is the destination followed by
// TreeWalker::path().
ExtractionPlan plan_extraction(const EntryTable& table, const PlanRules& rules);

// Whether a step is taken: a folder made or a file written.
inline bool is_written(Action action) {
    return action == Action::make_folder || action == Action::write_file;
}

} // namespace quodrel
