// Extraction of valid and odd-but-valid archives: exact output and exact files.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

Result extract(const TempDir& dir, const std::string& bytes, const std::string& dest = "out") {
    write_file(dir / "a.dat", bytes);
    return quodrel({"-e", "a.dat", dest, "-s"}, dir.path());
}

std::string output(const std::string& count_line, const std::string& body) {
    return "Extracting a.dat\n" + count_line + "\n" + body + "\nDone\n";
}

TEST(Extract, WorkedExample) {
    TempDir dir;
    const Result run = extract(
        dir, ArchiveWriter().file("a.txt", "hello").dir("sub", 1).file("b.bin", "abc").bytes());
    EXPECT_EQ(run.out, output("3 files, data offset 96", "..."));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(tree(dir / "out"), "d /sub\nf /a.txt hello\nf /sub/b.bin abc\n");
}

TEST(Extract, EmptyArchivesStillCreateTheDestination) {
    struct Case {
        std::string bytes, count_line;
    } cases[] = {
        {ArchiveWriter().bytes(), "0 files, data offset 16"},
        {"", "0 files, data offset 0"}, // an empty file reads as a header of zeros
        {ArchiveWriter().bytes(0xfffffffb), "-5 files, data offset 16"},
        {ArchiveWriter().file("x", "y").bytes(0x80000000), "-2147483648 files, data offset 40"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const Result run = extract(dir, c.bytes);
        EXPECT_EQ(run.out, output(c.count_line, "")) << c.count_line;
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(is_dir(dir / "out"));
        EXPECT_EQ(tree(dir / "out"), "");
    }
}

TEST(Extract, ChildCountsDecideWhereEntriesLand) {
    TempDir dir;
    // "d" claims one entry: f1 lands inside it, f2 goes back to the top level.
    // "e" claims none: it stays empty and f3 lands beside it.
    const Result run = extract(dir, ArchiveWriter()
                                        .dir("d", 1)
                                        .file("f1", "1")
                                        .file("f2", "2")
                                        .dir("e", 0)
                                        .file("f3", "3")
                                        .bytes());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(tree(dir / "out"), "d /d\nd /e\nf /d/f1 1\nf /f2 2\nf /f3 3\n");
}

TEST(Extract, NestedDirectoriesCloseTogether) {
    TempDir dir;
    const Result run = extract(dir, ArchiveWriter()
                                        .dir("a", 1)
                                        .dir("b", 2)
                                        .file("x", "1")
                                        .dir("c", 1)
                                        .file("y", "2")
                                        .file("z", "3")
                                        .bytes());
    EXPECT_EQ(tree(dir / "out"), "d /a\nd /a/b\nd /a/b/c\nf /a/b/c/y 2\nf /a/b/x 1\nf /z 3\n");
}

TEST(Extract, SizeZeroIsADirectoryAndColonsBecomeHashes) {
    TempDir dir;
    TestRecord empty_file;
    empty_file.name = "was-empty.txt";
    empty_file.offset = 0;
    const Result run = extract(dir, ArchiveWriter().record(empty_file).file("a:b::c", "x").bytes());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(tree(dir / "out"), "d /was-empty.txt\nf /a#b##c x\n");
}

// A read-only file is replaced on Linux, where the folder's rights decide; Windows
// refuses to replace it, and so does the program there: kept, and named.
TEST(Extract, ExistingFilesAreReplaced) {
    TempDir dir;
    make_dirs(dir / "out");
    write_file(dir / "out/a.txt", "a much longer old content");
    write_file(dir / "out/ro.txt", "read-only");
    ASSERT_EQ(chmod((dir / "out/ro.txt").c_str(), 0444), 0); // Windows' R attribute under Wine
    const Result run =
        extract(dir, ArchiveWriter().file("a.txt", "new").file("ro.txt", "new too").bytes());
    EXPECT_EQ(read_file(dir / "out/a.txt"), "new");
    if (under_wine()) {
        EXPECT_EQ(run.out,
                  output("2 files, data offset 72", "..ERROR! Cannot create out/ro.txt\n"));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(read_file(dir / "out/ro.txt"), "read-only");
    } else {
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(read_file(dir / "out/ro.txt"), "new too");
    }
}

TEST(Extract, ArchiveThatCannotBeOpened) {
    TempDir dir;
    make_dirs(dir / "folder.dat");
    ASSERT_EQ(mkfifo((dir / "pipe.dat").c_str(), 0666), 0); // must not block
    for (const std::string name : {"missing.dat", "folder.dat", "pipe.dat"}) {
        const Result run = quodrel({"-e", name, "out", "-s"}, dir.path());
        EXPECT_EQ(run.out, "ERROR! Cannot open " + name + "\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(exists(dir / "out"));
    }
}

TEST(Extract, FileThatCannotBeCreatedIsReportedAndSkipped) {
    TempDir dir;
    make_dirs(dir / "out/a.txt"); // a directory stands where the file goes
    const Result run = extract(dir, ArchiveWriter().file("a.txt", "1").file("b.txt", "2").bytes());
    EXPECT_EQ(run.out, output("2 files, data offset 72", ".ERROR! Cannot create out/a.txt\n."));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "out/b.txt"), "2");
    // After a destination typed with a closing separator, one separator only.
    const std::string typed = under_wine() ? "out\\" : "out/";
    const Result again = quodrel({"-e", "a.dat", typed, "-s"}, dir.path());
    EXPECT_EQ(again.out, "Extracting a.dat\n2 files, data offset 72\n.ERROR! Cannot create " +
                             typed + "a.txt\n.\nDone\n");
}

