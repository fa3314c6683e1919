// -d: how an archive differs from a folder, one line per difference (the archive's
// order, then what only the folder has), a summary, and diff's exit statuses.
#include "e2e/harness.h"
#include "e2e/texts.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sys/stat.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

void remove_tree(const std::string& path) {
    if (is_dir(path)) {
        for (const std::string& below : paths_below(path))
            if (below.find('/', 1) == std::string::npos)
                remove_tree(path + below);
        rmdir(path.c_str());
    } else {
        std::remove(path.c_str());
    }
}

TEST(Compare, TellsEachDifferenceInTheArchivesOrderThenTheFolders) {
    const std::string in_both = " files and 3 directories in both\n";
    const struct {
        const char* what;
        std::function<void(const TempDir&)> change;
        std::string out;
        int status;
        std::function<void(const TempDir&)> packed = nullptr; // more in the tree packed
    } rows[] = {
        {"nothing changed", [](const TempDir&) {}, "0 differences; 3" + in_both, 0},
        {"one byte", [](const TempDir& d) { write_file(d / "src/a.txt", "onf"); },
         "Differs a.txt\n1 differences; 3" + in_both, 1},
        {"a size", [](const TempDir& d) { write_file(d / "src/sub/b.txt", "two!"); },
         "Differs sub/b.txt\n1 differences; 3" + in_both, 1},
        {"presence",
         [](const TempDir& d) {
             remove_tree(d / "src/deep");
             write_file(d / "src/new.txt", "new");
             make_dirs(d / "src/newdir");
             write_file(d / "src/newdir/n", "n");
         },
         "Only in the archive deep/\nOnly in the folder new.txt\nOnly in the folder newdir/\n"
         "3 differences; 2 files and 1 directories in both\n",
         1},
        {"a file where the archive has a folder, and the reverse",
         [](const TempDir& d) {
             remove_tree(d / "src/deep");
             write_file(d / "src/deep", "now a file");
             remove_tree(d / "src/a.txt");
             make_dirs(d / "src/a.txt/inside");
         },
         "Differs a.txt\nDiffers deep/\n2 differences; 2 files and 2 directories in both\n", 1},
        // An empty entry (the format stores an empty file as an empty folder) is written
        // as a folder: a file of the folder there, empty or not, differs from it.
        {"an empty file packed, with content since",
         [](const TempDir& d) { write_file(d / "src/e.log", "now"); },
         "Differs e.log/\n1 differences; 3 files and 4 directories in both\n", 1,
         [](const TempDir& d) { write_file(d / "src/e.log", ""); }},
        {"an empty file packed, still empty", [](const TempDir&) {},
         "Differs e.log/\n1 differences; 3 files and 4 directories in both\n", 1,
         [](const TempDir& d) { write_file(d / "src/e.log", ""); }},
        {"an empty folder packed, an empty folder still", [](const TempDir&) {},
         "0 differences; 3 files and 4 directories in both\n", 0,
         [](const TempDir& d) { make_dirs(d / "src/e"); }},
        {"an empty file where the archive's folder holds files",
         [](const TempDir& d) {
             remove_tree(d / "src/sub");
             write_file(d / "src/sub", "");
         },
         "Differs sub/\n1 differences; 2 files and 3 directories in both\n", 1},
        {"the archive inside the folder is not of it",
         [](const TempDir& d) { std::rename((d / "a.dat").c_str(), (d / "src/a.dat").c_str()); },
         "", 0},
    };
    for (const auto& row : rows) {
        TempDir dir;
        make_dirs(dir / "src/sub");
        make_dirs(dir / "src/deep/er");
        write_file(dir / "src/a.txt", "one");
        write_file(dir / "src/sub/b.txt", "two");
        write_file(dir / "src/deep/er/c.txt", "three");
        if (row.packed)
            row.packed(dir);
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        row.change(dir);
        const std::string archive = exists(dir / "a.dat") ? "a.dat" : "src/a.dat";
        const Result run = quodrel({"-d", archive, "src"}, dir.path());
        EXPECT_EQ(run.out, row.out.empty() ? "0 differences; 3" + in_both : row.out) << row.what;
        EXPECT_EQ(run.status, row.status) << row.what;
    }
}

TEST(Compare, LargeFilesAreComparedToTheirLastByte) {
    const std::string big(3 * 1024 * 1024 + 7, 'b');
    for (const std::size_t at : {std::size_t{0}, std::size_t{1024 * 1024}, big.size() - 1}) {
        TempDir dir;
        make_dirs(dir / "src");
        write_file(dir / "src/big", big);
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        std::string changed = big;
        changed[at] = 'c';
        write_file(dir / "src/big", changed);
        const Result run = quodrel({"-d", "a.dat", "src"}, dir.path());
        EXPECT_EQ(run.out, "Differs big\n1 differences; 1 files and 0 directories in both\n") << at;
        EXPECT_EQ(run.status, 1) << at;
    }
}

