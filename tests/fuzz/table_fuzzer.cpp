// Reads an archive held in memory and plans its extraction: header, records, names,
// placement, the plan's refusals and path rebuilding, the very code the extractor
// runs. Whatever the bytes, every path the plan would write stays below the
// destination: it starts with "/", every component is a plain name, and it keeps to
// the format's length limit; nothing inside a refused directory is written.
#include "archive/format.h"
#include "archive/table.h"
#include "archive/tree.h"
#include "reading/plan.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quodrel;

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

void check_path(const std::string& path, bool directory) {
    require(!path.empty() && path[0] == '/', "path starts with /");
    const std::string body = directory ? path.substr(0, path.size() - 1) : path;
    require(body.size() <= kMaxPathLength, "path within the length limit");
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = body.find('/', start);
        const std::string component = body.substr(start, slash - start);
        // Checked here by hand, not with the program's own rule, so a fault in that
        // rule shows.
        require(!component.empty() && component != "." && component != ".." &&
                    component.find('\\') == std::string::npos,
                "every component is a plain name");
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
}

void check_plan(const EntryTable& table, const ArchiveHeader& header, std::size_t size,
                bool windows) {
    PlanRules rules;
    rules.archive_size = size;
    rules.data_offset = header.data_offset;
    rules.windows_rules = windows;
    const ExtractionPlan plan = plan_extraction(table, rules);
    require(plan.steps.size() == table.size(), "one step per entry");
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size(); ++i) {
        require(walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i)),
                "the plan placed every entry");
        const Step& step = plan.steps[i];
        const std::int32_t parent = walk.parent();
        require(parent < static_cast<std::int32_t>(i), "parent comes first");
        if (parent >= 0) {
            const Step& above = plan.steps[static_cast<std::size_t>(parent)];
            require(table[static_cast<std::size_t>(parent)].record.size == 0,
                    "parent is a directory");
            if (above.action == Action::refuse || above.action == Action::inside)
                require(step.action == Action::inside, "nothing below a refused directory");
        }
        if (step.action == Action::make_folder || step.action == Action::write_file)
            check_path(walk.path(), table[i].record.size == 0);
        if (step.action == Action::write_file) {
            const std::int64_t start = std::int64_t{header.data_offset} + table[i].record.offset;
            require(start >= 0 && table[i].record.size > 0 &&
                        static_cast<std::uint64_t>(start + table[i].record.size) <= size,
                    "file data inside the archive");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemorySource source(data, size);
    const ArchiveHeader header = read_header(source);
    EntryTable table;
    if (read_table(source, size, header, table) != TableDamage::none)
        return 0;
    check_plan(table, header, size, false);
    check_plan(table, header, size, true);
    return 0;
}
