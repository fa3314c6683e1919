// The archive file format: the header and record layouts, their little-endian
// encoding, the stored-name rules and the format's limits. Pure: no files, no console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quodrel {

// The header, at the start of the file.
constexpr char kMagic[8] = {'C', 'H', 'E', 'L', 'A', 'L', 'I', 'C'};
constexpr std::size_t kHeaderMagicAt = 0;
constexpr std::size_t kHeaderEntryCountAt = 8;
constexpr std::size_t kHeaderDataOffsetAt = 12;
constexpr std::size_t kHeaderSize = 16;

// One record per entry, each followed by its stored name.
constexpr std::size_t kRecordOffsetAt = 0;
constexpr std::size_t kRecordSizeAt = 4;
constexpr std::size_t kRecordListingCountAt = 8;
constexpr std::size_t kRecordChildCountAt = 12;
constexpr std::size_t kRecordNameLengthAt = 16;
constexpr std::size_t kRecordSize = 20;

// Limits.
constexpr std::size_t kMaxNameLength = 255;          // bytes of one name
constexpr std::int32_t kMaxStoredNameLength = 256;   // padded_name_length(kMaxNameLength)
constexpr std::size_t kMaxPathLength = 511;          // bytes of a path below the root
constexpr std::int64_t kMaxArchiveSize = 0x7fffffff; // every position must stay below 2^31
constexpr std::size_t kMaxOpenFolders = 255;         // levels open below the root

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

void encode_header(const ArchiveHeader& header, unsigned char out[kHeaderSize]);
ArchiveHeader decode_header(const unsigned char in[kHeaderSize]);
void encode_record(const EntryRecord& record, unsigned char out[kRecordSize]);
EntryRecord decode_record(const unsigned char in[kRecordSize]);

// The smallest multiple of 4 strictly greater than the name's length.
std::int32_t padded_name_length(std::size_t name_length);

// The name as stored: every "#" turned into ":", NUL-padded to name_length bytes.
std::string to_stored_name(std::string_view name, std::int32_t name_length);

// The name a stored name stands for: bytes up to the first NUL, every ":" turned into "#".
std::string from_stored_name(const unsigned char* stored, std::size_t name_length);

// The format's limits that an entry may break.
enum class Limit : std::uint8_t {
    none,
    name_too_long,  // a name of more than kMaxNameLength bytes
    path_too_long,  // a path below the root of more than kMaxPathLength bytes
    file_too_large, // a file that would not leave the archive below kMaxArchiveSize
};

// Whether one entry fits the format: its name, its path below the root and, for a
// file, its size; the first limit it breaks.
Limit check_entry(std::string_view name, std::size_t path_length, std::uint64_t size);

// Whether a name found on disk comes back unchanged from an archive: a ":" would come
// back as "#" (and meet a name that holds "#" there), and no extraction writes a "\".
bool is_storable_name(std::string_view name);

// Whether a name read from an archive may become one path component below the
// destination: not empty, not "." or "..", no "/" or "\"; with the Windows rules
// also no device name such as CON or NUL, no trailing dot or blank, which Windows
// would drop, and none of the characters Windows holds in no name (< > " | ? * and
// the bytes 1 to 31).
bool is_safe_name(std::string_view name, bool windows_rules);

// The order of the entries of one folder in an archive: bytes compared with ASCII
// a-z taken as A-Z, ties broken by the raw bytes, so a tree gives the same archive
// wherever it was made, whatever order its system lists it in.
bool listing_order_less(std::string_view a, std::string_view b);

// Whether a path the user gave for something to be written (a destination, an
// archive) names what Windows will write: `typed` as given, `resolved` as Windows
// resolved it (the extended form "\\?\C:\dir\name" or "\\?\UNC\server\share\dir").
// Every part of the resolved path below its root must be a name Windows keeps as it is
// (no device name, no trailing dot or blank, none of < > : " | ? * and the bytes 1 to
// 31: a ":" would name a stream of a file); and the last name typed must not end in a
// dot or a blank, which resolving dropped. With `folder` false (an archive), a closing
// separator, which means a folder, is refused too.
bool is_windows_safe_output(std::string_view typed, std::string_view resolved, bool folder);

// Whether Windows takes the name for a device (CON, NUL, COM1, LPT1.txt, COM¹ and the
// like).
bool is_windows_device_name(std::string_view name);

// Short (8.3) names, which Windows (and Wine) give a long name as a second spelling
// of it in its folder: MYPREC~1.TXT or MY_P~BVG.TXT for "My Precious Document.txt".
// Which alias a name gets depends on the folder; whether a name may be one is told by
// keys. `short_alias_key` is empty for a name of no alias's shape (at most 8
// characters with a "~" not first or last, at most 3 after a dot, in any letter
// case); else it begins every key of `long_name_keys` of each long name it may stand
// for: a name of the 8.3 form has none (it is its own short name), another one each
// way a short name is made of it (letters in upper case, blanks and dots dropped as
// Windows does or made "_" as Wine does, the first three characters of its
// extension; a name whose only dot leads it has no extension).
std::string short_alias_key(std::string_view alias);
std::vector<std::string> long_name_keys(std::string_view name);

// Whether `alias` may be a short name of the long name `name`, by their keys.
bool may_be_short_alias(std::string_view alias, std::string_view name);

} // namespace quodrel
