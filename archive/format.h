// The archive file format: records, their little-endian encoding, the stored-name
// rules and the entry table both operations share. Pure: no files, no console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

constexpr char kMagic[8] = {'C', 'H', 'E', 'L', 'A', 'L', 'I', 'C'};
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kRecordSize = 20;
constexpr std::size_t kMaxNameLength = 255;          // bytes of one name
constexpr std::int32_t kMaxStoredNameLength = 256;   // padded_name_length(kMaxNameLength)
constexpr std::size_t kMaxPathLength = 511;          // bytes of a relative path
constexpr std::int64_t kMaxArchiveSize = 0x7fffffff; // every position must stay below 2^31

struct ArchiveHeader {
    char magic[8] = {};
    std::int32_t entry_count = 0;
    std::int32_t data_offset = 0;
};

struct EntryRecord {
    std::int32_t offset = 0;
    std::int32_t size = 0;
    std::int32_t listing_count = 0;
    std::int32_t child_count = 0;
    std::int32_t name_length = 0;
};

// One entry in memory: the record fields, the name in file-system form ("#", not ":")
// and the path below the archive root, "/"-separated and beginning with "/".
struct Entry {
    EntryRecord record;
    std::string name;
    std::string relative_path;
};

using EntryTable = std::vector<Entry>;

void encode_header(const ArchiveHeader& header, unsigned char out[kHeaderSize]);
ArchiveHeader decode_header(const unsigned char in[kHeaderSize]);
void encode_record(const EntryRecord& record, unsigned char out[kRecordSize]);
EntryRecord decode_record(const unsigned char in[kRecordSize]);

// The smallest multiple of 4 strictly greater than the name's length.
std::int32_t padded_name_length(std::size_t name_length);

// The name as stored: every "#" turned into ":", NUL-padded to name_length bytes.
std::string to_stored_name(const std::string& name, std::int32_t name_length);

// The name a stored name stands for: bytes up to the first NUL, every ":" turned into "#".
std::string from_stored_name(const unsigned char* stored, std::size_t name_length);

// Whether a name read from an archive may become one path component below the
// destination: not empty, not "." or "..", no "/" or "\", and on Windows no
// device name such as CON or NUL.
bool is_safe_name(const std::string& name);

// Whether Windows takes the name for a device (CON, NUL, COM1, LPT1.txt and the like).
bool is_windows_device_name(const std::string& name);

// Sets every entry's name_length and the listing_count values the writer gives,
// and returns data_offset: where the entry table ends and the data region starts.
std::int64_t lay_out_table(EntryTable& table);

} // namespace quodrel
