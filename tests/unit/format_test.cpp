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
    for (const std::string name : {"CON", "nul", "Aux.txt", "com1", "LPT9.dat", "con .x", "CONIN$"})
        EXPECT_TRUE(is_windows_device_name(name)) << name;
    for (const std::string name : {"CONS", "com", "COM10", "lpt", "nul_", "x.con"})
        EXPECT_FALSE(is_windows_device_name(name)) << name;
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
