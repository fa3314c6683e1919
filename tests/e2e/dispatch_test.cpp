// The command line and the dropped-path routes, through the real program.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace e2e;
using testing_support::ArchiveWriter;

namespace {

const std::string kExample = ArchiveWriter().file("a.txt", "hello").bytes();

std::string extraction(const std::string& archive) {
    return "Extracting " + archive + "\n1 files, data offset 44\n.\nDone\n";
}

TEST(Dispatch, ArgumentsThatFitNoRouteShowUsage) {
    TempDir dir;
    make_dirs(dir / "d");
    make_dirs(dir / "d2");
    const struct {
        std::vector<std::string> args;
        bool banner;
    } rows[] = {
        {{}, true},                                // nothing
        {{"-e", "a.dat"}, true},                   // two arguments
        {{"-E", "a.dat", "out"}, true},            // the mode is case-sensitive
        {{"-x", "a.dat", "out"}, true},            // no such mode
        {{"-s", "-e", "a.dat", "out"}, true},      // "-s" counts only in fourth place
        {{"-u", "a.dat", "d", "d2"}, true},        // -u takes nothing past its folder
        {{"-u", "a.dat", "d", "-s", "d2"}, false}, // nor past its -s
        {{"-u", "a.dat", "d", "-S"}, true},
        {{"-d", "a.dat", "d", "d2"}, true},
        {{"-u", "-", "d"}, true}, // -u and -d need an archive file
        {{"-u", "-", "d", "-s"}, false},
        {{"-d", "-", "d"}, true},
    };
    for (const auto& row : rows) {
        const Result run = quodrel(row.args, dir.path());
        EXPECT_EQ(run.out, (row.banner ? kBanner : "") + kUsage) << row.args.size();
        EXPECT_EQ(run.status, 2);
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/d", "/d2"}));
}

TEST(Dispatch, FourthArgumentDashSDropsTheBannerOnly) {
    TempDir dir;
    write_file(dir / "a.dat", kExample);
    Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, extraction("a.dat"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / "out/a.txt"), "hello");

    run = quodrel({"-e", "a.dat", "out2", "-S"}, dir.path());
    EXPECT_EQ(run.out, kBanner + extraction("a.dat"));
    run = quodrel({"-e", "a.dat", "out3", "extra", "more"}, dir.path());
    EXPECT_EQ(run.out, kBanner + extraction("a.dat"));
}

TEST(Dispatch, DroppedArchiveInAnyLetterCaseIsExtractedBesideItself) {
    TempDir dir;
    for (const std::string name : {"data.DAT", "maps.dat", "mix.DaT"}) {
        write_file(dir / name, kExample);
        const Result run = quodrel({name}, dir.path());
        EXPECT_EQ(run.out, kBanner + extraction(name) + kPress);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(read_file(dir / (name.substr(0, name.size() - 4) + "/a.txt")), "hello");
    }
}

TEST(Dispatch, DroppedFileOfAnotherKindShowsUsage) {
    TempDir dir;
    write_file(dir / "notes.txt", "text");
    write_file(dir / "dat", "text"); // shorter than the suffix
    for (const std::string name : {"notes.txt", "dat"}) {
        const Result run = quodrel({name}, dir.path());
        EXPECT_EQ(run.out, kBanner + kUsage);
        EXPECT_EQ(run.status, 2);
    }
}

TEST(Dispatch, DroppedArchiveNamedOnlyDatExtractsIntoTheCurrentFolder) {
    TempDir dir;
    write_file(dir / ".dat", ArchiveWriter().file("quodrel-probe.txt", "x").bytes());
    const Result run = quodrel({".dat"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(read_file(dir / "quodrel-probe.txt"), "x");
    EXPECT_FALSE(exists("/quodrel-probe.txt"));
}

TEST(Dispatch, DroppedDirectoryIsPackedBesideItself) {
    TempDir dir;
    make_dirs(dir / "maps/sub");
    write_file(dir / "maps/sub/b.bin", "abc");
    const Result run = quodrel({"maps"}, dir.path());
    EXPECT_EQ(run.out, kBanner + "Creating maps.dat (2 files)\n..\nDone\n" + kPress);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / "maps.dat").size(), 16u + 2 * 20 + 4 + 8 + 3);
}

// A path that names nothing, or that cannot be opened as a file (here a FIFO, which
// must not block), takes the creation route and is refused as no folder to pack.
TEST(Dispatch, DroppedPathThatIsNoReadableFileNorFolderIsRefused) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0666), 0);
    write_file(dir / "nothing.dat", "GOOD");
    for (const std::string name : {"nothing", "pipe", "mapz"}) {
        const Result run = quodrel({name}, dir.path());
        EXPECT_EQ(run.out, kBanner + "Creating " + name + ".dat (0 files)\nERROR! Cannot open " +
                               name + "\n" + kPress);
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(read_file(dir / "nothing.dat"), "GOOD");
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/nothing.dat", "/pipe"}));
}

TEST(Dispatch, DroppedFolderWithTrailingSeparatorsIsPackedBesideItself) {
    TempDir dir;
    make_dirs(dir / "maps");
    write_file(dir / "maps/a.txt", "hello");
    std::vector<std::string> dropped = {"maps/", "maps//"};
    if (under_wine())
        dropped.push_back("maps\\");
    for (const std::string& path : dropped) {
        const Result run = quodrel({path}, dir.path());
        EXPECT_EQ(run.out, kBanner + "Creating maps.dat (1 files)\n.\nDone\n" + kPress);
        EXPECT_EQ(read_file(dir / "maps.dat"), kExample) << path;
        EXPECT_FALSE(exists(dir / "maps/.dat"));
    }
}

// A dropped folder named by "." or ".." is packed under its own name, beside it
// (named as the system resolves it), never into a "..dat" inside it.
TEST(Dispatch, DroppedFolderNamedByDotsIsPackedUnderItsOwnName) {
    TempDir dir;
    make_dirs(dir / "maps");
    write_file(dir / "maps/a.txt", "hello");
    std::string archive = dir / "maps.dat";
    if (under_wine()) {
        archive = "Z:" + archive;
        for (char& c : archive)
            c = c == '/' ? '\\' : c;
    }
    const struct {
        std::string dropped, cwd;
    } rows[] = {{"maps/.", dir.path()},
                {".", dir / "maps"},
                {"maps/./", dir.path()},
                {under_wine() ? "maps\\." : "maps/.", dir.path()}};
    for (const auto& row : rows) {
        const Result run = quodrel({row.dropped}, row.cwd);
        EXPECT_EQ(run.out, kBanner + "Creating " + archive + " (1 files)\n.\nDone\n" + kPress)
            << row.dropped;
        EXPECT_EQ(read_file(dir / "maps.dat"), kExample) << row.dropped;
        EXPECT_EQ(paths_below(dir.path()),
                  (std::vector<std::string>{"/maps", "/maps.dat", "/maps/a.txt"}));
    }
}

TEST(Dispatch, CreateTakesPathsByPosition) {
    TempDir dir;
    make_dirs(dir / "tree");
    write_file(dir / "tree/a.txt", "hello");
    const Result run = quodrel({"-c", "tree", "p.dat", "extra"}, dir.path());
    EXPECT_EQ(run.out, kBanner + "Creating p.dat (1 files)\n.\nDone\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / "p.dat"), kExample);
}

} // namespace
