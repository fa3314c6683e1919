// Where each entry lands and what extraction does with it, decided without a disk;
// and the table read back from the bytes it was written to.
#include "archive/table.h"
#include "archive/tree.h"
#include "extract/select.h"
#include "reading/plan.h"

#include <gtest/gtest.h>

namespace quodrel {
namespace {

struct Item {
    std::string name;
    std::int32_t size; // 0: a directory
    std::int32_t children;
};

Item dir(const std::string& name, std::int32_t children) { return {name, 0, children}; }
Item file(const std::string& name) { return {name, 1, 0}; }

EntryTable table_of(const std::vector<Item>& items) {
    EntryTable table;
    std::int32_t offset = 0;
    for (const Item& item : items) {
        EntryRecord record;
        record.size = item.size;
        record.offset = offset;
        record.child_count = item.children;
        offset += item.size;
        table.add(record, item.name);
    }
    return table;
}

PlanRules rules_for(const EntryTable& table, bool windows = false) {
    PlanRules rules;
    rules.data_offset = 16;
    rules.archive_size = 16 + table.size(); // every file's one byte is there
    rules.windows_rules = windows;
    return rules;
}

// Letter case folded as a file system that folds it would (ASCII is enough here).
std::string ascii_fold(const std::string& name) {
    std::string folded = name;
    for (char& c : folded)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return folded;
}

// The paths extraction forms; refused entries show as "!" and the path, entries
// skipped below them as "-".
std::vector<std::string> paths(const std::vector<Item>& items, bool windows = false) {
    const EntryTable table = table_of(items);
    const ExtractionPlan plan = plan_extraction(table, rules_for(table, windows));
    TreeWalker walk;
    std::vector<std::string> out;
    for (std::size_t i = 0; i < table.size(); ++i) {
        walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
        switch (plan.steps[i].action) {
        case Action::inside: out.push_back("-"); break;
        case Action::refuse: out.push_back("!" + walk.path()); break;
        default: out.push_back(walk.path()); break;
        }
    }
    return out;
}

using Paths = std::vector<std::string>;

TEST(Placement, WorkedExample) {
    EXPECT_EQ(paths({file("a.txt"), dir("sub", 1), file("b.bin")}),
              (Paths{"/a.txt", "/sub/", "/sub/b.bin"}));
}

TEST(Placement, ChildCountsThatClaimFewerEntriesThanFollow) {
    EXPECT_EQ(paths({dir("d", 1), file("x"), file("y")}), (Paths{"/d/", "/d/x", "/y"}));
    EXPECT_EQ(paths({dir("d", 0), file("x")}), (Paths{"/d/", "/x"}));
}

TEST(Placement, LastEntryClosesEveryCompletedLevel) {
    EXPECT_EQ(paths({dir("a", 2), dir("b", 1), dir("c", 1), file("x"), file("y"), file("z")}),
              (Paths{"/a/", "/a/b/", "/a/b/c/", "/a/b/c/x", "/a/y", "/z"}));
    EXPECT_EQ(paths({dir("a", 1), dir("e", 0), file("z")}), (Paths{"/a/", "/a/e/", "/z"}));
}

TEST(Placement, NegativeOrHugeChildCountsKeepEverythingInside) {
    EXPECT_EQ(paths({dir("a", -1), file("x"), dir("b", INT32_MIN), file("y")}),
              (Paths{"/a/", "/a/x", "/a/b/", "/a/b/y"}));
    EXPECT_EQ(paths({dir("a", INT32_MAX), file("x")}), (Paths{"/a/", "/a/x"}));
}

TEST(Placement, ParentsAreTheEnclosingDirectories) {
    const EntryTable table = table_of({file("a"), dir("d", 2), file("b"), dir("e", 0), file("c")});
    TreeWalker walk;
    const std::int32_t expected[] = {-1, -1, 1, 1, -1};
    for (std::size_t i = 0; i < table.size(); ++i) {
        ASSERT_TRUE(walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i)));
        EXPECT_EQ(walk.parent(), expected[i]) << i;
    }
}

TEST(Plan, RefusedDirectoriesTakeTheirContentsWithThem) {
    EXPECT_EQ(paths({dir("..", 2), file("x"), dir("in", 1), file("y"), file("z"), file("")}),
              (Paths{"!/../", "-", "-", "-", "/z", "!/"}));
}

