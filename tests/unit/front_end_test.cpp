// The front end's small rules and the progress rule: which paths are archives, where
// a dropped folder's archive goes, and when a dot is due.
#include "app/run_command.h"
#include "events/text.h"

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
