#include "archive/table.h"

#include "archive/tree.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quodrel {

void EntryTable::add(const EntryRecord& record, std::string_view name) {
    Entry entry;
    entry.record = record;
    entry.name_at = static_cast<std::uint32_t>(names_.size());
    entry.name_size = static_cast<std::uint32_t>(name.size());
    entry.stored_size = entry.name_size;
    names_.append(name);
    entries_.push_back(entry);
}

void EntryTable::rename(std::size_t i, std::string_view name) {
    entries_[i].name_at = static_cast<std::uint32_t>(names_.size());
    entries_[i].name_size = static_cast<std::uint32_t>(name.size());
    names_.append(name);
}

std::int64_t lay_out_table(EntryTable& table) {
    std::int64_t data_offset = static_cast<std::int64_t>(kHeaderSize + kRecordSize * table.size());
    if (!table.empty())
        table[0].record.listing_count = table[0].record.child_count;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EntryRecord& record = table[i].record;
        record.name_length = padded_name_length(table[i].name_size);
        data_offset += record.name_length;
        // The entry after a folder (or an empty file) carries the size of the listing it opens.
        if (record.size == 0 && i + 1 < table.size())
            table[i + 1].record.listing_count = record.child_count;
    }
    return data_offset;
}

std::size_t MemorySource::read(void* to, std::size_t size) {
    const std::size_t n = size < size_ - at_ ? size : size_ - at_;
    if (n > 0)
        std::memcpy(to, data_ + at_, n);
    at_ += n;
    return n;
}

ArchiveHeader read_header(ByteSource& source) {
    unsigned char bytes[kHeaderSize] = {};
    source.read(bytes, sizeof bytes);
    return decode_header(bytes);
}

namespace {

// Whether every entry can be placed: no folder opens a level past the limit.
bool levels_fit(const EntryTable& table) {
    TreeWalker walk;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (!walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i)))
            return false;
    return true;
}

} // namespace

TableDamage read_table(ByteSource& source, std::uint64_t archive_size, const ArchiveHeader& header,
                       EntryTable& table, bool (*room_for)(std::size_t bytes)) {
    const std::int32_t count = header.entry_count;
    if (count <= 0)
        return TableDamage::none;
    // Every entry takes at least its record, so this bounds the allocation by the file.
    const std::uint64_t room = archive_size > kHeaderSize ? archive_size - kHeaderSize : 0;
    if (static_cast<std::uint64_t>(count) > room / kRecordSize)
        return TableDamage::cut_short;
    // The names lie between the records and the data: room for no more than that (a
    // data_offset that is no such bound changes nothing but the first guess).
    const std::uint64_t records = kHeaderSize + kRecordSize * static_cast<std::uint64_t>(count);
    const std::uint64_t table_end = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(std::max(header.data_offset, 0)), archive_size);
    std::uint64_t entries = static_cast<std::uint64_t>(count);
    std::uint64_t name_bytes = table_end > records ? table_end - records : 0;
    if (archive_size >= kSizeNotKnown) {
        // A stream bounds nothing: a first guess, and more as the entries come.
        entries = std::min<std::uint64_t>(entries, 1 << 16);
        name_bytes = std::min<std::uint64_t>(name_bytes, 1 << 20);
    }
    const std::uint64_t wanted = entries * sizeof(Entry) + name_bytes;
    if (wanted > SIZE_MAX || (room_for && !room_for(static_cast<std::size_t>(wanted))))
        return TableDamage::no_memory;
    table.reserve(static_cast<std::size_t>(entries), static_cast<std::size_t>(name_bytes));
    unsigned char bytes[kRecordSize + kMaxStoredNameLength];
    for (std::int32_t i = 0; i < count; ++i) {
        if (source.read(bytes, kRecordSize) != kRecordSize)
            return TableDamage::cut_short;
        const EntryRecord record = decode_record(bytes);
        const std::int32_t length = record.name_length;
        if (length < 0 || length > kMaxStoredNameLength)
            return TableDamage::bad_name_length;
        const auto n = static_cast<std::size_t>(length);
        if (source.read(bytes, n) != n)
            return TableDamage::cut_short;
        table.add(record, from_stored_name(bytes, n));
    }
    return levels_fit(table) ? TableDamage::none : TableDamage::too_deep;
}

bool write_table(ByteSink& sink, const EntryTable& table, std::int32_t data_offset) {
    ArchiveHeader header;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.entry_count = static_cast<std::int32_t>(table.size());
    header.data_offset = data_offset;
    unsigned char bytes[kHeaderSize > kRecordSize ? kHeaderSize : kRecordSize];
    encode_header(header, bytes);
    bool ok = sink.write(bytes, kHeaderSize);
    for (std::size_t i = 0; ok && i < table.size(); ++i) {
        encode_record(table[i].record, bytes);
        const std::string stored = to_stored_name(table.name(i), table[i].record.name_length);
        ok = sink.write(bytes, kRecordSize) && sink.write(stored.data(), stored.size());
    }
    return ok;
}

} // namespace quodrel