// A folder of the archive cannot be made (a file stands in its place): it is named
// once and nothing below it is tried.
TEST(Extract, FolderThatCannotBeMadeIsReportedOnceWithItsContentsLeftOut) {
    TempDir dir;
    make_dirs(dir / "out");
    write_file(dir / "out/sub", "a plain file");
    const Result run = extract(
        dir, ArchiveWriter().file("a.txt", "hello").dir("sub", 1).file("b.bin", "abc").bytes());
    EXPECT_EQ(run.out, output("3 files, data offset 96", "..ERROR! Cannot create out/sub\n."));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tree(dir / "out"), "f /a.txt hello\nf /sub a plain file\n");
}

TEST(Extract, DestinationThatCannotBeMadeStopsEverything) {
    TempDir dir;
    write_file(dir / "file", "x");
    const std::string archive = ArchiveWriter().file("a.txt", "hello").bytes();
    for (const std::string dest : {"file", "missing/out"}) {
        const Result run = extract(dir, archive, dest);
        EXPECT_EQ(run.out,
                  "Extracting a.dat\n1 files, data offset 44\nERROR! Cannot create " + dest + "\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/a.dat", "/file"}));
}

TEST(Extract, DestinationInAReadOnlyFolderStopsEverything) {
    SKIP_UNDER_WINE("runs as another user");
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "locked");
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0555), 0);
    write_file(dir / "a.dat", ArchiveWriter().dir("d", 1).file("a.txt", "hello").bytes());
    const Result run = quodrel({"-e", "a.dat", "locked/out", "-s"}, dir.path(), true);
    EXPECT_EQ(run.out,
              "Extracting a.dat\n2 files, data offset 68\nERROR! Cannot create locked/out\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(exists(dir / "locked/out"));
}

TEST(Extract, AFullDiskLeavesNoTruncatedFile) {
    TempDir dir;
    const std::string big(3 << 20, 'b');
    write_file(dir / "a.dat",
               ArchiveWriter().file("small", "s").file("big", big).file("after", "a").bytes());
    const Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path(), false, 1 << 20);
    EXPECT_EQ(run.out, "Extracting a.dat\n3 files, data offset 96\n"
                       "..ERROR! Cannot write out/big\n.\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tree(dir / "out"), "f /after a\nf /small s\n");
}

TEST(Extract, EmptyDestinationMeansTheCurrentFolder) {
    TempDir dir;
    const Result run = extract(dir, ArchiveWriter().file("quodrel-probe.txt", "x").bytes(), "");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(read_file(dir / "quodrel-probe.txt"), "x");
    EXPECT_FALSE(exists("/quodrel-probe.txt"));
}

} // namespace
