// What extraction does with each entry, decided from the entry table alone, before
// anything is written: pure, so the unit tests and the fuzzer run the very rules the
// extractor follows.
#pragma once

#include "archive/table.h"
#include "report/fault.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

enum class Action : std::uint8_t {
    make_directory,
    write_file, // its data lies in the archive: data_offset + offset, size bytes
    refuse,     // reported with the step's fault; a directory takes its contents along
                // (a name met before in its folder is refused as a name clash)
    skip,       // inside a refused directory: passed over without a word
};

struct Step {
    Action action = Action::skip;
    Fault fault = Fault::none; // why it is refused
};

struct ExtractionPlan {
    std::vector<Step> steps; // one per entry, in table order
};

struct PlanRules {
    std::uint64_t archive_size = 0; // file data must lie within it
    std::int32_t data_offset = 0;
    bool windows_rules = false; // Windows' names: no devices, no trailing dots or blanks
    // How the file system compares names, where it folds their case; else names are
    // the same only byte for byte.
    std::string (*fold)(const std::string& name) = nullptr;
};

// Decides every entry's step for a table read_table accepted. Entries lie where
// TreeWalker places them; their output path is the destination followed by
// TreeWalker::path().
ExtractionPlan plan_extraction(const EntryTable& table, const PlanRules& rules);

} // namespace quodrel
