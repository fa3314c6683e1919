#include "extract/table.h"

#include <new>

namespace quodrel {

ArchiveHeader read_header(std::FILE* archive, std::int64_t& position) {
    unsigned char bytes[kHeaderSize] = {};
    position = static_cast<std::int64_t>(std::fread(bytes, 1, sizeof bytes, archive));
    return decode_header(bytes);
}

TableDamage read_entry_table(std::FILE* archive, std::uint64_t archive_size,
                             const ArchiveHeader& header, EntryTable& table,
                             std::vector<Placement>& placements, std::int64_t& position) {
    const std::int32_t count = header.entry_count;
    if (count <= 0)
        return TableDamage::none;
    // Every entry takes at least its record, so this bounds the allocation by the file.
    const std::uint64_t room = archive_size > kHeaderSize ? archive_size - kHeaderSize : 0;
    if (static_cast<std::uint64_t>(count) > room / kRecordSize)
        return TableDamage::cut_short;
    try {
        table.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return TableDamage::no_memory;
    }
    unsigned char bytes[kRecordSize + kMaxStoredNameLength];
    for (Entry& entry : table) {
        if (std::fread(bytes, 1, kRecordSize, archive) != kRecordSize)
            return TableDamage::cut_short;
        entry.record = decode_record(bytes);
        const std::int32_t length = entry.record.name_length;
        if (length < 0 || length > kMaxStoredNameLength)
            return TableDamage::bad_name_length;
        const auto n = static_cast<std::size_t>(length);
        if (std::fread(bytes, 1, n, archive) != n)
            return TableDamage::cut_short;
        entry.name = from_stored_name(bytes, n);
        position += static_cast<std::int64_t>(kRecordSize + n);
    }
    if (!place_entries(table, placements))
        return TableDamage::too_deep;
    return TableDamage::none;
}

} // namespace quodrel
