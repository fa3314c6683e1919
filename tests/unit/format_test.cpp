// The record encoding, stored names and the layout the writer gives a table.
#include "archive/format.h"
#include "archive/table.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

namespace quodrel {
namespace {

TEST(Encoding, RecordsAreLittleEndianAndSigned) {
    EntryRecord record;
    record.offset = 0x01020304;
    record.size = -2;
    record.listing_count = INT32_MIN;
    record.child_count = INT32_MAX;
    record.name_length = 256;
    unsigned char bytes[kRecordSize];
    encode_record(record, bytes);
    const unsigned char expected[kRecordSize] = {4, 3,    2,    1,    0xfe, 0xff, 0xff, 0xff, 0, 0,
                                                 0, 0x80, 0xff, 0xff, 0xff, 0x7f, 0,    1,    0, 0};
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + kRecordSize),
              std::vector<unsigned char>(expected, expected + kRecordSize));
    const EntryRecord back = decode_record(bytes);
    EXPECT_EQ(back.offset, record.offset);
    EXPECT_EQ(back.size, -2);
    EXPECT_EQ(back.listing_count, INT32_MIN);
    EXPECT_EQ(back.child_count, INT32_MAX);
    EXPECT_EQ(back.name_length, 256);
}

TEST(Encoding, HeaderRoundTrip) {
    ArchiveHeader header;
    std::copy(kMagic, kMagic + 8, header.magic);
    header.entry_count = 3;
    header.data_offset = 96;
    unsigned char bytes[kHeaderSize];
    encode_header(header, bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), kHeaderSize),
              std::string("CHELALIC\x03\0\0\0\x60\0\0\0", 16));
    const ArchiveHeader back = decode_header(bytes);
    EXPECT_EQ(back.entry_count, 3);
    EXPECT_EQ(back.data_offset, 96);
}

TEST(StoredNames, PaddedLengthIsNextMultipleOfFourAboveTheLength) {
    const std::int32_t expected[] = {4, 4, 4, 4, 8, 8, 8, 8, 12};
    for (std::size_t length = 0; length < 9; ++length)
        EXPECT_EQ(padded_name_length(length), expected[length]) << length;
    EXPECT_EQ(padded_name_length(255), 256);
}

TEST(StoredNames, HashesAreStoredAsColonsAndComeBack) {
    const std::string stored = to_stored_name("a#b#c", padded_name_length(5));
    EXPECT_EQ(stored, std::string("a:b:c\0\0\0", 8));
    const auto* bytes = reinterpret_cast<const unsigned char*>(stored.data());
    EXPECT_EQ(from_stored_name(bytes, stored.size()), "a#b#c");
    // Without a NUL the whole field is the name.
    const unsigned char full[4] = {'a', ':', 'b', 'c'};
    EXPECT_EQ(from_stored_name(full, 4), "a#bc");
    const unsigned char early[8] = {'x', 0, 'y', 'z', 0, 0, 0, 0};
    EXPECT_EQ(from_stored_name(early, 8), "x");
}

TEST(StoredNames, SafeNames) {
    for (const bool windows : {false, true}) {
        for (const std::string name : {"a", "a.txt", "...x", ".hidden", "a#b", "a b.c", "CONSOLE"})
            EXPECT_TRUE(is_safe_name(name, windows)) << name;
        for (const std::string name : {"", ".", "..", "a/b", "/", "a\\b", "\\"})
            EXPECT_FALSE(is_safe_name(name, windows)) << name;
    }
    // Names Windows would take for a device or change, or cannot hold: refused by its
    // rules only.
    for (const std::string name : {"CON", "nul.txt", "dot.", "blank ", "LPT1", "what?.txt", "a*",
                                   "<b>", "x|y", "say\"", "tab\there", "\x1f", "esc\x1b["}) {
        EXPECT_TRUE(is_safe_name(name, false)) << name;
        EXPECT_FALSE(is_safe_name(name, true)) << name;
    }
    EXPECT_TRUE(is_safe_name("caf\xc3\xa9 \xc2\x9b", true)); // UTF-8 and C1 are Windows names
    for (const std::string name : {"CON", "nul", "Aux.txt", "com1", "LPT9.dat", "con .x", "CONIN$",
                                   "COM0", "com\xc2\xb9", "LPT\xc2\xb2.txt", "Lpt\xc2\xb3"})
        EXPECT_TRUE(is_windows_device_name(name)) << name;
    for (const std::string name :
         {"CONS", "com", "COM10", "lpt", "nul_", "x.con", "COM\xc2\xb4", "LPT\xc2\xb9\xc2\xb9"})
        EXPECT_FALSE(is_windows_device_name(name)) << name;
}

