// -u: a folder laid over an archive. The result is the archive -c makes of the merged
// tree, byte for byte; a clash keeps the archive's entry; an unsound archive is left
// as it is.
#include "e2e/harness.h"
#include "e2e/texts.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

// The tree the archive is made of.
void make_base(const TempDir& dir, const std::string& root) {
    make_dirs(dir / (root + "/sub/deeper"));
    make_dirs(dir / (root + "/keep"));
    write_file(dir / (root + "/a.txt"), "one");
    write_file(dir / (root + "/sub/b.txt"), "two");
    write_file(dir / (root + "/sub/deeper/c.bin"), std::string(300000, 'c'));
    write_file(dir / (root + "/keep/k.txt"), "kept");
}

// An archive whose update takes a while: one file of 1.5 GiB, its data a sparse run of
// zeros, to be copied into the new one.
constexpr std::int64_t kSlowFile = 3LL << 29;
void write_slow_archive(const std::string& path) {
    TestRecord big;
    big.name = "big";
    big.size = kSlowFile;
    write_file(path, ArchiveWriter().record(big).bytes());
    ASSERT_EQ(truncate(path.c_str(), 16 + 20 + 4 + kSlowFile), 0);
}

TEST(Update, TheResultIsTheArchiveOfTheMergedTree) {
    const struct {
        const char* what;
        std::function<void(const TempDir&, const std::string&)> over; // what DIR holds
        // More in the tree packed (and so in the merged tree, below what DIR lays over it)
        std::function<void(const TempDir&, const std::string&)> packed = nullptr;
    } rows[] = {
        {"files replaced and added in nested folders",
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / (root + "/sub/deeper"));
             make_dirs(d / (root + "/new/inner"));
             write_file(d / (root + "/a.txt"), "ONE, longer now");
             write_file(d / (root + "/sub/deeper/c.bin"), std::string(200000, 'C'));
             write_file(d / (root + "/sub/then.txt"), "added");
             write_file(d / (root + "/sub/c.txt"), "after a kept file, in one folder");
             write_file(d / (root + "/new/inner/n.txt"), "n");
             write_file(d / (root + "/zz.txt"), "last");
         }},
        {"an empty folder", [](const TempDir& d, const std::string& root) { make_dirs(d / root); }},
        {"an empty file, which the archive stores with the next file's place",
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / (root + "/sub"));
             write_file(d / (root + "/sub/a-empty"), "");
         }},
        // An empty entry may be an empty file or an empty folder: a file of DIR there
        // takes its place, empty or not, as a file replaces a file.
        {"a file that was empty when packed, with content now",
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / (root + "/sub"));
             write_file(d / (root + "/sub/.gitkeep"), "kept");
             write_file(d / (root + "/e.log"), "a line");
         },
         [](const TempDir& d, const std::string& root) {
             write_file(d / (root + "/sub/.gitkeep"), "");
             write_file(d / (root + "/e.log"), "");
         }},
        {"an empty file over an empty entry",
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / root);
             write_file(d / (root + "/e.log"), "");
         },
         [](const TempDir& d, const std::string& root) { write_file(d / (root + "/e.log"), ""); }},
        {"files where the archive has empty folders",
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / root);
             rmdir((d / (root + "/empty")).c_str()); // (in the merged tree, the folder goes)
             rmdir((d / (root + "/vacant")).c_str());
             write_file(d / (root + "/empty"), "");
             write_file(d / (root + "/vacant"), "full");
         },
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / (root + "/empty"));
             make_dirs(d / (root + "/vacant"));
         }},
        {"a big file among small ones",
         [](const TempDir& d, const std::string& root) {
             make_dirs(d / (root + "/sub"));
             write_file(d / (root + "/sub/big.bin"), std::string(3 * 1024 * 1024, 'g'));
         }},
    };
    for (const auto& row : rows) {
        TempDir dir;
        make_base(dir, "src");
        if (row.packed)
            row.packed(dir, "src");
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        row.over(dir, "over");
        // The merged tree, made by hand, packed by -c.
        make_base(dir, "merged");
        if (row.packed)
            row.packed(dir, "merged");
        row.over(dir, "merged");
        ASSERT_EQ(quodrel({"-c", "merged", "m.dat", "-s"}, dir.path()).status, 0);
        const Result run = quodrel({"-u", "a.dat", "over", "-s"}, dir.path());
        EXPECT_EQ(run.status, 0) << row.what;
        EXPECT_EQ(run.out.substr(0, 9), "Updating ") << row.what;
        EXPECT_EQ(run.out.substr(run.out.size() - 6), "\nDone\n") << row.what;
        EXPECT_TRUE(read_file(dir / "a.dat") == read_file(dir / "m.dat")) << row.what;
    }
}

