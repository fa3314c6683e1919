#include "archive/format.h"

#include <cstring>

namespace quodrel {
namespace {

void put_u32(unsigned char* out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    out[0] = static_cast<unsigned char>(bits);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits >> 16);
    out[3] = static_cast<unsigned char>(bits >> 24);
}

std::int32_t get_u32(const unsigned char* in) {
    const std::uint32_t bits = std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 |
                               std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
    // Two's complement reinterpretation without implementation-defined conversion.
    return bits < 0x80000000u ? static_cast<std::int32_t>(bits)
                              : static_cast<std::int32_t>(bits - 0x80000000u) - 0x7fffffff - 1;
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

void encode_header(const ArchiveHeader& header, unsigned char out[kHeaderSize]) {
    std::memcpy(out, header.magic, sizeof header.magic);
    put_u32(out + 8, header.entry_count);
    put_u32(out + 12, header.data_offset);
}

ArchiveHeader decode_header(const unsigned char in[kHeaderSize]) {
    ArchiveHeader header;
    std::memcpy(header.magic, in, sizeof header.magic);
    header.entry_count = get_u32(in + 8);
    header.data_offset = get_u32(in + 12);
    return header;
}

void encode_record(const EntryRecord& record, unsigned char out[kRecordSize]) {
    put_u32(out, record.offset);
    put_u32(out + 4, record.size);
    put_u32(out + 8, record.listing_count);
    put_u32(out + 12, record.child_count);
    put_u32(out + 16, record.name_length);
}

EntryRecord decode_record(const unsigned char in[kRecordSize]) {
    EntryRecord record;
    record.offset = get_u32(in);
    record.size = get_u32(in + 4);
    record.listing_count = get_u32(in + 8);
    record.child_count = get_u32(in + 12);
    record.name_length = get_u32(in + 16);
    return record;
}

std::int32_t padded_name_length(std::size_t name_length) {
    return static_cast<std::int32_t>(name_length - name_length % 4 + 4);
}

std::string to_stored_name(const std::string& name, std::int32_t name_length) {
    std::string stored(static_cast<std::size_t>(name_length), '\0');
    const std::size_t n = name.size() < stored.size() ? name.size() : stored.size();
    for (std::size_t i = 0; i < n; ++i)
        stored[i] = name[i] == '#' ? ':' : name[i];
    return stored;
}

std::string from_stored_name(const unsigned char* stored, std::size_t name_length) {
    std::string name;
    for (std::size_t i = 0; i < name_length && stored[i] != 0; ++i)
        name += stored[i] == ':' ? '#' : static_cast<char>(stored[i]);
    return name;
}

bool is_windows_device_name(const std::string& name) {
    // Windows maps these to devices whatever the extension or trailing blanks.
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = ascii_upper(c);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

bool is_safe_name(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    if (name.find_first_of("/\\") != std::string::npos)
        return false;
#ifdef _WIN32
    // Windows drops trailing dots and blanks, so "..." or "a " would name something else.
    if (name.back() == '.' || name.back() == ' ' || is_windows_device_name(name))
        return false;
#endif
    return true;
}

std::int64_t lay_out_table(EntryTable& table) {
    std::int64_t data_offset = static_cast<std::int64_t>(kHeaderSize + kRecordSize * table.size());
    if (!table.empty())
        table[0].record.listing_count = table[0].record.child_count;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EntryRecord& record = table[i].record;
        record.name_length = padded_name_length(table[i].name.size());
        data_offset += record.name_length;
        // The entry after a directory (or an empty file) carries the size of the listing it opens.
        if (record.size == 0 && i + 1 < table.size())
            table[i + 1].record.listing_count = record.child_count;
    }
    return data_offset;
}

} // namespace quodrel
