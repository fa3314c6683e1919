#include "archive/format.h"

#include <cstring>

namespace quodrel {
namespace {

void put32(unsigned char* out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    out[0] = static_cast<unsigned char>(bits);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits >> 16);
    out[3] = static_cast<unsigned char>(bits >> 24);
}

std::int32_t get32(const unsigned char* in) {
    const std::uint32_t bits = std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 |
                               std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
    // Two's complement reinterpretation without implementation-defined conversion.
    return bits < 0x80000000u ? static_cast<std::int32_t>(bits)
                              : static_cast<std::int32_t>(bits - 0x80000000u) - 0x7fffffff - 1;
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

void encode_header(const ArchiveHeader& header, unsigned char out[kHeaderSize]) {
    std::memcpy(out + kHeaderMagicAt, header.magic, sizeof header.magic);
    put32(out + kHeaderEntryCountAt, header.entry_count);
    put32(out + kHeaderDataOffsetAt, header.data_offset);
}

ArchiveHeader decode_header(const unsigned char in[kHeaderSize]) {
    ArchiveHeader header;
    std::memcpy(header.magic, in + kHeaderMagicAt, sizeof header.magic);
    header.entry_count = get32(in + kHeaderEntryCountAt);
    header.data_offset = get32(in + kHeaderDataOffsetAt);
    return header;
}

void encode_record(const EntryRecord& record, unsigned char out[kRecordSize]) {
    put32(out + kRecordOffsetAt, record.offset);
    put32(out + kRecordSizeAt, record.size);
    put32(out + kRecordListingCountAt, record.listing_count);
    put32(out + kRecordChildCountAt, record.child_count);
    put32(out + kRecordNameLengthAt, record.name_length);
}

EntryRecord decode_record(const unsigned char in[kRecordSize]) {
    EntryRecord record;
    record.offset = get32(in + kRecordOffsetAt);
    record.size = get32(in + kRecordSizeAt);
    record.listing_count = get32(in + kRecordListingCountAt);
    record.child_count = get32(in + kRecordChildCountAt);
    record.name_length = get32(in + kRecordNameLengthAt);
    return record;
}

std::int32_t padded_name_length(std::size_t name_length) {
    return static_cast<std::int32_t>(name_length - name_length % 4 + 4);
}

std::string to_stored_name(std::string_view name, std::int32_t name_length) {
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

Limit check_entry(std::string_view name, std::size_t path_length, std::uint64_t size) {
    if (name.size() > kMaxNameLength)
        return Limit::name_too_long;
    if (path_length > kMaxPathLength)
        return Limit::path_too_long;
    if (size > static_cast<std::uint64_t>(kMaxArchiveSize))
        return Limit::file_too_large;
    return Limit::none;
}

bool listing_order_less(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char ca = ascii_upper(a[i]), cb = ascii_upper(b[i]);
        if (ca != cb)
            return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // same letters apart from case: raw bytes decide
}

bool is_storable_name(std::string_view name) {
    return name.find_first_of(":\\") == std::string_view::npos;
}

bool is_windows_device_name(std::string_view name) {
    // Windows maps these to devices whatever the extension or trailing blanks.
    std::string base(name.substr(0, name.find('.')));
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

bool is_windows_safe_last_part(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\:");
    const std::string_view last = cut == std::string_view::npos ? path : path.substr(cut + 1);
    if (last.empty() || last == "." || last == "..")
        return true;
    return last.back() != '.' && last.back() != ' ' && !is_windows_device_name(last);
}

bool is_safe_name(std::string_view name, bool windows_rules) {
    if (name.empty() || name == "." || name == "..")
        return false;
    if (name.find_first_of("/\\") != std::string_view::npos)
        return false;
    if (!windows_rules)
        return true;
    // Windows drops trailing dots and blanks, so "..." or "a " would name something else;
    // it keeps device names for devices, and holds none of these characters in a name.
    if (name.back() == '.' || name.back() == ' ' || is_windows_device_name(name))
        return false;
    for (const char c : name)
        if ((c >= 1 && c < 32) || (c != 0 && std::strchr("<>\"|?*", c)))
            return false;
    return true;
}

} // namespace quodrel