// An output path Windows would resolve to something else than what was typed: checked
// on the resolved form, part by part, and on the last name typed.
TEST(WindowsOutputs, ResolvedPartByPartAndAsTyped) {
    const struct {
        const char* typed;
        const char* resolved;
        bool folder, safe;
    } rows[] = {
        {"out", "\\\\?\\C:\\work\\out", true, true},
        {"out\\", "\\\\?\\C:\\work\\out", true, true},       // a closing separator: a folder
        {"a.dat\\", "\\\\?\\C:\\work\\a.dat", false, false}, // which an archive is not
        {"aux\\", "\\\\?\\C:\\work\\aux", true, false},
        {"CON/", "\\\\?\\C:\\work\\CON", true, false},
        {"prn/.", "\\\\?\\C:\\work\\prn", true, false},
        {"AUX .\\", "\\\\?\\C:\\work\\AUX", true, false},
        {"blank \\", "\\\\?\\C:\\work\\blank", true, false}, // the blank resolving dropped
        {"x.dat.", "\\\\?\\C:\\work\\x.dat", false, false},
        {"x.dat:stream", "\\\\?\\C:\\work\\x.dat:stream", false, false},
        {"com\xc2\xb9.dat", "\\\\?\\C:\\work\\com\xc2\xb9.dat", false, false},
        {"..\\x.dat", "\\\\?\\C:\\x.dat", false, true},
        {"C:\\", "\\\\?\\C:\\", true, true},
        {"\\\\srv\\share\\nul\\o", "\\\\?\\UNC\\srv\\share\\nul\\o", true, false},
        {"\\\\srv\\share\\o", "\\\\?\\UNC\\srv\\share\\o", true, true},
        {"\\\\?\\Volume{1f}\\o", "\\\\?\\Volume{1f}\\o", true, true},
        {"\\\\?\\Volume{1f}\\nul", "\\\\?\\Volume{1f}\\nul", true, false},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x", true, false}, // a device is no folder
    };
    for (const auto& row : rows)
        EXPECT_EQ(is_windows_safe_output(row.typed, row.resolved, row.folder), row.safe)
            << row.typed;
}