TEST(Update, AClashKeepsTheArchivesEntryAndNamesIt) {
    TempDir dir;
    make_base(dir, "src");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    make_dirs(dir / "over/a.txt"); // a folder where the archive has a file
    write_file(dir / "over/a.txt/x", "x");
    write_file(dir / "over/keep", "a file"); // a file where it has a folder
    write_file(dir / "over/sub", "");        // an empty file where its folder holds files
    write_file(dir / "over/new.txt", "new"); // and the rest is updated
    const Result run = quodrel({"-u", "a.dat", "over", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Updating a.dat (8 files)\n"
                       "ERROR! Name clash over/a.txt\n"
                       "ERROR! Name clash over/keep\n"
                       "ERROR! Name clash over/sub\n"
                       "........\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(quodrel({"-l", "a.dat"}, dir.path()).out, "         3 a.txt\n"
                                                        "         0 keep/\n"
                                                        "         4 keep/k.txt\n"
                                                        "         3 new.txt\n"
                                                        "         0 sub/\n"
                                                        "         3 sub/b.txt\n"
                                                        "         0 sub/deeper/\n"
                                                        "    300000 sub/deeper/c.bin\n"
                                                        "5 files, 3 directories, 300013 bytes\n");
}

TEST(Update, AnUnsoundArchiveIsLeftAsItIs) {
    TempDir dir;
    TestRecord up;
    up.name = "..";
    const std::string hostile = ArchiveWriter().record(up).file("ok.txt", "fine").bytes();
    write_file(dir / "h.dat", hostile);
    write_file(dir / "cut.dat", ArchiveWriter().file("a.txt", "hello").bytes(2));
    make_dirs(dir / "over");
    write_file(dir / "over/ok.txt", "new");
    const struct {
        const char* archive;
        std::string out;
    } rows[] = {
        {"h.dat", "ERROR! Unsafe name ..\nERROR! Not updated h.dat\n"},
        {"cut.dat", "ERROR! Entry table cut short in cut.dat\nERROR! Not updated cut.dat\n"},
        {"missing.dat", "ERROR! Cannot open missing.dat\n"},
    };
    for (const auto& row : rows) {
        const Result run = quodrel({"-u", row.archive, "over", "-s"}, dir.path());
        EXPECT_EQ(run.out, row.out) << row.archive;
        EXPECT_EQ(run.status, 1) << row.archive;
    }
    EXPECT_EQ(read_file(dir / "h.dat"), hostile);
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/cut.dat", "/h.dat", "/over", "/over/ok.txt"}));
}

// Whatever ends an update halfway, the archive is the one it was, and nothing of the
// new one is left beside it.
TEST(Update, AnInterruptKeepsTheEarlierArchive) {
    SKIP_UNDER_WINE("POSIX signals");
    TempDir dir(is_dir("/dev/shm") ? "/dev/shm" : "/tmp");
    write_slow_archive(dir / "a.dat");
    make_dirs(dir / "over");
    write_file(dir / "over/new.txt", "new");
    struct stat before = {};
    ASSERT_EQ(stat((dir / "a.dat").c_str(), &before), 0);
    int interrupted = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGKILL}) {
        const int pid = start_quodrel({"-u", "a.dat", "over", "-s"}, dir.path());
        usleep(50000); // well into the copy of the big file
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status))
            break; // done before the signal came: the archive is the new one now
        ++interrupted;
        struct stat after = {};
        ASSERT_EQ(stat((dir / "a.dat").c_str(), &after), 0);
        EXPECT_TRUE(after.st_ino == before.st_ino && after.st_size == before.st_size)
            << strsignal(signal);
        EXPECT_EQ(paths_below(dir.path()),
                  (std::vector<std::string>{"/a.dat", "/over", "/over/new.txt"}))
            << strsignal(signal);
    }
    EXPECT_GT(interrupted, 0);
}

