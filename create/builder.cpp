#include "create/builder.h"

#include "app/console.h"
#include "archive/format.h"
#include "create/scan.h"
#include "platform/copy.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace quodrel {
namespace {

// The state of one creation once the tree is scanned.
struct Creation {
    std::string source_dir;
    std::string archive_path;
    std::string temp_path;
    std::FILE* archive = nullptr; // unbuffered: `out` writes it in large blocks
    std::unique_ptr<platform::BlockWriter> out;
    bool failed = false;

    void error(const char* format, const std::string& path) {
        std::printf(format, path.c_str());
        failed = true;
    }
};

const char* problem_message(ScanProblem::Kind kind) {
    switch (kind) {
    case ScanProblem::cannot_list: return "ERROR! Cannot open %s\n";
    case ScanProblem::name_too_long: return "ERROR! Name too long %s\n";
    case ScanProblem::path_too_long: return "ERROR! Path too long %s\n";
    case ScanProblem::file_too_large: return "ERROR! File too large %s\n";
    }
    return "ERROR! %s\n";
}

bool write_table(Creation& c, const EntryTable& table, std::int32_t data_offset) {
    ArchiveHeader header;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.entry_count = static_cast<std::int32_t>(table.size());
    header.data_offset = data_offset;
    unsigned char bytes[kRecordSize];
    unsigned char header_bytes[kHeaderSize];
    encode_header(header, header_bytes);
    bool ok = c.out->write(header_bytes, kHeaderSize);
    for (const Entry& entry : table) {
        encode_record(entry.record, bytes);
        const std::string stored = to_stored_name(entry.name, entry.record.name_length);
        ok = ok && c.out->write(bytes, kRecordSize) && c.out->write(stored.data(), stored.size());
    }
    return ok;
}

bool write_zeros(platform::BlockWriter& out, std::uint64_t count) {
    static const char zeros[4096] = {};
    while (count > 0) {
        const std::size_t n = count < sizeof zeros ? static_cast<std::size_t>(count) : sizeof zeros;
        if (!out.write(zeros, n))
            return false;
        count -= n;
    }
    return true;
}

// Copies one file's contents: always exactly the scanned size, so the archive stays
// consistent. False when the creation cannot go on.
bool copy_file(Creation& c, const Entry& entry) {
    const std::string path = c.source_dir + entry.relative_path;
    const auto size = static_cast<std::uint64_t>(entry.record.size);
    std::uint64_t size_now = 0;
    const int source = platform::open_source(path, &size_now);
    if (source < 0) {
        c.error("ERROR! Cannot open %s\n", path);
        return false;
    }
    // Read straight into the archive's block buffer: no stream in between.
    std::uint64_t copied = 0;
    platform::Copy result = c.out->copy_from(source, size, copied);
    platform::close_source(source);
    if (result == platform::Copy::short_read)
        result = write_zeros(*c.out, size - copied) ? platform::Copy::done
                                                    : platform::Copy::write_failed;
    if (result != platform::Copy::done) {
        c.error("ERROR! Cannot write %s\n", c.archive_path);
        return false;
    }
    if (size_now != size || copied != size)
        c.error("ERROR! File changed while reading %s\n", path);
    return true;
}

// Writes header, table and data into the temporary file; true when all of it landed.
bool write_archive(Creation& c, const EntryTable& table, std::int32_t data_offset) {
    if (!write_table(c, table, data_offset)) {
        c.error("ERROR! Cannot write %s\n", c.archive_path);
        return false;
    }
    const auto n = static_cast<std::int32_t>(table.size());
    for (std::int32_t j = 0; j < n; ++j) {
        report_progress(n, j);
        const Entry& entry = table[static_cast<std::size_t>(j)];
        if (entry.record.size != 0 && !copy_file(c, entry))
            return false;
    }
    if (!c.out->flush()) {
        c.error("ERROR! Cannot write %s\n", c.archive_path);
        return false;
    }
    return true;
}

} // namespace

bool create_archive(const std::string& source_dir, const std::string& archive_path) {
    Scan scan;
    scan_tree(scan, source_dir, archive_path);
    EntryTable& table = scan.table;
    std::printf("Creating %s (%d files)\n", archive_path.c_str(), static_cast<int>(table.size()));

    Creation c;
    c.source_dir = source_dir;
    c.archive_path = archive_path;
    bool refused = false;
    for (const ScanProblem& problem : scan.problems) {
        c.error(problem_message(problem.kind), problem.path);
        refused = refused || is_fatal(problem);
    }
    const std::int64_t data_offset = lay_out_table(table);
    if (data_offset + scan.data_size > kMaxArchiveSize) {
        c.error("ERROR! Archive too large %s\n", archive_path);
        refused = true;
    }
    if (refused) {
        std::fflush(stdout);
        return false;
    }

    c.archive = platform::create_temp_file_beside(archive_path, c.temp_path);
    if (!c.archive) {
        c.error("ERROR! Cannot create %s\n", archive_path);
        std::fflush(stdout);
        return false;
    }
    platform::remove_on_signal(c.temp_path);
    std::setvbuf(c.archive, nullptr, _IONBF, 0);
    c.out = std::make_unique<platform::BlockWriter>(c.archive);
    bool complete = write_archive(c, table, static_cast<std::int32_t>(data_offset));
    if (std::fclose(c.archive) != 0 && complete) {
        c.error("ERROR! Cannot write %s\n", archive_path);
        complete = false;
    }
    if (complete && !platform::replace_file(c.temp_path, archive_path)) {
        c.error("ERROR! Cannot create %s\n", archive_path);
        complete = false;
    }
    if (!complete)
        platform::remove_file(c.temp_path);
    platform::remove_on_signal("");
    if (complete)
        std::printf("\nDone\n");
    std::fflush(stdout);
    return complete && !c.failed;
}

} // namespace quodrel
