#include "extract/extractor.h"

#include "app/console.h"
#include "archive/format.h"
#include "extract/paths.h"
#include "platform/copy.h"
#include "platform/platform.h"

#include <cstdio>
#include <memory>
#include <new>

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

// Reads the header; bytes the file does not supply stay 0.
void read_header(Extraction& x) {
    unsigned char bytes[kHeaderSize] = {};
    x.position = static_cast<std::int64_t>(std::fread(bytes, 1, sizeof bytes, x.archive.get()));
    x.header = decode_header(bytes);
}

// Reads the whole entry table. False, with the error printed, when the table is
// damaged: then nothing is written.
bool read_table(Extraction& x) {
    const std::int32_t count = x.header.entry_count;
    if (count <= 0)
        return true;
    // Every entry takes at least its record, so this bounds the allocation by the file.
    const std::uint64_t room = x.archive_size > kHeaderSize ? x.archive_size - kHeaderSize : 0;
    if (static_cast<std::uint64_t>(count) > room / kRecordSize) {
        x.error("ERROR! Entry table cut short in %s\n", x.archive_path);
        return false;
    }
    try {
        x.table.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        x.error("ERROR! No memory for the entry table of %s\n", x.archive_path);
        return false;
    }
    unsigned char bytes[kRecordSize + kMaxStoredNameLength];
    for (Entry& entry : x.table) {
        if (std::fread(bytes, 1, kRecordSize, x.archive.get()) != kRecordSize) {
            x.error("ERROR! Entry table cut short in %s\n", x.archive_path);
            return false;
        }
        entry.record = decode_record(bytes);
        const std::int32_t length = entry.record.name_length;
        if (length < 0 || length > kMaxStoredNameLength) {
            x.error("ERROR! Bad name length in %s\n", x.archive_path);
            return false;
        }
        const auto n = static_cast<std::size_t>(length);
        if (std::fread(bytes, 1, n, x.archive.get()) != n) {
            x.error("ERROR! Entry table cut short in %s\n", x.archive_path);
            return false;
        }
        entry.name = from_stored_name(bytes, n);
        x.position += static_cast<std::int64_t>(kRecordSize + n);
    }
    if (!place_entries(x.table, x.placements)) {
        x.error("ERROR! Too many directory levels in %s\n", x.archive_path);
        return false;
    }
    return true;
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
    File file(platform::create_file_for_writing(out, x.archive_id));
    if (!file) {
        x.error("ERROR! Cannot create %s\n", out);
        return;
    }
    std::setvbuf(file.get(), nullptr, _IONBF, 0); // written in whole blocks
    if (start != x.position && !platform::seek_file(x.archive.get(), start)) {
        x.position = -1;
        file.reset();
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
        x.buffer.copy(x.archive.get(), file.get(), static_cast<std::uint64_t>(record.size), copied);
    x.position = start + static_cast<std::int64_t>(copied);
    bool closed = std::fclose(file.release()) == 0;
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
    read_header(x);
    std::printf("%d files, data offset %d\n", x.header.entry_count, x.header.data_offset);
    if (read_table(x)) {
        write_entries(x);
        std::printf("\nDone\n");
    }
    std::fflush(stdout);
    return !x.failed;
}

} // namespace quodrel