// An archive written over in place while it is updated (another archive's bytes
// copied onto it) is not replaced by a mixture of the two: the update is refused.
TEST(Update, AnArchiveWrittenOverMeanwhileIsNotReplaced) {
    SKIP_UNDER_WINE("POSIX processes");
    TempDir dir(is_dir("/dev/shm") ? "/dev/shm" : "/tmp");
    write_slow_archive(dir / "a.dat");
    make_dirs(dir / "over");
    write_file(dir / "over/new.txt", "new");
    struct stat before = {};
    ASSERT_EQ(stat((dir / "a.dat").c_str(), &before), 0);
    const int pid = start_quodrel({"-u", "a.dat", "over", "-s"}, dir.path());
    usleep(50000); // well into the copy of the big file
    const int archive = open((dir / "a.dat").c_str(), O_WRONLY);
    ASSERT_GE(archive, 0);
    ASSERT_EQ(pwrite(archive, "X", 1, 16 + 20 + 4 + kSlowFile - 1), 1); // same size, new byte
    close(archive);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    struct stat after = {};
    ASSERT_EQ(stat((dir / "a.dat").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino); // not replaced
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/a.dat", "/over", "/over/new.txt"}));
}

// What the folder holds but cannot give never takes away what the archive holds: a
// file the walk cannot read is named and the archive's entry kept, the rest updated;
// a folder it cannot list, whose archive entries would have to go with it, refuses the
// update, and the archive stays as it was.
TEST(Update, WhatCannotBeReadNeverTakesAwayWhatTheArchiveHolds) {
    SKIP_UNDER_WINE("runs as another user");
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "src/lock");
    write_file(dir / "src/lock/x", "the archive's");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    ASSERT_EQ(chmod((dir / "a.dat").c_str(), 0666), 0);
    const std::string before = read_file(dir / "a.dat");
    make_dirs(dir / "over/lock");
    write_file(dir / "over/new.txt", "new");
    write_file(dir / "over/lock/x", "cannot be read");
    ASSERT_EQ(chmod((dir / "over").c_str(), 0777), 0);

    ASSERT_EQ(chmod((dir / "over/lock/x").c_str(), 0), 0);
    Result run = quodrel({"-u", "a.dat", "over", "-s"}, dir.path(), true);
    EXPECT_EQ(run.out, "Updating a.dat (3 files)\nERROR! Cannot open over/lock/x\n...\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(quodrel({"-l", "a.dat"}, dir.path()).out,
              "         0 lock/\n        13 lock/x\n         3 new.txt\n"
              "2 files, 1 directories, 16 bytes\n");

    write_file(dir / "a.dat", before);
    ASSERT_EQ(chmod((dir / "over/lock/x").c_str(), 0644), 0);
    ASSERT_EQ(chmod((dir / "over/lock").c_str(), 0), 0);
    run = quodrel({"-u", "a.dat", "over", "-s"}, dir.path(), true);
    EXPECT_NE(run.out.find("ERROR! Cannot open over/lock\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - 25), "ERROR! Not updated a.dat\n") << run.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(read_file(dir / "a.dat") == before);
    ASSERT_EQ(chmod((dir / "over/lock").c_str(), 0755), 0);
}

// An archive not in creation's order (another tool's) still meets the folder's names:
// nothing is added twice, and the result lists as creation would.
TEST(Update, NamesMeetInWhateverOrderTheArchiveKeepsThem) {
    TempDir dir;
    write_file(dir / "a.dat", ArchiveWriter().file("b", "B").file("a", "A").bytes());
    make_dirs(dir / "over");
    write_file(dir / "over/a", "new");
    const Result run = quodrel({"-u", "a.dat", "over", "-s"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(quodrel({"-l", "a.dat"}, dir.path()).out,
              "         3 a\n         1 b\n2 files, 0 directories, 4 bytes\n");
    EXPECT_EQ(quodrel({"-t", "a.dat"}, dir.path()).status, 0);
}

TEST(Update, ANameTheSystemTakesForAnEntrysKeepsTheEntrysSpelling) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/Map.txt", "old");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    make_dirs(dir / "over");
    write_file(dir / "over/MAP.TXT", "new!");
    ASSERT_EQ(quodrel({"-u", "a.dat", "over", "-s"}, dir.path()).status, 0);
    // On Windows one file, spelled as the archive spells it; elsewhere two names.
    EXPECT_EQ(quodrel({"-l", "a.dat"}, dir.path()).out,
              under_wine() ? "         4 Map.txt\n1 files, 0 directories, 4 bytes\n"
                           : "         4 MAP.TXT\n         3 Map.txt\n"
                             "2 files, 0 directories, 7 bytes\n");
}

} // namespace

namespace {

// What a run left of its own beside the archive: its temporary files.
std::vector<std::string> leftovers(const TempDir& dir) {
    std::vector<std::string> left;
    for (const std::string& path : paths_below(dir.path()))
        if (path.find("/.quodrel-") != std::string::npos)
            left.push_back(path);
    return left;
}

// `count` files named `prefix` and a number below `root`, each holding its own name.
void make_files(const TempDir& dir, const std::string& root, const std::string& prefix, int count) {
    make_dirs(dir / root);
    for (int i = 0; i < count; ++i)
        write_file(dir / (root + "/" + prefix + std::to_string(i)), prefix + std::to_string(i));
}

// While one run replaces an archive (held at a chosen moment, its place claimed), a
// second run that would replace it is turned away at once, and nothing of the first is
// lost; the first then ends as it would have.
TEST(Update, ASecondRunThatWouldReplaceTheArchiveIsTurnedAway) {
    const struct {
        std::vector<std::string> second;
        std::string out;
    } rows[] = {
        {{"-u", "a.dat", "two", "-s"}, "ERROR! Not updated a.dat\n"},
        {{"-c", "two", "a.dat", "-s"}, "Creating a.dat (3 files)\nERROR! Cannot create a.dat\n"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        make_base(dir, "src");
        make_files(dir, "one", "a", 3);
        make_files(dir, "two", "b", 3);
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        StoppedRun first("committing", {"-u", "a.dat", "one", "-s"}, dir.path());
        ASSERT_TRUE(first.stopped());
        const Result second = quodrel(row.second, dir.path());
        EXPECT_EQ(second.out, row.out) << row.second[0];
        EXPECT_EQ(second.status, 1) << row.second[0];
        const Result done = first.finish();
        EXPECT_EQ(done.status, 0) << done.out;
        const std::string listed = quodrel({"-l", "a.dat"}, dir.path()).out;
        EXPECT_NE(listed.find(" a0\n"), std::string::npos) << listed;
        EXPECT_EQ(listed.find(" b0\n"), std::string::npos) << listed;
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
    }
}

// Runs started together on one archive, at staggered moments: every run either has
// its folder in the final archive or printed its line and exit status 1; never two
// "Done" with one folder lost.
TEST(Update, RunsStartedTogetherNeverLoseOneAnother) {
    SKIP_UNDER_WINE("POSIX processes started at chosen moments");
    TempDir dir(is_dir("/dev/shm") ? "/dev/shm" : "/tmp");
    make_base(dir, "src");
    make_files(dir, "one", "a", 400);
    make_files(dir, "two", "b", 400);
    const struct {
        std::vector<std::string> second;
        std::string turned_away; // what the second prints when the first has the archive
    } seconds[] = {
        {{"-u", "a.dat", "two", "-s"}, "ERROR! Not updated a.dat\n"},
        {{"-c", "two", "a.dat", "-s"}, "Creating a.dat (400 files)\nERROR! Cannot create a.dat\n"},
    };
    for (int round = 0; round < 50; ++round) {
        const auto& row = seconds[round % 2];
        const bool updates = row.second[0] == "-u";
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        StoppedRun first("none", {"-u", "a.dat", "one", "-s"}, dir.path());
        usleep(static_cast<useconds_t>(round % 25) * 2000); // 0 to 48 ms apart
        const Result second = quodrel(row.second, dir.path());
        const Result done = first.finish();
        const std::string listed = quodrel({"-l", "a.dat"}, dir.path()).out;
        const bool first_in = listed.find(" a0\n") != std::string::npos;
        const bool second_in = listed.find(" b0\n") != std::string::npos;
        const std::string what = "round " + std::to_string(round) + ": " + done.out + " | " +
                                 second.out + " | " + listed;
        if (done.status == 0 && second.status == 0) {
            // One after the other: an update lays its folder over what the other left,
            // a creation replaces it.
            EXPECT_TRUE(second_in) << what;
            EXPECT_TRUE(first_in || !updates) << what;
        } else if (done.status == 0) {
            EXPECT_TRUE(first_in) << what;
            EXPECT_EQ(second.out, row.turned_away) << what;
            EXPECT_EQ(second.status, 1) << what;
        } else {
            EXPECT_TRUE(second_in) << what;
            EXPECT_EQ(second.status, 0) << what;
            EXPECT_EQ(done.out, "ERROR! Not updated a.dat\n") << what;
            EXPECT_EQ(done.status, 1) << what;
        }
        EXPECT_EQ(quodrel({"-t", "a.dat"}, dir.path()).status, 0) << what;
    }
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

// The commit is the end of the run: a signal before it ends the run as an interrupted
// one with the earlier archive in place; from it on, the run ends as the finished one
// it is, with the new archive in place.
TEST(Update, ASignalAroundTheCommitEndsTheRunAsTheArchiveSays) {
    SKIP_UNDER_WINE("POSIX signals");
    const struct {
        const char* operation;
        const char* moment;
        int signal;
        int status;
        bool replaced;
    } rows[] = {
        {"-u", "commit", SIGTERM, 143, false},  {"-u", "commit", SIGINT, 130, false},
        {"-u", "committing", SIGTERM, 0, true}, {"-u", "committing", SIGINT, 0, true},
        {"-u", "placed", SIGTERM, 0, true},     {"-u", "end", SIGHUP, 0, true},
        {"-c", "commit", SIGTERM, 143, false},  {"-c", "committing", SIGTERM, 0, true},
        {"-c", "placed", SIGQUIT, 0, true},
    };
    for (const auto& row : rows) {
        TempDir dir;
        make_base(dir, "src");
        make_files(dir, "one", "a", 3);
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        const std::string before = read_file(dir / "a.dat");
        const std::vector<std::string> args = row.operation == std::string("-u")
                                                  ? std::vector<std::string>{"-u", "a.dat", "one"}
                                                  : std::vector<std::string>{"-c", "one", "a.dat"};
        const std::string what =
            std::string(row.operation) + " at " + row.moment + ", " + strsignal(row.signal);
        StoppedRun run(row.moment, args, dir.path());
        ASSERT_TRUE(run.stopped()) << what;
        run.signal(row.signal);
        const Result end = run.finish();
        EXPECT_EQ(end.status, row.status) << what;
        EXPECT_EQ(read_file(dir / "a.dat") != before, row.replaced) << what;
        EXPECT_EQ(end.out.size() >= 6 && end.out.substr(end.out.size() - 6) == "\nDone\n",
                  row.replaced)
            << what << ": " << end.out;
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{}) << what;
    }
}

// An archive path that is a link to nothing yet: its target is made by the archive put
// in place, and by nothing else; a run ended before its commit leaves no file there.
TEST(Update, ADanglingLinksTargetIsMadeOnlyByACompleteArchive) {
    SKIP_UNDER_WINE("POSIX links and signals");
    const struct {
        const char* moment;
        int signal; // 0: none sent
        int status;
        bool made;
    } rows[] = {
        {"commit", SIGTERM, 143, false},
        {"commit", SIGHUP, 129, false},
        {"committing", SIGTERM, 0, true},
        {"none", 0, 0, true},
    };
    for (const auto& row : rows) {
        TempDir dir;
        make_files(dir, "one", "a", 3);
        make_dirs(dir / "elsewhere");
        ASSERT_EQ(symlink("elsewhere/made.dat", (dir / "link.dat").c_str()), 0);
        const std::string what = std::string(row.moment) + " " + std::to_string(row.signal);
        StoppedRun run(row.moment, {"-c", "one", "link.dat", "-s"}, dir.path());
        if (row.signal != 0) {
            ASSERT_TRUE(run.stopped()) << what;
            // Nothing stands at the target while the archive is written.
            EXPECT_EQ(paths_below(dir / "elsewhere"), std::vector<std::string>{}) << what;
            run.signal(row.signal);
        }
        const Result end = run.finish();
        EXPECT_EQ(end.status, row.status) << what << ": " << end.out;
        EXPECT_EQ(paths_below(dir / "elsewhere"),
                  row.made ? std::vector<std::string>{"/made.dat"} : std::vector<std::string>{})
            << what;
        if (row.made) {
            EXPECT_EQ(quodrel({"-l", "link.dat"}, dir.path()).out,
                      "         2 a0\n         2 a1\n         2 a2\n"
                      "3 files, 0 directories, 6 bytes\n")
                << what;
        }
        struct stat link = {};
        EXPECT_TRUE(lstat((dir / "link.dat").c_str(), &link) == 0 && S_ISLNK(link.st_mode)) << what;
    }
}

// A signal at any moment of a run leaves the archive the status says: the earlier one
// and 143 when the run was ended, the new one and "Done" with 0 when it finished.
TEST(Update, ASignalAtAnyMomentLeavesTheArchiveTheStatusSays) {
    SKIP_UNDER_WINE("POSIX signals");
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/big.bin", std::string(24 << 20, 'b'));
    make_files(dir, "one", "a", 200);
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    const std::string before = read_file(dir / "a.dat");
    int ended = 0, finished = 0;
    for (int round = 0; round < 16; ++round) {
        write_file(dir / "a.dat", before);
        const int pid = start_quodrel({"-u", "a.dat", "one", "-s"}, dir.path());
        usleep(static_cast<useconds_t>(round) * 6000);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
        EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        EXPECT_EQ(read_file(dir / "a.dat") == before, killed) << round;
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{}) << round;
        (killed ? ended : finished) += 1;
    }
    EXPECT_GT(ended + finished, 0);
}

// An archive that another program put in place of the one read, or took away, while a
// run replaced it, is never replaced unseen: both are kept, the run's beside it, named.
TEST(Update, AnArchiveReplacedMeanwhileIsKeptAndTheNewOneLeftBesideIt) {
    const struct {
        std::vector<std::string> args;
        bool archive_before; // an archive stands there when the run begins
        bool other_after;    // another file stands there when it ends (else nothing)
    } rows[] = {
        {{"-u", "a.dat", "one", "-s"}, true, true},
        {{"-c", "one", "a.dat", "-s"}, true, true},
        {{"-c", "one", "a.dat", "-s"}, false, true},
        {{"-c", "one", "a.dat", "-s"}, true, false},
    };
    for (const auto& row : rows) {
        TempDir dir;
        make_base(dir, "src");
        make_files(dir, "one", "a", 2);
        if (row.archive_before) {
            ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        }
        StoppedRun run("commit", row.args, dir.path());
        ASSERT_TRUE(run.stopped());
        write_file(dir / "other", "another program's");
        if (row.other_after) {
            ASSERT_EQ(rename((dir / "other").c_str(), (dir / "a.dat").c_str()), 0);
        } else {
            ASSERT_EQ(unlink((dir / "a.dat").c_str()), 0);
        }
        const Result end = run.finish();
        const std::string what = row.args[0] + (row.archive_before ? " over an archive" : "");
        EXPECT_EQ(end.status, 1) << what;
        const std::string kept_line = "ERROR! Archive replaced meanwhile, this one kept as ";
        const std::size_t at = end.out.find(kept_line);
        ASSERT_NE(at, std::string::npos) << what << ": " << end.out;
        const std::string kept =
            end.out.substr(at + kept_line.size(), end.out.size() - at - kept_line.size() - 1);
        EXPECT_EQ(kept.rfind(".quodrel-", 0), 0u) << kept;
        EXPECT_EQ(end.out.substr(at + kept_line.size() + kept.size()), "\n") << what;
        EXPECT_EQ(exists(dir / "a.dat"), row.other_after) << what;
        if (row.other_after) {
            EXPECT_EQ(read_file(dir / "a.dat"), "another program's") << what;
        }
        // The run's archive, whole, beside it.
        ASSERT_TRUE(exists(dir / kept)) << what;
        EXPECT_EQ(quodrel({"-t", kept}, dir.path()).status, 0) << what;
        EXPECT_NE(quodrel({"-l", kept}, dir.path()).out.find(" a0\n"), std::string::npos);
    }
}

// The archive replaced keeps its owner and group as well as its rights, set-id bits
// included: the owner is given first, as a change of owner clears them.
TEST(Update, TheReplacedArchiveKeepsItsOwnerGroupAndRights) {
    SKIP_UNDER_WINE("POSIX owners");
    if (geteuid() != 0)
        GTEST_SKIP() << "only the superuser gives another user's owner";
    const struct {
        std::vector<std::string> args;
        mode_t mode;
        bool unprivileged; // run by the owner, nobody, whose writes clear set-id bits
        gid_t group;
    } rows[] = {
        {{"-u", "a.dat", "one", "-s"}, 0640, false, 100}, // nobody:users
        {{"-c", "one", "a.dat", "-s"}, 0660, false, 100},
        {{"-u", "a.dat", "one", "-s"}, 02664, false, 100},
        {{"-u", "a.dat", "one", "-s"}, 06775, true, 65534}, // nobody:nogroup
        {{"-c", "one", "a.dat", "-s"}, 04755, true, 65534},
    };
    for (const auto& row : rows) {
        TempDir dir;
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
        make_base(dir, "src");
        make_files(dir, "one", "a", 2);
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        ASSERT_EQ(chown((dir / "a.dat").c_str(), 65534, row.group), 0);
        ASSERT_EQ(chmod((dir / "a.dat").c_str(), row.mode), 0);
        struct stat before = {};
        ASSERT_EQ(stat((dir / "a.dat").c_str(), &before), 0);
        const std::string what = row.args[0] + (row.unprivileged ? " by nobody" : "");
        EXPECT_EQ(quodrel(row.args, dir.path(), row.unprivileged).status, 0) << what;
        struct stat after = {};
        ASSERT_EQ(stat((dir / "a.dat").c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << what;
        EXPECT_EQ(after.st_uid, 65534u) << what;
        EXPECT_EQ(after.st_gid, row.group) << what;
        EXPECT_EQ(after.st_mode & 07777, row.mode) << what;
    }
}

// An archive whose access list lets one user more in keeps that list: the group bits of
// its mode are the list's mask, and given alone they would let the owning group write
// where it could only read.
TEST(Update, AnAccessListStaysWithTheReplacedArchive) {
    SKIP_UNDER_WINE("POSIX access lists");
    if (std::system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl is not installed";
    const std::vector<std::string> runs[] = {
        {"-u", "a.dat", "one", "-s"},
        {"-c", "one", "a.dat", "-s"},
    };
    for (const auto& args : runs) {
        TempDir dir;
        make_base(dir, "src");
        make_files(dir, "one", "a", 2);
        ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
        ASSERT_EQ(chmod((dir / "a.dat").c_str(), 0640), 0);
        if (std::system(("setfacl -m u:nobody:rw '" + (dir / "a.dat") + "' 2>/dev/null").c_str()) !=
            0)
            GTEST_SKIP() << "no access lists on this file system";
        const std::string list = "getfacl -cp '" + (dir / "a.dat") + "' > '" + (dir / "acl") + "'";
        ASSERT_EQ(std::system(list.c_str()), 0);
        const std::string before = read_file(dir / "acl");
        EXPECT_EQ(before, "user::rw-\nuser:nobody:rw-\ngroup::r--\nmask::rw-\nother::---\n\n");
        EXPECT_EQ(quodrel(args, dir.path()).status, 0) << args[0];
        ASSERT_EQ(std::system(list.c_str()), 0);
        EXPECT_EQ(read_file(dir / "acl"), before) << args[0];
        EXPECT_NE(quodrel({"-l", "a.dat"}, dir.path()).out.find(" a0\n"), std::string::npos);
    }
}

} // namespace