// The rule the plan applies where names fold: a name of a short alias's shape beside a
// long name it may stand for, in one folder, is taken for another spelling of it.
TEST(WindowsOutputs, ShortAliasesOfLongNames) {
    const struct {
        const char* alias;
        const char* name;
        bool may_be;
    } rows[] = {
        {"MYPREC~1.TXT", "My Precious Document.txt", true}, // Windows: blanks dropped
        {"MY_P~BVG.TXT", "My Precious Document.txt", true}, // Wine: blanks made "_"
        {"DOCUME~1", "Documents and Settings", true},
        {"MYPREC~1.TXT", "My Precious Document.doc", false},     // another extension
        {"OTHER~1.TXT", "My Precious Document.txt", false},      // another beginning
        {"MYPREC~1.TXT", "MYPREC.TXT", false},                   // a short name has no alias
        {"myprec~1.txt", "My Precious Document.txt", true},      // letter case does not count
        {"_HID~45N", ".hidden", true},                           // Wine: the leading dot made "_"
        {"HIDDEN~1", ".hidden", true},                           // Windows: dropped
        {"HIDDEN~1.HID", ".hidden", false},                      // no extension
        {"ABC~~GHE.DE_", "abc.de f", true},                      // Wine: a blank in the extension
        {"ABC~1.DEF", "abc.de f", true},                         // Windows: dropped
        {"MYPRECIOUS~1.TXT", "My Precious Document.txt", false}, // longer than 8
        {"MYPREC1.TXT", "My Precious Document.txt", false},      // no "~"
        {"~1.TXT", "My Precious Document.txt", false},
        {"LONGNA~1", "longname.html.bak", false}, // "BAK", not none
        {"LONGNA~1.BAK", "longname.html.bak", true},
        {"README~1.TXT", "readme.txt", false},             // of the 8.3 form in any case: no alias
        {"CAF_AU~1.TXT", "caf\xc3\xa9 au lait.txt", true}, // beyond ASCII: "_"
        {"A_B_~1", "a+b[c]", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(may_be_short_alias(row.alias, row.name), row.may_be)
            << row.alias << " " << row.name;
}

TEST(Limits, NamesPathsAndSizes) {
    EXPECT_EQ(check_entry(std::string(255, 'n'), 256, 0), Limit::none);
    EXPECT_EQ(check_entry(std::string(256, 'n'), 257, 0), Limit::name_too_long);
    EXPECT_EQ(check_entry("x", 511, 0x7fffffff), Limit::none);
    EXPECT_EQ(check_entry("x", 512, 0), Limit::path_too_long);
    EXPECT_EQ(check_entry("x", 2, 0x80000000u), Limit::file_too_large);
}

void add(EntryTable& table, const std::string& name, std::int32_t size, std::int32_t children) {
    EntryRecord record;
    record.size = size;
    record.child_count = children;
    record.listing_count = -7; // a value the layout must leave alone where it sets none
    table.add(record, name);
}

EntryTable table_of(std::initializer_list<std::tuple<const char*, int, int>> entries) {
    EntryTable table;
    for (const auto& [name, size, children] : entries)
        add(table, name, size, children);
    return table;
}

TEST(Layout, ListingCountsNameLengthsAndDataOffset) {
    EntryTable table = table_of({{"a.txt", 5, 0}, {"sub", 0, 1}, {"b.bin", 3, 0}});
    EXPECT_EQ(lay_out_table(table), 96);
    EXPECT_EQ(table[0].record.listing_count, 0); // the first entry: its own child count
    EXPECT_EQ(table[1].record.listing_count, -7);
    EXPECT_EQ(table[2].record.listing_count, 1); // follows a directory
    EXPECT_EQ(table[0].record.name_length, 8);
    EXPECT_EQ(table[1].record.name_length, 4);

    EntryTable odd = table_of({{"d", 0, 2}, {"empty", 0, 0}, {"x", 4, 0}});
    EXPECT_EQ(lay_out_table(odd), 16 + 60 + 4 + 8 + 4);
    EXPECT_EQ(odd[0].record.listing_count, 2);
    EXPECT_EQ(odd[1].record.listing_count, 2);
    EXPECT_EQ(odd[2].record.listing_count, 0); // after an empty directory or file

    EntryTable none;
    EXPECT_EQ(lay_out_table(none), 16);
}

TEST(ListingOrder, LettersWithoutCaseThenRawBytes) {
    std::vector<std::string> names = {"b", "_", "a", "B", "A", "ab", "Ab", "a.b", "Z", "[", "0"};
    std::sort(names.begin(), names.end(), listing_order_less);
    EXPECT_EQ(names, (std::vector<std::string>{"0", "A", "a", "a.b", "Ab", "ab", "B", "b", "Z", "[",
                                               "_"}));
    EXPECT_FALSE(listing_order_less("a", "a"));
    EXPECT_TRUE(listing_order_less("z", "\xc3\xa9")); // bytes above 0x7f last
}

} // namespace
} // namespace quodrel
