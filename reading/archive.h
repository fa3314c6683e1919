// An archive opened for reading: where its bytes come from (a file, bytes in memory, a
// caller's reader), its header, its entry table read and checked, and what extraction
// makes of each entry. Extraction, the library's archive handle, listing and checking
// all read an archive so, once.
#pragma once

#include "archive/table.h"
#include "platform/files.h"
#include "reading/plan.h"
#include "transfer/copy.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quodrel {

// Where an archive's bytes come from: readable by position, from many threads at once.
class ArchiveBytes : public transfer::Readable {
public:
    explicit ArchiveBytes(std::uint64_t size) : size_(size) {}
    // Its size; kSizeNotKnown for a stream whose end has not come yet.
    std::uint64_t size() const { return size_; }
    // The file it is, so that extraction never writes over it; invalid for what is no file.
    virtual platform::FileId id() const { return platform::FileId{}; }
    // Whether its bytes come in order only, once (a stream): read forward, and never
    // from two threads at once.
    virtual bool sequential() const { return false; }
    // Reads a stream to its end, passing over what is left: its size then.
    virtual std::uint64_t settle() { return size_; }
    // Writes a stream into `file`: what was kept of it, then all that is left:
    // QUODREL_OK, QUODREL_ERROR_READ (the stream failed) or _WRITE (the file did).
    virtual quodrel_error write_rest(int file) {
        static_cast<void>(file);
        return QUODREL_OK;
    }

protected:
    void set_size(std::uint64_t size) { size_ = size; }

private:
    std::uint64_t size_;
};

// The archive at `path` as a plain file; null when it cannot be opened so (missing, a
// folder, a FIFO or device, no right to read it), `error` then telling why.
std::unique_ptr<ArchiveBytes> archive_file(const std::string& path, int& error);

// The archive open as `file`, a plain file, which it closes when it goes.
std::unique_ptr<ArchiveBytes> archive_of_file(int file);

// `size` bytes at `data`, which the caller keeps alive.
std::unique_ptr<ArchiveBytes> archive_in_memory(const void* data, std::size_t size);

// `size` bytes that `read_at(context, ...)` reads.
std::unique_ptr<ArchiveBytes> archive_from_reader(
    std::int64_t (*read_at)(void* context, void* buffer, std::size_t size, std::uint64_t offset),
    std::uint64_t size, void* context);

struct OpenArchive {
    std::unique_ptr<ArchiveBytes> bytes;
    std::string name; // how texts name it
    ArchiveHeader header;
    EntryTable table;
    PlanRules rules;     // this system's, by which it is planned and its paths compared
    ExtractionPlan plan; // under those rules
};

// Reads the header and the entry table after it, names as this system writes them (one
// that is not UTF-8 came from an older Windows program), checks the table's structure
// and, when it is sound, plans its extraction under this system's rules. QUODREL_OK,
// QUODREL_ERROR_READ when its bytes cannot be read, or the damage that forbids writing
// anything (the table's, or no memory for it); with
// `require_magic`, QUODREL_ERROR_NOT_AN_ARCHIVE for bytes that do not start as an
// archive does, before any damage they seem to have.
quodrel_error read_archive(OpenArchive& archive, bool require_magic);

// The error that damage to a table is.
quodrel_error error_of(TableDamage damage);

} // namespace quodrel