// A name clashes with the names met before it in its own folder only: those of a
// folder the walk has left are forgotten with it, those of the folders around stay.
TEST(Plan, ClashesAreWithinOneFolderAcrossClosedSubfolders) {
    const struct {
        std::vector<Item> items;
        Paths expected;
    } rows[] = {
        {{file("x"), dir("d", 1), file("y"), file("x")}, {"/x", "/d/", "/d/y", "!/x"}},
        {{dir("d", 1), file("x"), file("x")}, {"/d/", "/d/x", "/x"}},
        {{file("x"), dir("d", 1), dir("e", 1), file("x"), file("x")},
         {"/x", "/d/", "/d/e/", "/d/e/x", "!/x"}},
        {{dir("d", 2), dir("e", 1), file("y"), file("y"), file("y")},
         {"/d/", "/d/e/", "/d/e/y", "/d/y", "/y"}},
        {{dir("d", 0), dir("d", 1), file("x"), file("d")}, {"/d/", "!/d/", "-", "!/d"}},
        {{dir("a", 1), file("x"), dir("b", 1), file("x"), file("b")},
         {"/a/", "/a/x", "/b/", "/b/x", "!/b"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(paths(row.items), row.expected) << row.expected.front();
}

TEST(Plan, FoldedNamesClashUnderTheRulesThatFoldThem) {
    const std::vector<Item> items = {file("README"), dir("sub", 1), file("readme"), file("readme"),
                                     dir("Sub", 0)};
    EXPECT_EQ(paths(items), (Paths{"/README", "/sub/", "/sub/readme", "/readme", "/Sub/"}));
    const EntryTable table = table_of(items);
    PlanRules rules = rules_for(table, true);
    rules.fold = ascii_fold;
    const ExtractionPlan plan = plan_extraction(table, rules);
    const Action expected[] = {Action::write_file, Action::make_folder, Action::write_file,
                               Action::refuse, Action::refuse};
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(plan.steps[i].action, expected[i]) << i;
    EXPECT_EQ(plan.steps[3].refusal(), QUODREL_REFUSED_NAME_CLASH);
}

TEST(Plan, WindowsRulesRefuseDevicesAndTrailingDots) {
    const std::vector<Item> items = {file("CON"), dir("aux", 1), file("in"), file("a."),
                                     file("ok")};
    EXPECT_EQ(paths(items, false), (Paths{"/CON", "/aux/", "/aux/in", "/a.", "/ok"}));
    EXPECT_EQ(paths(items, true), (Paths{"!/CON", "!/aux/", "-", "!/a.", "/ok"}));
}

TEST(Plan, PathLimitIs511BytesWithoutTheTrailingSlash) {
    const std::string n255(255, 'n'), n254(254, 'm');
    // "/" + 255 + "/" + 254 = 511 bytes: allowed; one more byte is not.
    EXPECT_EQ(paths({dir(n255, 1), file(n254)}).back(), "/" + n255 + "/" + n254);
    EXPECT_EQ(paths({dir(n255, 1), file(n254 + "x")}).back(), "!/" + n255 + "/" + n254 + "x");
    EXPECT_EQ(paths({dir(n255, 1), dir(n254, 0)}).back(), "/" + n255 + "/" + n254 + "/");
    EXPECT_EQ(paths({file(std::string(256, 'x'))}).back(), "!/" + std::string(256, 'x'));
}

// The format's limits are on the bytes an archive stores, whatever a name is read as
// (an older Windows program's code page takes one byte where UTF-8 takes two), so
// every system says the same; Windows' rules refuse only what Windows cannot hold.
TEST(Plan, LimitsAreOnTheStoredBytes) {
    const std::string e = "\xc3\xa9"; // é, one byte in code page 1252
    auto times = [](const std::string& text, int n) {
        std::string all;
        for (int i = 0; i < n; ++i)
            all += text;
        return all;
    };
    EntryTable table = table_of({dir(std::string(200, 'd'), 2), file(std::string(255, 'f')),
                                 file(std::string(255, 'u')), file(std::string(256, 'x'))});
    table.rename(0, times(e, 200));       // 400 bytes read, 200 stored
    table.rename(1, times(e, 255));       // a path of 912 bytes read, 457 stored
    table.rename(2, times(e, 256));       // 256 UTF-16 units: more than Windows holds
    table.rename(3, std::string(3, 'x')); // stored too long, whatever it reads as
    for (const bool windows : {false, true}) {
        const ExtractionPlan plan = plan_extraction(table, rules_for(table, windows));
        EXPECT_EQ(plan.steps[0].action, Action::make_folder);
        EXPECT_EQ(plan.steps[1].action, Action::write_file);
        EXPECT_EQ(plan.steps[2].refusal(),
                  windows ? QUODREL_REFUSED_NAME_TOO_LONG : QUODREL_WRITTEN);
        EXPECT_EQ(plan.steps[3].refusal(), QUODREL_REFUSED_NAME_TOO_LONG);
    }
}

// Under Windows' rules a name of a short alias's shape after a long name it may stand
// for, in one folder, is another spelling of it: Windows would open the long-named
// file through it. Before the long name it is a name of its own (the long name then
// gets another alias), and in another folder it meets nothing.
TEST(Plan, ShortAliasesAfterTheirLongNamesClashUnderWindowsRules) {
    const std::string doc = "My Precious Document.txt";
    const struct {
        std::vector<Item> items;
        Paths expected;
    } rows[] = {
        {{file(doc), file("MYPREC~1.TXT"), file("MY_P~BVG.TXT"), file("MYPREC~1.DOC")},
         {"/" + doc, "!/MYPREC~1.TXT", "!/MY_P~BVG.TXT", "/MYPREC~1.DOC"}},
        {{file("MYPREC~1.TXT"), file(doc)}, {"/MYPREC~1.TXT", "/" + doc}},
        {{dir("Documents and Settings", 1), file("x"), dir("DOCUME~1", 1), file("y")},
         {"/Documents and Settings/", "/Documents and Settings/x", "!/DOCUME~1/", "-"}},
        {{file(doc), dir("sub", 1), file("MYPREC~1.TXT")},
         {"/" + doc, "/sub/", "/sub/MYPREC~1.TXT"}},
        {{file("readme.txt"), file("README~1.TXT")}, {"/readme.txt", "/README~1.TXT"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(paths(row.items, true), row.expected) << row.expected[1];
        for (const std::string& path : paths(row.items, false))
            EXPECT_NE(path[0], '!') << path; // elsewhere these are names of their own
    }
}

TEST(Plan, FileDataMustLieInsideTheArchive) {
    EntryTable table = table_of({file("ok"), file("past"), file("before"), file("negative")});
    table[1].record.offset = 4;
    table[2].record.offset = -17;
    table[3].record.size = -1;
    const ExtractionPlan plan = plan_extraction(table, rules_for(table));
    EXPECT_EQ(plan.steps[0].action, Action::write_file);
    EXPECT_EQ(plan.steps[1].refusal(), QUODREL_REFUSED_DATA_CUT_SHORT);
    EXPECT_EQ(plan.steps[2].refusal(), QUODREL_REFUSED_DATA_OUT_OF_RANGE);
    EXPECT_EQ(plan.steps[3].refusal(), QUODREL_REFUSED_DATA_OUT_OF_RANGE);
}

// Which entries -x takes: patterns within one part of a path, exact paths first, a
// folder with everything in it, the folders above what is taken.
TEST(Choice, PatternsMatchWithinOnePart) {
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } rows[] = {
        {"*", "", true},
        {"*", "anything", true},
        {"a*", "a", true},
        {"notes*", "notes", true},
        {"notes*", "notes.txt", true},
        {"*.map", ".map", true},
        {"*.map", "level.map", true},
        {"*.map", "level.mapx", false},
        {"?", "", false},
        {"?", "a", true},
        {"??", "a", false},
        {"a?c", "abc", true},
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false},
        {"**", "x", true},
        {"*a", "baba", true},
        {"*a", "bab", false},
        {"x", "X", false},
        {"", "", true},
        {"", "a", false},
        {"a**", "a", true},
        {"*?", "", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(part_matches(row.pattern, row.name), row.matches)
            << row.pattern << " / " << row.name;
}

TEST(Choice, ExactPathsFoldersAndTheFoldersAbove) {
    const EntryTable table = table_of({dir("maps", 3), file("notes"), file("notes.txt"),
                                       dir("sub", 1), file("a*b"), file("ab"), dir("x", 0)});
    PlanRules windows = rules_for(table, true);
    windows.fold = ascii_fold;
    const auto chosen = [&](std::vector<std::string> paths, bool on_windows = false) {
        const Selection selection =
            select_entries(table, paths, on_windows ? windows : rules_for(table));
        std::string marks;
        for (const Chosen c : selection.entries)
            marks += c == Chosen::yes ? 'y' : c == Chosen::above ? 'a' : '.';
        for (const std::string& path : selection.unmatched)
            marks += " !" + path;
        return marks;
    };
    EXPECT_EQ(chosen({"maps/notes*"}), "ayy....");  // a trailing "*" matches the empty rest
    EXPECT_EQ(chosen({"maps/sub"}), "a..yy..");     // a folder with what is inside
    EXPECT_EQ(chosen({"maps/sub/"}), "a..yy..");    // as -l shows it
    EXPECT_EQ(chosen({"maps/sub/a*b"}), "a..ay.."); // the name itself, not a pattern
    EXPECT_EQ(chosen({"ab", "maps/?"}), ".....y. !maps/?");
    EXPECT_EQ(chosen({"*"}), "yyyyyyy"); // every top-level entry, and what is in them
    EXPECT_EQ(chosen({"maps/*/*"}), "a..ay..");
    EXPECT_EQ(chosen({"nothing", "x"}), "......y !nothing");
    // Under Windows' rules "\\" separates too, and names are compared as Windows
    // compares them, as a name clash is decided.
    EXPECT_EQ(chosen({"MAPS\\Sub\\"}, true), "a..yy..");
    EXPECT_EQ(chosen({"maps\\NOTES.*"}, true), "a.y....");
    EXPECT_EQ(chosen({"MAPS\\Sub", "maps\\NOTES.*"}), "....... !MAPS\\Sub !maps\\NOTES.*");
}

struct StringSink : ByteSink {
    std::string bytes;
    bool write(const void* data, std::size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
};

TEST(TableBytes, WrittenTableReadsBackAsItWas) {
    EntryTable table = table_of({file("a#b"), dir("sub", 1), file("c")});
    const std::int64_t data_offset = lay_out_table(table);
    StringSink sink;
    ASSERT_TRUE(write_table(sink, table, static_cast<std::int32_t>(data_offset)));
    ASSERT_EQ(sink.bytes.size(), static_cast<std::size_t>(data_offset));
    EXPECT_NE(sink.bytes.find(std::string("a:b\0", 4)), std::string::npos);

    MemorySource source(sink.bytes.data(), sink.bytes.size());
    const ArchiveHeader header = read_header(source);
    EXPECT_EQ(std::string(header.magic, 8), "CHELALIC");
    EXPECT_EQ(header.entry_count, 3);
    EXPECT_EQ(header.data_offset, data_offset);
    EntryTable back;
    ASSERT_EQ(read_table(source, sink.bytes.size(), header, back), TableDamage::none);
    ASSERT_EQ(back.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.name(i), table.name(i));
        EXPECT_EQ(back[i].record.size, table[i].record.size);
        EXPECT_EQ(back[i].record.child_count, table[i].record.child_count);
        EXPECT_EQ(back[i].record.listing_count, table[i].record.listing_count);
    }
}

TEST(TableBytes, DamageIsToldBeforeAnythingIsTrusted) {
    EntryTable table = table_of({file("a"), file("b")});
    const std::int64_t data_offset = lay_out_table(table);
    StringSink sink;
    ASSERT_TRUE(write_table(sink, table, static_cast<std::int32_t>(data_offset)));
    auto read = [](std::string bytes) {
        MemorySource source(bytes.data(), bytes.size());
        const ArchiveHeader header = read_header(source);
        EntryTable back;
        return read_table(source, bytes.size(), header, back);
    };
    EXPECT_EQ(read(sink.bytes.substr(0, sink.bytes.size() - 1)), TableDamage::cut_short);
    std::string huge_count = sink.bytes;
    huge_count[11] = 0x7f; // more entries than the file could hold: nothing is allocated
    EXPECT_EQ(read(huge_count), TableDamage::cut_short);
    std::string long_name = sink.bytes;
    long_name[16 + 16] = 0x04; // name_length 260
    long_name[16 + 17] = 0x01;
    EXPECT_EQ(read(long_name), TableDamage::bad_name_length);
    std::string negative_count = sink.bytes;
    negative_count[11] = static_cast<char>(0x80);
    EXPECT_EQ(read(negative_count), TableDamage::none); // read as no entries at all
}

TEST(TableBytes, AtMost255OpenDirectories) {
    auto read = [](std::vector<Item> items) {
        EntryTable table = table_of(items);
        StringSink sink;
        EXPECT_TRUE(write_table(sink, table, static_cast<std::int32_t>(lay_out_table(table))));
        MemorySource source(sink.bytes.data(), sink.bytes.size());
        const ArchiveHeader header = read_header(source);
        EntryTable back;
        return read_table(source, sink.bytes.size(), header, back);
    };
    std::vector<Item> items(255, dir("d", 1));
    EXPECT_EQ(read(items), TableDamage::none);
    items.push_back(dir("d", 0)); // even an empty one needs a level of its own
    EXPECT_EQ(read(items), TableDamage::too_deep);
}

} // namespace
} // namespace quodrel
