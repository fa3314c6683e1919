// Reads an archive held in memory: header, records, names, placement and path
// rebuilding. Whatever the bytes, every path handed out for an entry that is not
// refused stays below the destination: it starts with "/", every component is a
// plain name, and it keeps to the format's length limit.
#include "archive/format.h"
#include "extract/paths.h"
#include "extract/table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0; // a stream over no bytes cannot be opened; the empty file is a test case
    std::FILE* archive = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!archive)
        return 0;
    std::int64_t position = 0;
    const ArchiveHeader header = read_header(archive, position);
    EntryTable table;
    std::vector<Placement> placements;
    const TableDamage damage = read_entry_table(archive, size, header, table, placements, position);
    std::fclose(archive);
    require(position >= 0 && static_cast<std::uint64_t>(position) <= size, "position in file");
    if (damage != TableDamage::none)
        return 0;
    require(placements.size() == table.size(), "one placement per entry");

    // The same walk the extractor makes: refused entries take their subtree along.
    RelativePaths paths;
    std::vector<bool> refused(table.size(), false);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Placement& placed = placements[i];
        require(placed.parent < static_cast<std::int32_t>(i), "parent comes first");
        if (placed.parent >= 0)
            require(table[static_cast<std::size_t>(placed.parent)].record.size == 0,
                    "parent is a directory");
        if (placed.problem == Problem::below_refused ||
            (placed.parent >= 0 && refused[static_cast<std::size_t>(placed.parent)])) {
            refused[i] = true;
            continue;
        }
        const std::string& path =
            paths.path_of(static_cast<std::int32_t>(i), table[i], placed.parent);
        if (placed.problem != Problem::none) {
            refused[i] = true;
            continue;
        }
        check_path(path, table[i].record.size == 0);
    }
    return 0;
}
