#include "archive/format.h"

#include <cstring>
#include <initializer_list>
#include <string>

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
    if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)
        return false;
    // A digit, or the superscript one, two or three (UTF-8 C2 B9, C2 B2, C2 B3).
    const std::string_view number = std::string_view(base).substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xc2\xb9" ||
           number == "\xc2\xb2" || number == "\xc2\xb3";
}

namespace {

bool is_windows_separator(char c) { return c == '/' || c == '\\'; }

// Whether a name is one Windows writes as it is, a ":" (a stream) refused too.
bool is_windows_output_name(std::string_view name) {
    return is_safe_name(name, true) && name.find(':') == std::string_view::npos;
}

// The resolved path's parts below its root ("\\?\C:\", "\\?\UNC\server\share\", a
// volume's "\\?\Volume{...}\").
std::string_view below_root(std::string_view resolved) {
    if (resolved.substr(0, 8) == "\\\\?\\UNC\\") {
        std::size_t at = 8;
        for (int part = 0; part < 2 && at != std::string_view::npos; ++part) {
            at = resolved.find('\\', at);
            if (at != std::string_view::npos)
                ++at;
        }
        return at == std::string_view::npos ? std::string_view() : resolved.substr(at);
    }
    if (resolved.size() >= 6 && resolved.substr(0, 4) == "\\\\?\\" && resolved[5] == ':')
        return resolved.size() > 7 ? resolved.substr(7) : std::string_view();
    if (resolved.substr(0, 4) == "\\\\?\\") {
        const std::size_t end = resolved.find('\\', 4);
        return end == std::string_view::npos ? std::string_view() : resolved.substr(end + 1);
    }
    return resolved;
}

} // namespace

bool is_windows_safe_output(std::string_view typed, std::string_view resolved, bool folder) {
    // The last name typed, closing separators and "." parts left off.
    std::string_view last = typed;
    bool closed = false;
    for (;;) {
        while (!last.empty() && is_windows_separator(last.back())) {
            last.remove_suffix(1);
            closed = true;
        }
        const std::size_t cut = last.find_last_of("/\\:");
        const std::string_view part = cut == std::string_view::npos ? last : last.substr(cut + 1);
        if (part != "." || cut == std::string_view::npos)
            break;
        last = last.substr(0, cut);
        closed = true;
    }
    const std::size_t cut = last.find_last_of("/\\:");
    const std::string_view name = cut == std::string_view::npos ? last : last.substr(cut + 1);
    if (!name.empty() && name != "." && name != ".." && (name.back() == '.' || name.back() == ' '))
        return false; // which resolving dropped
    if (closed && !folder)
        return false; // a closing separator means a folder
    // Every part below the root, as Windows resolved it.
    std::string_view rest = below_root(resolved);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\\');
        const std::string_view part = rest.substr(0, end);
        if (!part.empty() && !is_windows_output_name(part))
            return false;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return true;
}

namespace {

// A character as a short name holds it: letters in upper case; a character no short
// name holds (a non-ASCII one, "+" "," ";" "=" "[" "]") as "_". UTF-8 continuation
// bytes are passed over, so a character beyond ASCII is one "_".
void add_short_character(std::string& made, char c) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xc0) == 0x80)
        return;
    if (byte >= 0x80 || std::strchr("+,;=[]", c) != nullptr)
        made += '_';
    else
        made += ascii_upper(c);
}

// Whether a name is one of the 8.3 form, which is its own short name: at most 8
// characters, a dot and at most 3, none a short name does not hold, in any case.
bool is_short_name(std::string_view name) {
    const std::size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 ||
        ext.find('.') != std::string_view::npos)
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80 || std::strchr(" +,;=[]", c) != nullptr)
            return false;
    return true;
}

} // namespace

std::string short_alias_key(std::string_view alias) {
    // BASE~TAIL[.EXT]: at most 8 and 3 characters, nothing but what a short name holds,
    // in any letter case (Windows compares names so).
    const std::size_t dot = alias.find('.');
    const std::string_view base = alias.substr(0, dot);
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view() : alias.substr(dot + 1);
    const std::size_t tilde = base.find('~');
    if (tilde == std::string_view::npos || tilde == 0 || tilde + 1 == base.size() ||
        !is_short_name(alias))
        return std::string();
    std::string key;
    for (const char c : ext)
        key += ascii_upper(c);
    key += '/';
    for (const char c : base.substr(0, tilde))
        key += ascii_upper(c);
    return key;
}

std::vector<std::string> long_name_keys(std::string_view name) {
    if (name.empty() || is_short_name(name))
        return {};
    // The extension: the first three characters after the last dot (none where the
    // only dot leads the name); the base: all before it. Blanks, and dots in the base,
    // are dropped (as Windows makes aliases) or made "_" (as Wine does).
    const std::size_t dot = name.rfind('.');
    const bool has_ext = dot != std::string_view::npos && dot != 0;
    const std::string_view base = has_ext ? name.substr(0, dot) : name;
    const std::string_view ext = has_ext ? name.substr(dot + 1) : std::string_view();
    std::vector<std::string> keys;
    for (const bool drop : {true, false}) {
        const auto add = [drop](std::string& to, char c) {
            if (c != ' ' && c != '.')
                add_short_character(to, c);
            else if (!drop)
                to += '_';
        };
        std::string key;
        for (std::size_t i = 0; i < ext.size() && key.size() < 3; ++i)
            add(key, ext[i]);
        key += '/';
        for (const char c : base)
            add(key, c);
        if (keys.empty() || keys.back() != key)
            keys.push_back(std::move(key));
    }
    return keys;
}

bool may_be_short_alias(std::string_view alias, std::string_view name) {
    const std::string key = short_alias_key(alias);
    if (key.empty())
        return false;
    for (const std::string& long_key : long_name_keys(name))
        if (long_key.compare(0, key.size(), key) == 0)
            return true;
    return false;
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