TEST(Compare, NamesCompareAsTheSystemComparesThem) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "one");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    std::rename((dir / "src/a.txt").c_str(), (dir / "src/A.TXT").c_str());
    const Result run = quodrel({"-d", "a.dat", "src"}, dir.path());
    if (under_wine()) { // the same file, as Windows finds it
        EXPECT_EQ(run.out, "0 differences; 1 files and 0 directories in both\n");
        EXPECT_EQ(run.status, 0);
    } else {
        EXPECT_EQ(run.out, "Only in the archive a.txt\nOnly in the folder A.TXT\n"
                           "2 differences; 0 files and 0 directories in both\n");
        EXPECT_EQ(run.status, 1);
    }
}

// What the folder holds but cannot give (a file not to be read, a folder not to be
// listed) is told once, as trouble: never also as the archive's alone.
TEST(Compare, WhatTheFolderCannotGiveIsToldOnce) {
    SKIP_UNDER_WINE("runs as another user");
    const struct {
        const char* locked; // made unreadable, below the folder
        std::string out;
        bool only_in_folder = false; // made after packing, so the archive lacks it
    } rows[] = {
        {"sub/u", "ERROR! Cannot open D/sub/u\n0 differences; 1 files and 1 directories in both\n"},
        {"sub", "ERROR! Cannot open D/sub\n0 differences; 1 files and 0 directories in both\n"},
        {"new/n",
         "ERROR! Cannot open D/new/n\nOnly in the folder new/\n"
         "1 differences; 2 files and 1 directories in both\n",
         true},
        {"new", "ERROR! Cannot open D/new\n0 differences; 2 files and 1 directories in both\n",
         true},
    };
    for (const auto& row : rows) {
        TempDir dir;
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
        make_dirs(dir / "D/sub");
        write_file(dir / "D/sub/u", "unreadable");
        write_file(dir / "D/a", "a");
        ASSERT_EQ(chmod((dir / "D").c_str(), 0777), 0);
        ASSERT_EQ(quodrel({"-c", "D", "a.dat", "-s"}, dir.path()).status, 0);
        if (row.only_in_folder) {
            make_dirs(dir / "D/new");
            write_file(dir / "D/new/n", "n");
        }
        ASSERT_EQ(chmod((dir / "a.dat").c_str(), 0644), 0);
        ASSERT_EQ(chmod((dir / "D/" + row.locked).c_str(), 0), 0);
        const Result run = quodrel({"-d", "a.dat", "D"}, dir.path(), true);
        EXPECT_EQ(run.out, row.out) << row.locked;
        EXPECT_EQ(run.status, 2) << row.locked;
        ASSERT_EQ(chmod((dir / "D/" + row.locked).c_str(), 0755), 0);
    }
}

TEST(Compare, TroubleIsStatusTwoAndRefusedEntriesAreNeverCompared) {
    TempDir dir;
    TestRecord up;
    up.name = "..";
    up.size = 0;
    write_file(dir / "hostile.dat",
               ArchiveWriter().record(up).file("ok.txt", "fine").file("x", "y").bytes());
    make_dirs(dir / "folder");
    write_file(dir / "folder/ok.txt", "fine");
    write_file(dir / "folder/x", "y");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } rows[] = {
        {{"-d", "hostile.dat", "folder"},
         "ERROR! Unsafe name ..\n0 differences; 2 files and 0 directories in both\n"},
        {{"-d", "missing.dat", "folder"}, "ERROR! Cannot open missing.dat\n"},
        {{"-d", "hostile.dat", "no-folder"}, "ERROR! Cannot open no-folder\n"},
        {{"-d", "folder/ok.txt", "folder"}, "ERROR! Not an archive folder/ok.txt\n"},
    };
    for (const auto& row : rows) {
        const Result run = quodrel(row.args, dir.path());
        EXPECT_EQ(run.out, row.out) << row.args[1] << " " << row.args[2];
        EXPECT_EQ(run.status, 2) << row.args[1] << " " << row.args[2];
    }
    // Output that cannot be written is trouble too, never "they differ".
    write_file(dir / "same.dat", ArchiveWriter().file("ok.txt", "fine").file("x", "y").bytes());
    Limits closed;
    closed.closed = {1};
    EXPECT_EQ(quodrel_limited({"-d", "same.dat", "folder"}, dir.path(), closed).status, 2);
    std::remove((dir / "same.dat").c_str());
    // Nothing was written.
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/folder", "/folder/ok.txt", "/folder/x", "/hostile.dat"}));

    // A refused entry whose name holds "/" has the path of a real folder met later: what
    // lies in that folder is still compared and told.
    write_file(dir / "slash.dat",
               ArchiveWriter().dir("a/b", 0).dir("a", 1).dir("b", 1).file("c", "c").bytes());
    make_dirs(dir / "tree/a/b");
    write_file(dir / "tree/a/b/c", "c");
    write_file(dir / "tree/a/b/new", "n");
    const Result run = quodrel({"-d", "slash.dat", "tree"}, dir.path());
    EXPECT_EQ(run.out, "ERROR! Unsafe name a/b\nOnly in the folder a/b/new\n"
                       "1 differences; 1 files and 2 directories in both\n");
    EXPECT_EQ(run.status, 2);
}

} // namespace
