#include "extract/inspect.h"

#include "archive/tree.h"
#include "extract/archive_file.h"

#include <cstring>

namespace quodrel {
namespace {

// Opens and reads the archive; false, with the error printed, when that fails.
// A check (`magic`) first tells a file that is no archive at all: extraction and
// listing read any file as one.
bool read_whole_table(const std::string& archive_path, ArchiveFile& archive, Reporter& out,
                      bool magic = false) {
    if (!open_archive(archive_path, archive)) {
        out.fault(Fault::cannot_open, archive_path);
        return false;
    }
    read_archive_header(archive);
    if (magic && std::memcmp(archive.header.magic, kMagic, sizeof kMagic) != 0) {
        out.fault(Fault::not_an_archive, archive_path);
        return false;
    }
    const TableDamage damage = read_archive_table(archive);
    if (damage == TableDamage::none)
        return true;
    out.fault(fault_of(damage), archive_path);
    return false;
}

// Walks the table: `each(i, path)` for every entry, with its path below the root
// without the leading "/" (a directory's ends with "/"), then prints the totals.
template <class Each> void walk_table(const ArchiveFile& archive, Reporter& out, Each each) {
    const EntryTable& table = archive.table;
    TreeWalker walk;
    std::int32_t files = 0, directories = 0;
    std::int64_t bytes = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const EntryRecord& record = table[i].record;
        walk.next(static_cast<std::int32_t>(i), record, table.name(i));
        each(i, walk.path().substr(1));
        if (record.size == 0) {
            ++directories;
        } else {
            ++files;
            bytes += record.size;
        }
    }
    out.totals(files, directories, bytes);
}

} // namespace

bool list_archive(const std::string& archive_path, Reporter& out) {
    ArchiveFile archive;
    if (read_whole_table(archive_path, archive, out))
        walk_table(archive, out, [&](std::size_t i, const std::string& path) {
            out.listing(archive.table[i].record.size, path);
        });
    out.flush();
    return !out.failed();
}

bool test_archive(const std::string& archive_path, Reporter& out) {
    ArchiveFile archive;
    if (read_whole_table(archive_path, archive, out, true)) {
        const ExtractionPlan plan = plan_archive(archive);
        walk_table(archive, out, [&](std::size_t i, std::string path) {
            const Step& step = plan.steps[i];
            if (step.action != Action::refuse)
                return;
            if (!path.empty() && path.back() == '/')
                path.pop_back(); // messages name a directory without its closing "/"
            out.fault(step.fault, std::string(), path);
        });
    }
    out.flush();
    return !out.failed();
}

} // namespace quodrel
