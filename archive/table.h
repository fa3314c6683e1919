// The entry table both operations hold in memory, and its reading from and writing
// to bytes. Pure: the bytes come from a ByteSource and go to a ByteSink, so the
// same code runs on a file, on memory (the fuzzer) or in a unit test.
#pragma once

#include "archive/format.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quodrel {

// One entry: its record and where its name lies in the table's pool of names.
struct Entry {
    EntryRecord record;
    std::uint32_t name_at = 0;
    std::uint32_t name_size = 0;
    std::uint32_t stored_size = 0; // the bytes the archive stores, whatever it is read as
};

// The entries of an archive in archive order. Names are kept in one pool rather than
// one string each: a table of 200,000 entries costs about 6 MiB and its names.
// Names are in file-system form ("#", not ":").
class EntryTable {
public:
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    Entry& operator[](std::size_t i) { return entries_[i]; }
    const Entry& operator[](std::size_t i) const { return entries_[i]; }
    std::string_view name(std::size_t i) const {
        return std::string_view(names_).substr(entries_[i].name_at, entries_[i].name_size);
    }
    void reserve(std::size_t entries, std::size_t name_bytes = 0) {
        entries_.reserve(entries);
        names_.reserve(name_bytes);
    }
    void add(const EntryRecord& record, std::string_view name);
    // Gives entry i another name, as its stored bytes are read (the old one stays in
    // the pool, unused; the stored size stays).
    void rename(std::size_t i, std::string_view name);

private:
    std::vector<Entry> entries_;
    std::string names_;
};

// Sets every entry's name_length and the listing_count values the writer gives,
// and returns data_offset: where the entry table ends and the data region starts.
std::int64_t lay_out_table(EntryTable& table);

// Where an archive's bytes come from: `read` gives fewer bytes than asked only at
// the end (or on a failure to read).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t read(void* to, std::size_t size) = 0;
};

// An archive held in memory.
class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::size_t read(void* to, std::size_t size) override;

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Where an archive's bytes go; false when they could not all be written.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool write(const void* data, std::size_t size) = 0;
};

// Reads the header at the start of the source; bytes the source does not supply stay 0.
ArchiveHeader read_header(ByteSource& source);

// Damage that keeps a table from being read: nothing of such an archive is written.
enum class TableDamage : std::uint8_t {
    none,
    cut_short,       // fewer records or names than the header promises
    bad_name_length, // a name_length outside 0..kMaxStoredNameLength
    too_deep,        // more than kMaxOpenFolders levels open below the root
    no_memory,       // no room for the table
};

// The size of an archive that arrives as a stream, whose end has not come yet: no data
// lies past it, and it bounds no table.
constexpr std::uint64_t kSizeNotKnown = ~std::uint64_t{0} >> 1;

// Reads the entry table that follows the header, and checks its structure: every
// entry has its record and name, and no more levels are open than the format allows.
// The entry count is checked against `archive_size` before anything is allocated, and
// what it asks for against `room_for` (where a failed allocation cannot be caught:
// null, all of it); a table of kSizeNotKnown grows as its entries come, so that a
// count no stream holds costs no memory. What an allocation throws goes to the caller.
TableDamage read_table(ByteSource& source, std::uint64_t archive_size, const ArchiveHeader& header,
                       EntryTable& table, bool (*room_for)(std::size_t bytes) = nullptr);

// Writes the header (magic, entry count, data_offset) and every record with its
// stored name; the table must have been laid out.
bool write_table(ByteSink& sink, const EntryTable& table, std::int32_t data_offset);

} // namespace quodrel
