// An archive opened for reading: its header and its entry table. Extraction, listing
// and testing all read it so; those that need a plan make it.
#pragma once

#include "archive/table.h"
#include "extract/plan.h"
#include "platform/files.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quodrel {

struct ArchiveFile {
    ArchiveFile() = default;
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    int file = -1;
    std::uint64_t size = 0;
    platform::FileId id;
    ArchiveHeader header;
    EntryTable table;
    std::unique_ptr<ByteSource> source;
};

// Opens an archive as a plain file; false when it cannot be (missing, a directory,
// a FIFO or device, no right to read it).
bool open_archive(const std::string& path, ArchiveFile& archive);

// Reads the header; bytes the file does not supply stay 0.
void read_archive_header(ArchiveFile& archive);

// Reads the entry table after the header, names as this system writes them (one
// that is not UTF-8 came from an older Windows program), and checks its structure.
// TableDamage::none, or the damage that forbids writing anything.
TableDamage read_archive_table(ArchiveFile& archive);

// What extraction does with each entry of an archive read whole, under this system's
// name rules.
ExtractionPlan plan_archive(const ArchiveFile& archive);

} // namespace quodrel
