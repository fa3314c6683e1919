// The routes for people at a prompt and for scripts: help, version, list and test.
// No banner, no key wait, nothing written.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

TEST(Inspect, HelpAndVersion) {
    TempDir dir;
    for (const std::string help : {"--help", "-h"}) {
        const Result run = quodrel({help}, dir.path());
        EXPECT_EQ(run.out, help_text());
        EXPECT_EQ(run.status, 0);
    }
    for (const std::string version : {"--version", "-v"}) {
        const Result run = quodrel({version}, dir.path());
        EXPECT_EQ(run.out, kVersion);
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_TRUE(paths_below(dir.path()).empty()); // no "--help.dat", no "-v.dat"
}

TEST(Inspect, ListShowsEveryEntryInTableOrder) {
    TempDir dir;
    write_file(dir / "a.dat", ArchiveWriter()
                                  .file("a.txt", "hello")
                                  .dir("sub", 2)
                                  .file("b:c.bin", "abc")
                                  .dir("empty", 0)
                                  .file("top", std::string(1234567, 't'))
                                  .bytes());
    const Result run = quodrel({"-l", "a.dat"}, dir.path());
    EXPECT_EQ(run.out, "         5 a.txt\n"
                       "         0 sub/\n"
                       "         3 sub/b#c.bin\n"
                       "         0 sub/empty/\n"
                       "   1234567 top\n"
                       "3 files, 2 directories, 1234575 bytes\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/a.dat"}));
}

TEST(Inspect, DamageStopsListAndTestAsItStopsExtraction) {
    TempDir dir;
    write_file(dir / "cut.dat", ArchiveWriter().file("a.txt", "hello").bytes(2));
    for (const std::string route : {"-l", "-t"}) {
        Result run = quodrel({route, "cut.dat"}, dir.path());
        EXPECT_EQ(run.out, "ERROR! Entry table cut short in cut.dat\n");
        EXPECT_EQ(run.status, 1);
        run = quodrel({route, "missing.dat"}, dir.path());
        EXPECT_EQ(run.out, "ERROR! Cannot open missing.dat\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/cut.dat"}));
}

TEST(Inspect, TestTellsEveryProblemExtractionWouldMeetAndWritesNothing) {
    TempDir dir;
    write_file(dir / "good.dat",
               ArchiveWriter().file("a.txt", "hello").dir("sub", 1).file("b", "b").bytes());
    Result run = quodrel({"-t", "good.dat"}, dir.path());
    EXPECT_EQ(run.out, "2 files, 1 directories, 6 bytes\n");
    EXPECT_EQ(run.status, 0);

    TestRecord long_name; // 256 bytes with no NUL: a name over the limit
    long_name.name = std::string(256, 'n');
    long_name.name_length = 256;
    long_name.offset = 4;
    long_name.size = 1;
    TestRecord past;
    past.name = "past";
    past.offset = 100;
    past.size = 5;
    ArchiveWriter bad;
    bad.file("ok", "1")
        .dir("..", 1)
        .file("inside", "2") // refused with its directory: no line of its own
        .file("a\\b", "3")
        .record(past)
        .record(long_name)
        .data("4")
        .file("CON", "5"); // a device name on Windows only
    write_file(dir / "bad.dat", bad.bytes());
    run = quodrel({"-t", "bad.dat"}, dir.path());
    EXPECT_EQ(run.out, std::string("ERROR! Unsafe name ..\n"
                                   "ERROR! Unsafe name a\\b\n"
                                   "ERROR! Data cut short for past\n"
                                   "ERROR! Name too long ") +
                           std::string(256, 'n') + "\n" +
                           (under_wine() ? "ERROR! Unsafe name CON\n" : "") +
                           "6 files, 1 directories, 10 bytes\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/bad.dat", "/good.dat"}));
}

TEST(Inspect, OtherArgumentListsStillShowTheUsage) {
    TempDir dir;
    write_file(dir / "a.dat", ArchiveWriter().file("a.txt", "hello").bytes());
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-l", "a.dat", "more"},
                                                 {"-t", "a.dat", "x"},
                                                 {"--help", "x"},
                                                 {"-d", "a.dat"},
                                                 {"-d", "a.dat", "x", "y"},
                                                 {"-L", "a.dat"}}) {
        const Result run = quodrel(args, dir.path());
        EXPECT_EQ(run.out, kBanner + kUsage) << args[0];
        EXPECT_EQ(run.status, 2);
    }
}

} // namespace
