// Rebuilding where each entry belongs from order and child counts.
#include "extract/paths.h"

#include <gtest/gtest.h>

namespace quodrel {
namespace {

Entry dir(const std::string& name, std::int32_t children) {
    Entry e;
    e.name = name;
    e.record.child_count = children;
    return e;
}

Entry file(const std::string& name) {
    Entry e;
    e.name = name;
    e.record.size = 1;
    return e;
}

// Relative paths as the extractor forms them; refused entries show as "!problem".
std::vector<std::string> paths(const EntryTable& table) {
    std::vector<Placement> placements;
    EXPECT_TRUE(place_entries(table, placements));
    RelativePaths builder;
    std::vector<std::string> out;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (placements[i].problem == Problem::below_refused) {
            out.push_back("!below");
            continue;
        }
        const std::string path =
            builder.path_of(static_cast<std::int32_t>(i), table[i], placements[i].parent);
        out.push_back(placements[i].problem == Problem::none ? path : "!" + path);
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
    std::vector<Placement> placed;
    ASSERT_TRUE(place_entries({file("a"), dir("d", 2), file("b"), dir("e", 0), file("c")}, placed));
    const std::int32_t expected[] = {-1, -1, 1, 1, -1};
    for (std::size_t i = 0; i < placed.size(); ++i)
        EXPECT_EQ(placed[i].parent, expected[i]) << i;
}

TEST(Placement, RefusedDirectoriesTakeTheirContentsWithThem) {
    EXPECT_EQ(paths({dir("..", 2), file("x"), dir("in", 1), file("y"), file("z"), file("")}),
              (Paths{"!/../", "!below", "!below", "!below", "/z", "!/"}));
}

TEST(Placement, PathLimitIs511BytesWithoutTheTrailingSlash) {
    const std::string n255(255, 'n'), n254(254, 'm');
    // "/" + 255 + "/" + 254 = 511 bytes: allowed; one more byte is not.
    EXPECT_EQ(paths({dir(n255, 1), file(n254)}).back(), "/" + n255 + "/" + n254);
    EXPECT_EQ(paths({dir(n255, 1), file(n254 + "x")}).back(), "!/" + n255 + "/" + n254 + "x");
    EXPECT_EQ(paths({dir(n255, 1), dir(n254, 0)}).back(), "/" + n255 + "/" + n254 + "/");
    EXPECT_EQ(paths({file(std::string(256, 'x'))}).back(), "!/" + std::string(256, 'x'));
}

TEST(Placement, AtMost255OpenDirectories) {
    EntryTable table;
    for (int i = 0; i < 255; ++i)
        table.push_back(dir("d", 1));
    std::vector<Placement> placed;
    EXPECT_TRUE(place_entries(table, placed));
    table.push_back(dir("d", 0)); // even an empty one needs a level of its own
    EXPECT_FALSE(place_entries(table, placed));
}

} // namespace
} // namespace quodrel
