#include "extract/extractor.h"

#include "app/console.h"
#include "archive/format.h"
#include "extract/paths.h"
#include "extract/table.h"
#include "platform/copy.h"
#include "platform/platform.h"

#include <cstdio>
#include <memory>

namespace quodrel {
namespace {

constexpr std::int32_t kGuardedSize = 1 << 20;

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

// The state of one extraction.
struct Extraction {
    std::string archive_path;
    std::string dest_dir;
    std::vector<char> stream_buffer; // outlives `archive`, which uses it
    File archive;
    platform::FileId archive_id; // never overwritten by one of its own entries
    std::uint64_t archive_size = 0;
    ArchiveHeader header;
    EntryTable table;
    std::vector<Placement> placements;
    std::int64_t position = 0; // where the archive stream stands
    platform::CopyBuffer buffer;
    bool failed = false;

    void error(const char* format, const std::string& path) {
        std::printf(format, path.c_str());
        failed = true;
    }
};

// Reads the whole entry table. False, with the error printed, when the table is
// damaged: then nothing is written.
bool read_table(Extraction& x) {
    const TableDamage damage = read_entry_table(x.archive.get(), x.archive_size, x.header, x.table,
                                                x.placements, x.position);
    switch (damage) {
    case TableDamage::none: return true;
    case TableDamage::cut_short:
        x.error("ERROR! Entry table cut short in %s\n", x.archive_path);
        break;
    case TableDamage::bad_name_length:
        x.error("ERROR! Bad name length in %s\n", x.archive_path);
        break;
    case TableDamage::too_deep:
        x.error("ERROR! Too many directory levels in %s\n", x.archive_path);
        break;
    case TableDamage::no_memory:
        x.error("ERROR! No memory for the entry table of %s\n", x.archive_path);
        break;
    }
    return false;
}

// Writes one file's data. Nothing is left behind unless it is complete.
void write_file(Extraction& x, const EntryRecord& record, const std::string& out) {
    const std::int64_t start = std::int64_t{x.header.data_offset} + record.offset;
    if (start < 0 || record.size < 0) {
        x.error("ERROR! Data out of range for %s\n", out);
        return;
    }
    if (static_cast<std::uint64_t>(start) + static_cast<std::uint64_t>(record.size) >
        x.archive_size) {
        x.error("ERROR! Data cut short for %s\n", out);
        return;
    }
    const int file = platform::create_output(out, x.archive_id);
    if (file < 0) {
        x.error("ERROR! Cannot create %s\n", out);
        return;
    }
    if (start != x.position && !platform::seek_file(x.archive.get(), start)) {
        x.position = -1;
        platform::close_output(file);
        platform::remove_file(out);
        x.error("ERROR! Data cut short for %s\n", out);
        return;
    }
    // A big file takes a while: if a signal ends the run meanwhile, the half-written
    // file goes too. Small ones are written in one call and are not worth the cost.
    const bool guarded = record.size >= kGuardedSize;
    if (guarded)
        platform::remove_on_signal(out);
    std::uint64_t copied = 0;
    const platform::Copy result =
        x.buffer.copy(x.archive.get(), file, static_cast<std::uint64_t>(record.size), copied);
    x.position = start + static_cast<std::int64_t>(copied);
    const bool closed = platform::close_output(file);
    if (guarded)
        platform::remove_on_signal("");
    if (result == platform::Copy::done && closed)
        return;
    platform::remove_file(out);
    if (result == platform::Copy::no_memory) {
        std::printf("ERROR! Memory allocation failed! (%d bytes)\n", record.size);
        x.failed = true;
    } else if (result == platform::Copy::short_read)
        x.error("ERROR! Data cut short for %s\n", out);
    else
        x.error("ERROR! Cannot write %s\n", out);
}

void write_entries(Extraction& x) {
    // An empty destination means the current folder, never the filesystem root.
    const std::string base = x.dest_dir.empty() ? std::string(".") : x.dest_dir;
    platform::make_directory(base);
    RelativePaths paths;
    std::vector<bool> refused(x.table.size(), false);
    for (std::size_t i = 0; i < x.table.size(); ++i) {
        report_progress(x.header.entry_count, static_cast<std::int32_t>(i));
        const Entry& entry = x.table[i];
        const Placement& placed = x.placements[i];
        if (placed.problem == Problem::below_refused ||
            (placed.parent >= 0 && refused[static_cast<std::size_t>(placed.parent)])) {
            refused[i] = true;
            continue;
        }
        std::string out = base + paths.path_of(static_cast<std::int32_t>(i), entry, placed.parent);
        if (entry.record.size == 0)
            out.pop_back(); // a directory's path ends with "/"; messages name it without
        const char* refusal = nullptr;
        switch (placed.problem) {
        case Problem::unsafe_name: refusal = "ERROR! Unsafe name %s\n"; break;
        case Problem::name_too_long: refusal = "ERROR! Name too long %s\n"; break;
        case Problem::path_too_long: refusal = "ERROR! Path too long %s\n"; break;
        default: break;
        }
        if (refusal) {
            refused[i] = true;
            x.error(refusal, out);
            continue;
        }
        if (entry.record.size != 0) {
            write_file(x, entry.record, out);
        } else if (platform::make_directory(out) == platform::MakeDirectory::is_link) {
            // Writing below it would land wherever the link points.
            refused[i] = true;
            x.error("ERROR! Cannot create %s\n", out);
        }
    }
}

} // namespace

bool extract_archive(const std::string& archive_path, const std::string& dest_dir) {
    Extraction x;
    x.archive_path = archive_path;
    x.dest_dir = dest_dir;
    x.archive.reset(platform::open_file_for_reading(archive_path));
    if (!x.archive || !platform::file_size(x.archive.get(), x.archive_size)) {
        x.error("ERROR! Cannot open %s\n", archive_path);
        return false;
    }
    x.archive_id = platform::file_id(x.archive.get());
    x.stream_buffer.resize(1 << 16);
    std::setvbuf(x.archive.get(), x.stream_buffer.data(), _IOFBF, x.stream_buffer.size());
    std::printf("Extracting %s\n", archive_path.c_str());
    x.header = read_header(x.archive.get(), x.position);
    std::printf("%d files, data offset %d\n", x.header.entry_count, x.header.data_offset);
    if (read_table(x)) {
        write_entries(x);
        std::printf("\nDone\n");
    }
    std::fflush(stdout);
    return !x.failed;
}

} // namespace quodrel
