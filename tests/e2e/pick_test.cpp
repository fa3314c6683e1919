// Taking only what is needed out of an archive: chosen entries into a folder (-x),
// one file on standard output (-p).
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

std::string maps_archive() {
    return ArchiveWriter()
        .dir("maps", 4)
        .file("level1.map", "one")
        .file("level2.map", "two")
        .file("notes.txt", "n")
        .dir("sub", 1)
        .file("deep.map", "deep")
        .dir("textures", 2)
        .file("wall.png", "WALL")
        .file("star*.png", "STAR")
        .file("top.txt", "top")
        .file("a:b", "colon")
        .bytes();
}

TEST(Pick, ChosenEntriesAndTheFoldersAboveThem) {
    TempDir dir;
    write_file(dir / "m.dat", maps_archive());
    const Result run =
        quodrel({"-x", "m.dat", "out", "maps/*.map", "textures/", "a#b"}, dir.path());
    // Windows holds no "*" in a name: there it is refused, as extraction refuses it.
    EXPECT_EQ(run.out, under_wine() ? "ERROR! Unsafe name out/textures/star*.png\n"
                                      "4 files, 2 directories, 15 bytes\n"
                                    : "5 files, 2 directories, 19 bytes\n");
    EXPECT_EQ(run.status, under_wine() ? 1 : 0);
    // "*" stays within one part: maps/sub/deep.map is not taken.
    EXPECT_EQ(tree(dir / "out"),
              "d /maps\nd /textures\nf /a#b colon\nf /maps/level1.map one\n"
              "f /maps/level2.map two\n" +
                  std::string(under_wine() ? "" : "f /textures/star*.png STAR\n") +
                  "f /textures/wall.png WALL\n");
}

TEST(Pick, AnExactPathComesBeforePatternsAndNothingMatchedIsAnError) {
    TempDir dir;
    write_file(dir / "m.dat", maps_archive());
    // "textures/star*.png" is a name: only that file, not wall.png too.
    const Result run =
        quodrel({"-x", "m.dat", "out", "textures/star*.png", "nothing/here", "maps/?"}, dir.path());
    EXPECT_EQ(run.out, "ERROR! Not in the archive nothing/here\n"
                       "ERROR! Not in the archive maps/?\n" +
                           std::string(under_wine() ? "ERROR! Unsafe name out/textures/star*.png\n"
                                                      "0 files, 1 directories, 0 bytes\n"
                                                    : "1 files, 1 directories, 4 bytes\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tree(dir / "out"),
              under_wine() ? "d /textures\n" : "d /textures\nf /textures/star*.png STAR\n");
    // A folder takes everything in it, however deep.
    const Result deep = quodrel({"-x", "m.dat", "all", "maps"}, dir.path());
    EXPECT_EQ(deep.out, "4 files, 2 directories, 11 bytes\n");
    EXPECT_EQ(tree(dir / "all"), "d /maps\nd /maps/sub\nf /maps/level1.map one\n"
                                 "f /maps/level2.map two\nf /maps/notes.txt n\n"
                                 "f /maps/sub/deep.map deep\n");
}

TEST(Pick, RefusalsHoldForChosenEntriesToo) {
    TempDir dir;
    TestRecord outside;
    outside.name = "gone.bin";
    outside.offset = 1 << 30;
    outside.size = 4;
    write_file(dir / "h.dat", ArchiveWriter()
                                  .dir("..", 1)
                                  .file("escape", "x")
                                  .dir("ok", 2)
                                  .record(outside)
                                  .file("fine", "f")
                                  .bytes());
    const Result run = quodrel({"-x", "h.dat", "out", "ok", "../escape"}, dir.path());
    EXPECT_EQ(run.out, "ERROR! Unsafe name out/..\nERROR! Data cut short for out/ok/gone.bin\n"
                       "1 files, 1 directories, 1 bytes\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/h.dat", "/out", "/out/ok", "/out/ok/fine"}));
}

TEST(Pick, OneFileOnStandardOutputAndNothingElse) {
    TempDir dir;
    const std::string big(300000, 'b');
    write_file(dir / "m.dat", ArchiveWriter()
                                  .dir("maps", 2)
                                  .file("level1.map", std::string("bin\0ary\r\n", 9))
                                  .file("big", big)
                                  .bytes());
    Result run = quodrel({"-p", "m.dat", "maps/level1.map"}, dir.path());
    EXPECT_EQ(run.out, std::string("bin\0ary\r\n", 9)); // binary, on Windows too
    EXPECT_EQ(run.status, 0);
    run = quodrel({"-p", "m.dat", "maps/big"}, dir.path());
    EXPECT_TRUE(run.out == big);
    // Errors go to standard error, so nothing reaches a pipe that expects data.
    for (const std::string path : {"maps", "maps/none", "*"}) {
        run = quodrel({"-p", "m.dat", path}, dir.path());
        EXPECT_EQ(run.out, "") << path;
        EXPECT_EQ(run.status, 1) << path;
    }
    EXPECT_EQ(quodrel({"-p", "missing.dat", "x"}, dir.path()).status, 1);
    // What standard error says: the program's text, LF-ended, as on every system.
    const struct {
        std::string archive, path, error;
    } errors[] = {
        {"m.dat", "maps", "ERROR! Not a file maps\n"},
        {"m.dat", "maps/none", "ERROR! Not in the archive maps/none\n"},
        {"\xc3\x84rchiv.dat", "x", "ERROR! Cannot open \xc3\x84rchiv.dat\n"}, // Ärchiv.dat
    };
    for (const auto& row : errors) {
        run = quodrel_errors({"-p", row.archive, row.path}, dir.path());
        EXPECT_EQ(run.out, row.error);
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/m.dat"}));
}

// -p finds what extraction writes at a path, and never reads a refused entry through
// one: not a name holding "/" that reads like the real file's path, nothing inside a
// refused folder, no file asked for as a folder.
TEST(Pick, PrintGivesWhatExtractionWritesThereAndNeverARefusedEntry) {
    TempDir dir;
    write_file(dir / "h.dat", ArchiveWriter()
                                  .dir("..", 1)
                                  .file("evil", "EVIL")
                                  .file("cfg/run.sh", "BAD")
                                  .dir("cfg", 1)
                                  .file("run.sh", "GOOD")
                                  .file("a.txt", "text")
                                  .file("a.txt", "second")
                                  .bytes());
    const struct {
        const char* path;
        const char* out;
        const char* error; // on standard error
    } rows[] = {
        {"cfg/run.sh", "GOOD", ""},
        {"a.txt", "text", ""}, // the first of a name twice: the one extraction writes
        {"../evil", "", "ERROR! Unsafe name ../evil\n"},
        {"..", "", "ERROR! Unsafe name ..\n"},
        {"a.txt/", "", "ERROR! Not in the archive a.txt/\n"},
        {"cfg", "", "ERROR! Not a file cfg\n"},
    };
    for (const auto& row : rows) {
        const Result run = quodrel({"-p", "h.dat", row.path}, dir.path());
        EXPECT_EQ(run.out, row.out) << row.path;
        EXPECT_EQ(run.status, *row.error ? 1 : 0) << row.path;
        EXPECT_EQ(quodrel_errors({"-p", "h.dat", row.path}, dir.path()).out, row.error) << row.path;
    }
    // Extraction writes the very files -p gave.
    EXPECT_EQ(quodrel({"-e", "h.dat", "out", "-s"}, dir.path()).status, 1);
    EXPECT_EQ(tree(dir / "out"), "d /cfg\nf /a.txt text\nf /cfg/run.sh GOOD\n");
}

} // namespace
