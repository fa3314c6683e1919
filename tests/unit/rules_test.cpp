// Small rules: progress dots, listing order, key waits, the archive suffix.
#include "app/run_command.h"
#include "platform/console_keys.h"
#include "platform/files.h"
#include "report/reporter.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace quodrel {
namespace {

int dots(std::int32_t total) {
    int n = 0;
    for (std::int32_t i = 0; i < total; ++i)
        n += progress_dot_due(total, i);
    return n;
}

TEST(Progress, DotsForEveryTableSize) {
    EXPECT_EQ(dots(0), 0);
    EXPECT_EQ(dots(10), 10);
    EXPECT_EQ(dots(49), 49);
    EXPECT_EQ(dots(50), 50);
    EXPECT_EQ(dots(99), 99);
    EXPECT_EQ(dots(100), 50);
    EXPECT_EQ(dots(120), 60);
    EXPECT_EQ(dots(149), 75); // step 2
    EXPECT_TRUE(progress_dot_due(120, 0));
    EXPECT_FALSE(progress_dot_due(120, 1));
}

TEST(ListingOrder, LettersWithoutCaseThenRawBytes) {
    std::vector<std::string> names = {"b", "_", "a", "B", "A", "ab", "Ab", "a.b", "Z", "[", "0"};
    std::sort(names.begin(), names.end(), platform::listing_order_less);
    EXPECT_EQ(names, (std::vector<std::string>{"0", "A", "a", "a.b", "Ab", "ab", "B", "b", "Z", "[",
                                               "_"}));
    EXPECT_FALSE(platform::listing_order_less("a", "a"));
    EXPECT_TRUE(platform::listing_order_less("z", "\xc3\xa9")); // bytes above 0x7f last
}

TEST(KeyWait, OnlyThePressOfACharacterCursorOrFunctionKeyEndsIt) {
    using quodrel::platform::key_ends_wait;
    EXPECT_TRUE(key_ends_wait(true, 'X', 'x'));
    EXPECT_TRUE(key_ends_wait(true, 0x1b, 0x1b)); // Escape
    EXPECT_TRUE(key_ends_wait(true, 'C', 3));     // Ctrl+C
    for (unsigned key : {0x21u, 0x24u, 0x26u, 0x28u, 0x2du, 0x2eu, 0x70u, 0x87u})
        EXPECT_TRUE(key_ends_wait(true, key, 0)) << key; // PgUp, Home, Up, Down, Ins, Del, F1, F24
    // Shift, Ctrl, Alt, Pause, Caps Lock, Windows keys, menu key, Num Lock, Scroll Lock,
    // left/right modifiers, and codes just outside the ranges above.
    for (unsigned key : {0x10u, 0x11u, 0x12u, 0x13u, 0x14u, 0x5bu, 0x5cu, 0x5du, 0x90u, 0x91u,
                         0xa0u, 0xa5u, 0x20u, 0x29u, 0x6fu, 0x88u})
        EXPECT_FALSE(key_ends_wait(true, key, 0)) << key;
    EXPECT_FALSE(key_ends_wait(false, 'X', 'x')); // a release
    EXPECT_FALSE(key_ends_wait(false, 0x26, 0));
}

TEST(ArchiveSuffix, AnyLetterCaseAtLeastFourCharacters) {
    for (const std::string path : {"a.dat", "a.DAT", "x/maps.DaT", ".dat"})
        EXPECT_TRUE(has_archive_suffix(path)) << path;
    for (const std::string path : {"dat", "a.dat ", "a.da", "a.txt", "adat", ""})
        EXPECT_FALSE(has_archive_suffix(path)) << path;
}

TEST(ArchiveBeside, TrailingSeparatorsGoButARootKeepsOne) {
    const std::pair<const char*, const char*> both[] = {
        {"maps", "maps.dat"}, {"maps/", "maps.dat"}, {"a/maps//", "a/maps.dat"},
        {"/", "/.dat"},       {"///", "/.dat"},      {"", ".dat"}};
    for (const auto& [folder, archive] : both) {
        EXPECT_EQ(archive_path_beside(folder, false), archive) << folder;
        EXPECT_EQ(archive_path_beside(folder, true), archive) << folder;
    }
    // Backslashes separate only under the Windows rules, where a drive's root stays one.
    EXPECT_EQ(archive_path_beside("maps\\", false), "maps\\.dat");
    EXPECT_EQ(archive_path_beside("maps\\/\\", true), "maps.dat");
    EXPECT_EQ(archive_path_beside("C:\\", true), "C:\\.dat");
    EXPECT_EQ(archive_path_beside("C:\\games\\", true), "C:\\games.dat");
    EXPECT_EQ(archive_path_beside("\\", true), "\\.dat");
}

} // namespace
} // namespace quodrel
