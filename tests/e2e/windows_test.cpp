// What only the Windows program meets: drive letters, backslashes, paths with blanks
// as Explorer hands them over, and names Windows takes for devices. Runs under Wine.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;

namespace {

// The Windows form of a path below /: Wine shows the whole file system as drive Z.
std::string z_drive(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// Wine's drive C is this folder of its prefix.
std::string drive_c() { return wine_prefix() + "/drive_c"; }

// The name below drive C of a folder there, as a C:\ path.
std::string c_drive(const TempDir& dir) {
    return "C:" + z_drive(dir.path().substr(drive_c().size())).substr(2);
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        if (!under_wine())
            GTEST_SKIP() << "the Windows program only";
    }
};

TEST_F(Windows, BackslashesAndDriveLettersInBothDirections) {
    TempDir dir;
    make_dirs(dir / "src/sub");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "src/sub/b.bin", "bb");
    const std::string expected =
        ArchiveWriter().file("a.txt", "hello").dir("sub", 1).file("b.bin", "bb").listing(1).bytes();

    // Absolute, with a drive letter, run from another folder.
    const std::string source = z_drive(dir / "src");
    const std::string archive = z_drive(dir / "a.dat");
    Result run = quodrel({"-c", source, archive}, "/");
    EXPECT_EQ(run.out, kBanner + "Creating " + archive + " (3 files)\n...\nDone\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / "a.dat"), expected);

    // Relative, with backslashes: paths below the destination are joined with "/".
    make_dirs(dir / "out");
    run = quodrel({"-e", "a.dat", "out\\x", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting a.dat\n3 files, data offset 96\n...\nDone\n");
    EXPECT_EQ(tree(dir / "out/x"), "d /sub\nf /a.txt hello\nf /sub/b.bin bb\n");
}

TEST_F(Windows, DroppedArchiveOnDriveCWithBlanksInItsName) {
    TempDir dir(drive_c());
    write_file(dir / "my maps.DAT", ArchiveWriter().dir("level 1", 1).file("a b", "x").bytes());
    const std::string dropped = c_drive(dir) + "\\my maps.DAT";
    const Result run = quodrel({dropped}, "/");
    EXPECT_EQ(run.out,
              kBanner + "Extracting " + dropped + "\n2 files, data offset 68\n..\nDone\n" + kPress);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(tree(dir / "my maps"), "d /level 1\nf /level 1/a b x\n");
}

TEST_F(Windows, DroppedFolderOnDriveCWithBlanksInItsName) {
    TempDir dir(drive_c());
    make_dirs(dir / "my tree/inner dir");
    write_file(dir / "my tree/inner dir/f 'q'.txt", "quoted");
    const std::string dropped = c_drive(dir) + "\\my tree";
    const Result run = quodrel({dropped}, "/");
    EXPECT_EQ(run.out, kBanner + "Creating " + dropped + ".dat (2 files)\n..\nDone\n" + kPress);
    EXPECT_EQ(read_file(dir / "my tree.dat"), ArchiveWriter()
                                                  .dir("inner dir", 1)
                                                  .listing(1)
                                                  .file("f 'q'.txt", "quoted")
                                                  .listing(1)
                                                  .bytes());
}

// "/?" asks for help, as of every Windows program ("/h" stays a path); a dropped path
// is read as Windows reads it: "ref.dat." is ref.dat, the archive of "src." is src.dat.
TEST_F(Windows, HelpAndDroppedPathsTheWindowsWay) {
    TempDir dir;
    Result run = quodrel({"/?"}, dir.path());
    EXPECT_EQ(run.out, help_text());
    EXPECT_EQ(run.status, 0);
    run = quodrel({"/h"}, dir.path());
    EXPECT_EQ(run.out, kBanner + "Creating /h.dat (0 files)\nERROR! Cannot open /h\n" + kPress);
    EXPECT_EQ(run.status, 1);

    write_file(dir / "ref.dat", ArchiveWriter().file("a.txt", "a").bytes());
    for (const std::string dropped : {"ref.dat.", "ref.dat ", "ref.dat. ."}) {
        run = quodrel({dropped}, dir.path());
        EXPECT_EQ(run.out,
                  kBanner + "Extracting ref.dat\n1 files, data offset 44\n.\nDone\n" + kPress)
            << dropped;
        EXPECT_EQ(tree(dir / "ref"), "f /a.txt a\n") << dropped;
    }
    make_dirs(dir / "src");
    write_file(dir / "src/b.txt", "b");
    run = quodrel({"src."}, dir.path());
    EXPECT_EQ(run.out, kBanner + "Creating src.dat (1 files)\n.\nDone\n" + kPress);
    EXPECT_EQ(read_file(dir / "src.dat"), ArchiveWriter().file("b.txt", "b").bytes());
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/ref", "/ref.dat", "/ref/a.txt", "/src", "/src.dat",
                                        "/src/b.txt"}));
}

TEST_F(Windows, DeviceNamesAndTrailingDotsAreRefused) {
    TempDir dir;
    ArchiveWriter writer;
    writer.file("CON", "x")
        .file("nul.txt", "x")
        .file("Com1.log", "x")
        .file("lpt9", "x")
        .dir("aux", 1)
        .file("inside", "x") // refused with the directory
        .file("prn.a.b", "x")
        .file("dot.", "x")
        .file("blank ", "x")
        .file("CONSOLE", "ok") // not a device
        .file("com10", "ok");
    write_file(dir / "h.dat", writer.bytes());
    const Result run = quodrel({"-e", "h.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting h.dat\n11 files, data offset 320\n"
                       ".ERROR! Unsafe name out/CON\n"
                       ".ERROR! Unsafe name out/nul.txt\n"
                       ".ERROR! Unsafe name out/Com1.log\n"
                       ".ERROR! Unsafe name out/lpt9\n"
                       ".ERROR! Unsafe name out/aux\n"
                       "..ERROR! Unsafe name out/prn.a.b\n"
                       ".ERROR! Unsafe name out/dot.\n"
                       ".ERROR! Unsafe name out/blank \n"
                       "..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tree(dir / "out"), "f /CONSOLE ok\nf /com10 ok\n");
}

// An output is checked as Windows resolves it, part by part: a closing separator or
// "\\." does not pass a device name or a trailing blank, a ":" would make a stream of
// a file, and a closing separator means a folder, which an archive is not. Nothing is
// made of any of them.
TEST_F(Windows, OutputsAreCheckedAsWindowsResolvesThem) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "a");
    write_file(dir / "ref.dat", ArchiveWriter().file("a.txt", "a").bytes());
    write_file(dir / "x.dat", "kept");
    const std::string extracting = "Extracting ref.dat\n1 files, data offset 44\n";
    const struct {
        std::vector<std::string> args;
        std::string out;
    } rows[] = {
        {{"-e", "ref.dat", "aux\\", "-s"}, extracting + "ERROR! Cannot create aux\\\n"},
        {{"-e", "ref.dat", "CON/", "-s"}, extracting + "ERROR! Cannot create CON/\n"},
        {{"-e", "ref.dat", "prn/.", "-s"}, extracting + "ERROR! Cannot create prn/.\n"},
        {{"-e", "ref.dat", "AUX .\\", "-s"}, extracting + "ERROR! Cannot create AUX .\\\n"},
        {{"-e", "ref.dat", "blank \\", "-s"}, extracting + "ERROR! Cannot create blank \\\n"},
        {{"-e", "ref.dat", "nul\\deeper", "-s"}, extracting + "ERROR! Cannot create nul\\deeper\n"},
        {{"-e", "ref.dat", "out:stream", "-s"}, extracting + "ERROR! Cannot create out:stream\n"},
        {{"-e", "ref.dat", "COM\xc2\xb9", "-s"}, extracting + "ERROR! Cannot create COM\xc2\xb9\n"},
        {{"-x", "ref.dat", "nul\\", "a.txt"}, "ERROR! Cannot create nul\\\n"},
        {{"-c", "src", "aux.dat\\", "-s"},
         "Creating aux.dat\\ (1 files)\nERROR! Cannot create aux.dat\\\n"},
        {{"-c", "src", "newdir\\", "-s"},
         "Creating newdir\\ (1 files)\nERROR! Cannot create newdir\\\n"},
        {{"-c", "src", "x.dat:stream", "-s"},
         "Creating x.dat:stream (1 files)\nERROR! Cannot create x.dat:stream\n"},
        {{"-c", "src", "LPT\xc2\xb3.dat", "-s"},
         "Creating LPT\xc2\xb3.dat (1 files)\nERROR! Cannot create LPT\xc2\xb3.dat\n"},
    };
    for (const auto& row : rows) {
        const Result run = quodrel(row.args, dir.path());
        EXPECT_EQ(run.out, row.out) << row.args[2];
        EXPECT_EQ(run.status, 1) << row.args[2];
    }
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/ref.dat", "/src", "/src/a.txt", "/x.dat"}));
    EXPECT_EQ(read_file(dir / "x.dat"), "kept");
}

TEST_F(Windows, ADeviceGivenAsTheArchiveIsNotRead) {
    TempDir dir;
    for (const std::string device : {"CON", "NUL", "nul.dat"}) {
        const Result run = quodrel({"-e", device, "out", "-s"}, dir.path());
        EXPECT_EQ(run.out, "ERROR! Cannot open " + device + "\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_TRUE(paths_below(dir.path()).empty());
}

// Names beyond the ANSI code page, in UTF-8 on both systems.
const std::string kE = "\xc3\xa9.txt";                                   // é.txt
const std::string kNihongo = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt"; // 日本語.txt
const std::string kFolder = "\xf0\x9f\x93\x81 maps";                     // 📁 maps

void make_names_tree(const std::string& root) {
    make_dirs(root + "/" + kFolder);
    write_file(root + "/" + kE, "e");
    write_file(root + "/" + kNihongo, "nihongo");
    write_file(root + "/" + kFolder + "/level#1", "one");
    write_file(root + "/plain.txt", "plain");
}

TEST_F(Windows, NamesOfEveryScriptGiveTheSameArchiveAsOnLinux) {
    TempDir dir;
    make_names_tree(dir / "names");
    Result run = quodrel({"-c", "names", "win.dat", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Creating win.dat (5 files)\n.....\nDone\n");
    EXPECT_EQ(run.status, 0);
    run = native_quodrel({"-c", "names", "linux.dat", "-s"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(read_file(dir / "win.dat"), read_file(dir / "linux.dat"));
    EXPECT_NE(read_file(dir / "win.dat").find(kNihongo), std::string::npos);

    // The Linux archive unpacks under Windows to the very names.
    run = quodrel({"-e", "linux.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(tree(dir / "out"), tree(dir / "names"));
}

TEST_F(Windows, ArgumentsAndMessagesInUtf8) {
    TempDir dir;
    const std::string folder = "\xe6\xa1\x8c\xe9\x9d\xa2"; // 桌面
    make_names_tree(dir / folder);
    const Result run = quodrel({folder}, dir.path());
    EXPECT_EQ(run.out, kBanner + "Creating " + folder + ".dat (5 files)\n.....\nDone\n" + kPress);
    EXPECT_TRUE(exists(dir / (folder + ".dat")));
}

// The format's limits are on the bytes stored: a name of 255 such bytes, 510 once read
// as UTF-8, is no name too long here either, and -t says what it says on Linux. (Wine
// keeps names on Linux's file system in UTF-8, where 255 bytes is the most a name
// takes: only the short one is unpacked here.)
TEST_F(Windows, ANameFromAnOlderWindowsProgramIsReadInTheAnsiCodePage) {
    TempDir dir;
    write_file(dir / "old.dat", ArchiveWriter().file("caf\xe9", "coffee").bytes());
    const Result run = quodrel({"-e", "old.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(tree(dir / "out"), "f /caf\xc3\xa9 coffee\n");
    write_file(dir / "long.dat", ArchiveWriter()
                                     .dir(std::string(200, '\xe9'), 1)
                                     .file(std::string(255, '\xe9'), "long")
                                     .bytes());
    const Result test = quodrel({"-t", "long.dat"}, dir.path());
    EXPECT_EQ(test.out, "1 files, 1 directories, 4 bytes\n");
    EXPECT_EQ(test.status, 0);
    EXPECT_EQ(test.out, native_quodrel({"-t", "long.dat"}, dir.path()).out);
}

TEST_F(Windows, PathsPastTwoHundredAndSixtyCharactersRoundTrip) {
    TempDir dir;
    std::string deep = "src";
    for (int i = 0; i < 40; ++i)
        deep += "/folder_" + std::to_string(10 + i); // 400 bytes below the root
    make_dirs(dir / deep);
    write_file(dir / (deep + "/last.txt"), "deep");
    ASSERT_GT((dir / deep).size(), 300u);
    Result run = quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(tree(dir / "out"), tree(dir / "src"));
    EXPECT_EQ(read_file(dir / ("out" + deep.substr(3) + "/last.txt")), "deep");
}

// Windows takes README and readme for one name: the first stays, the second is
// named, and a folder's second spelling takes its contents along.
TEST_F(Windows, NamesThatDifferOnlyInLetterCaseClash) {
    TempDir dir;
    write_file(dir / "h.dat", ArchiveWriter()
                                  .file("README", "first")
                                  .file("readme", "second")
                                  .dir("Docs", 1)
                                  .file("a", "a")
                                  .dir("DOCS", 1)
                                  .file("b", "b")
                                  .file("z", "z")
                                  .bytes());
    const std::string expected = "Extracting h.dat\n7 files, data offset 200\n"
                                 ".."
                                 "ERROR! Name clash out/readme\n"
                                 "..."
                                 "ERROR! Name clash out/DOCS\n"
                                 "..\nDone\n";
    // Again over the tree the first run left: replaced as before, and the same clashes.
    for (int round = 0; round < 2; ++round) {
        const Result run = quodrel({"-e", "h.dat", "out", "-s"}, dir.path());
        EXPECT_EQ(run.out, expected) << round;
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(tree(dir / "out"), "d /Docs\nf /Docs/a a\nf /README first\nf /z z\n");
    }
}

// A Windows program of the test build (tests/ beside quodrel.exe).
std::string helper(const std::string& name) {
    const std::string exe = std::getenv("QUODREL_EXE");
    return exe.substr(0, exe.rfind('/')) + "/tests/" + name;
}

// One of them, run to its end.
void run_helper(const std::string& name, const std::vector<std::string>& args,
                const std::string& cwd) {
    waitpid(start_under_wine(helper(name), args, cwd), nullptr, 0);
}

// The short name Windows gives a file or folder of the destination.
std::string alias_of(const std::string& cwd, const std::string& path) {
    run_helper("short_name.exe", {path, "alias.txt"}, cwd);
    const std::string alias = read_file(cwd + "/alias.txt");
    std::remove((cwd + "/alias.txt").c_str());
    return alias;
}

// -x, -p and the library's finding take "\\" for "/" and compare names as Windows
// does, by the rule that decides a name clash: the entry found is the one written.
TEST_F(Windows, ChosenPathsAreComparedAsWindowsComparesNames) {
    TempDir dir;
    write_file(dir / "a.dat", ArchiveWriter()
                                  .file("a.txt", "a")
                                  .dir("sub", 1)
                                  .file("b.bin", "bb")
                                  .file("README", "first")
                                  .file("readme", "second")
                                  .bytes());
    const struct {
        const char *path, *out, *error;
    } rows[] = {
        {"A.TXT", "a", ""},
        {"SUB\\B.BIN", "bb", ""},
        {"sub/B.bin", "bb", ""},
        {"readme", "first", ""}, // the second spelling is a clash, never written
        {"Sub\\", "", "ERROR! Not a file Sub\\\n"},
        {"a.txt\\", "", "ERROR! Not in the archive a.txt\\\n"},
    };
    for (const auto& row : rows) {
        const Result run = quodrel({"-p", "a.dat", row.path}, dir.path());
        EXPECT_EQ(run.out, row.out) << row.path;
        EXPECT_EQ(run.status, *row.error ? 1 : 0) << row.path;
        EXPECT_EQ(quodrel_errors({"-p", "a.dat", row.path}, dir.path()).out, row.error) << row.path;
    }
    const Result run = quodrel({"-x", "a.dat", "out", "SUB\\b.bin", "A.TXT"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(tree(dir / "out"), "d /sub\nf /a.txt a\nf /sub/b.bin bb\n");
}

// A short (8.3) name is another spelling of a long one: an entry spelled as the alias
// of a file or folder already in the destination is a name clash, never written
// through it; an alias after its long name in one archive is one by the archive
// alone, so -t says so too.
TEST_F(Windows, AShortNameNeverLandsOnTheLongNamedFile) {
    TempDir dir;
    const std::string doc = "My Precious Document.txt", docs = "Documents and Settings";
    make_dirs(dir / ("out/" + docs));
    write_file(dir / ("out/" + doc), "precious");
    write_file(dir / ("out/" + docs + "/kept"), "kept");
    const std::string file_alias = alias_of(dir.path(), "out\\" + doc);
    const std::string folder_alias = alias_of(dir.path(), "out\\" + docs);
    ASSERT_NE(file_alias.find('~'), std::string::npos) << file_alias;
    ASSERT_NE(folder_alias.find('~'), std::string::npos) << folder_alias;

    write_file(dir / "a.dat", ArchiveWriter()
                                  .file(file_alias, "overwritten")
                                  .dir(folder_alias, 1)
                                  .file("kept", "overwritten")
                                  .file("z", "z")
                                  .bytes());
    EXPECT_EQ(quodrel({"-t", "a.dat"}, dir.path()).status, 0); // the archive alone is sound
    Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting a.dat\n4 files, data offset 136\n"
                       ".ERROR! Name clash out/" +
                           file_alias +
                           "\n"
                           ".ERROR! Name clash out/" +
                           folder_alias +
                           "\n"
                           "..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tree(dir / "out"),
              "d /" + docs + "\nf /" + docs + "/kept kept\nf /" + doc + " precious\nf /z z\n");

    // Spelled as the alias of what is there of the other kind: the same clash.
    write_file(dir / "c.dat",
               ArchiveWriter().dir(file_alias, 1).file("in", "x").file(folder_alias, "x").bytes());
    run = quodrel({"-e", "c.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting c.dat\n3 files, data offset 108\n.ERROR! Name clash out/" +
                           file_alias + "\n..ERROR! Name clash out/" + folder_alias + "\n\nDone\n");
    EXPECT_EQ(tree(dir / "out"),
              "d /" + docs + "\nf /" + docs + "/kept kept\nf /" + doc + " precious\nf /z z\n");

    // Long names and, after each, names of its alias's shape as Windows and Wine make
    // them, in any letter case: clashes by the archive alone, -t and -e alike.
    make_dirs(dir / "names");
    ArchiveWriter long_and_short;
    std::string clashes;
    for (const std::string& name : {doc, std::string(".hidden"), std::string("abc.de f")}) {
        write_file(dir / ("names/" + name), "");
        std::string alias = alias_of(dir.path(), "names\\" + name);
        if (name == doc)
            for (char& c : alias)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string windows_alias = name == doc         ? "MYPREC~1.TXT"
                                          : name == ".hidden" ? "HIDDEN~1"
                                                              : "ABC~1.DEF";
        long_and_short.file(name, "l").file(alias, "w").file(windows_alias, "n");
        clashes += "ERROR! Name clash " + alias + "\nERROR! Name clash " + windows_alias + "\n";
    }
    write_file(dir / "b.dat", long_and_short.bytes());
    run = quodrel({"-t", "b.dat"}, dir.path());
    EXPECT_EQ(run.out, clashes + "9 files, 0 directories, 9 bytes\n");
    EXPECT_EQ(run.status, 1);
    run = quodrel({"-e", "b.dat", "fresh", "-s"}, dir.path());
    std::string told;
    for (std::size_t at = 0; (at = run.out.find("ERROR! ", at)) != std::string::npos;) {
        const std::size_t end = run.out.find('\n', at) + 1;
        told += run.out.substr(at, end - at);
        at = end;
    }
    std::string clashes_there = clashes;
    for (std::size_t at = 0; (at = clashes_there.find("clash ", at)) != std::string::npos;)
        clashes_there.insert(at += 6, "fresh/");
    EXPECT_EQ(told, clashes_there);
    EXPECT_EQ(tree(dir / "fresh"), "f /.hidden l\nf /" + doc + " l\nf /abc.de f l\n");
}

// -u and -d meet short names as -t and -e do: a folder laid over an archive that holds
// its long names' aliases would make an archive -t refuses, so the update is refused
// with the clashes named and nothing written; -d names them, and compares nothing there.
TEST_F(Windows, UpdateAndCompareMeetShortNamesAsTheArchivesRuleDoes) {
    TempDir dir;
    make_dirs(dir / "over/LongFolderName");
    write_file(dir / "over/MyPrecious.txt", "new");
    write_file(dir / "over/LongFolderName/in", "in");
    const std::string file_alias = alias_of(dir.path(), "over\\MyPrecious.txt");
    const std::string folder_alias = alias_of(dir.path(), "over\\LongFolderName");
    ASSERT_NE(file_alias.find('~'), std::string::npos) << file_alias;
    ASSERT_NE(folder_alias.find('~'), std::string::npos) << folder_alias;
    const std::string archive =
        ArchiveWriter().dir(folder_alias, 1).file("kept", "k").file(file_alias, "old").bytes();
    write_file(dir / "a.dat", archive);
    EXPECT_EQ(quodrel({"-t", "a.dat"}, dir.path()).status, 0); // the archive alone is sound

    Result run = quodrel({"-u", "a.dat", "over", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Updating a.dat (6 files)\nERROR! Name clash over/" + folder_alias +
                           "\nERROR! Name clash over/" + file_alias +
                           "\nERROR! Not updated a.dat\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(read_file(dir / "a.dat") == archive);
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/a.dat", "/over", "/over/LongFolderName",
                                        "/over/LongFolderName/in", "/over/MyPrecious.txt"}));

    run = quodrel({"-d", "a.dat", "over"}, dir.path());
    EXPECT_EQ(run.out, "ERROR! Name clash over/" + folder_alias + "\nERROR! Name clash over/" +
                           file_alias +
                           "\nOnly in the folder LongFolderName/\nOnly in the folder "
                           "MyPrecious.txt\n2 differences; 0 files and 0 directories in both\n");
    EXPECT_EQ(run.status, 2);
}

} // namespace

namespace {

// Every form of path Windows accepts, as Windows reads it; messages keep the spelling
// typed and add the entry's path after it with "/".
TEST_F(Windows, EveryPathFormWindowsAccepts) {
    TempDir dir;
    make_dirs(dir / "work/src/sub");
    make_dirs(dir / "work/other");
    write_file(dir / "work/src/a.txt", "hello");
    write_file(dir / "work/src/sub/b.bin", "bb");
    const std::string expected =
        ArchiveWriter().file("a.txt", "hello").dir("sub", 1).file("b.bin", "bb").listing(1).bytes();
    const std::string work = z_drive(dir / "work");
    struct Form {
        std::string source, archive, dest;
    };
    const Form forms[] = {
        {"\\\\?\\" + work + "\\src", "\\\\?\\" + work + "\\x1.dat", "\\\\?\\" + work + "\\o1"},
        {"\\\\.\\" + work + "\\src", "\\\\.\\" + work + "\\x2.dat", "\\\\.\\" + work + "\\o2"},
        {"Z:src", "Z:x3.dat", "Z:o3"},                            // the drive's current folder
        {"other\\..\\src", "other\\..\\x4.dat", "other\\..\\o4"}, // ".." resolved
        {"src.", "x5.dat", "o5"},                                 // "src." is read as "src"
        {"src ", "x6.dat", "o6"},                                 // and so is "src "
        {work + "/src\\", work + "\\x7.dat", work + "/o7"},       // mixed separators
    };
    int n = 0;
    for (const Form& form : forms) {
        ++n;
        const Result create = quodrel({"-c", form.source, form.archive, "-s"}, dir / "work");
        EXPECT_EQ(create.out, "Creating " + form.archive + " (3 files)\n...\nDone\n") << n;
        EXPECT_EQ(read_file(dir / ("work/x" + std::to_string(n) + ".dat")), expected) << n;
        const Result extract = quodrel({"-e", form.archive, form.dest, "-s"}, dir / "work");
        EXPECT_EQ(extract.out,
                  "Extracting " + form.archive + "\n3 files, data offset 96\n...\nDone\n")
            << n;
        EXPECT_EQ(tree(dir / ("work/o" + std::to_string(n))),
                  "d /sub\nf /a.txt hello\nf /sub/b.bin bb\n")
            << n;
    }
    // Messages keep the user's spelling, and add the entry's path with "/".
    write_file(dir / "work/h.dat", ArchiveWriter().file("what?.txt", "q").file("ok", "k").bytes());
    const std::string dest = "\\\\?\\" + work + "\\hostile";
    const Result run = quodrel({"-e", "h.dat", dest, "-s"}, dir / "work");
    EXPECT_EQ(run.out, "Extracting h.dat\n2 files, data offset 72\n.ERROR! Unsafe name " + dest +
                           "/what?.txt\n.\nDone\n");
    EXPECT_EQ(tree(dir / "work/hostile"), "f /ok k\n");
    // A drive's current folder, typed as "Z:", is followed by the entry's path directly.
    make_dirs(dir / "work/here");
    EXPECT_EQ(quodrel({"-e", "..\\h.dat", "Z:", "-s"}, dir / "work/here").out,
              "Extracting ..\\h.dat\n2 files, data offset 72\n.ERROR! Unsafe name "
              "Z:what?.txt\n.\nDone\n");
    // Outputs whose last part Windows would strip or take for a device stay refused.
    EXPECT_EQ(quodrel({"-c", "src", "x8.dat.", "-s"}, dir / "work").status, 1);
}

// A drive's current folder dropped as "C:" or "C:.", and its parent as "C:..", is packed
// under the folder's own name beside it, never into ".dat" inside it; a short (8.3)
// name dropped is named after the long name it stands for, as the output is.
TEST_F(Windows, DroppedDriveFormsAndShortNamesAreNamedAfterTheFolder) {
    TempDir dir(drive_c());
    make_dirs(dir / "work/inner");
    write_file(dir / "work/inner/a.txt", "a");
    write_file(dir / "work/b.txt", "b");
    ASSERT_EQ(native_quodrel({"-c", "work", "work.linux", "-s"}, dir.path()).status, 0);
    ASSERT_EQ(native_quodrel({"-c", "work/inner", "inner.linux", "-s"}, dir.path()).status, 0);
    const std::string work = c_drive(dir) + "\\work";
    const struct {
        const char* dropped;
        std::string out;
    } drops[] = {
        {"C:..", "Creating " + work + ".dat (3 files)\n...\nDone\n"},
        {"C:", "Creating " + work + "\\inner.dat (1 files)\n.\nDone\n"},
        {"c:.", "Creating " + work + "\\inner.dat (1 files)\n.\nDone\n"},
    };
    for (const auto& row : drops) {
        const Result run = quodrel({row.dropped}, dir / "work/inner");
        EXPECT_EQ(run.out, kBanner + row.out + kPress) << row.dropped;
        EXPECT_EQ(run.status, 0) << row.dropped;
    }
    EXPECT_EQ(read_file(dir / "work.dat"), read_file(dir / "work.linux"));
    EXPECT_EQ(read_file(dir / "work/inner.dat"), read_file(dir / "inner.linux"));
    EXPECT_EQ(paths_below(dir / "work"),
              (std::vector<std::string>{"/b.txt", "/inner", "/inner.dat", "/inner/a.txt"}));

    // Short names, of an archive and of a folder.
    TempDir names;
    make_dirs(names / "Long Folder Name");
    write_file(names / "Long Folder Name/x.txt", "x");
    write_file(names / "My long archive.dat", ArchiveWriter().file("a.txt", "a").bytes());
    const std::string archive_alias = alias_of(names.path(), "My long archive.dat");
    const std::string folder_alias = alias_of(names.path(), "Long Folder Name");
    ASSERT_NE(archive_alias.find('~'), std::string::npos) << archive_alias;
    ASSERT_NE(folder_alias.find('~'), std::string::npos) << folder_alias;
    Result run = quodrel({archive_alias}, names.path());
    EXPECT_EQ(run.out, kBanner + "Extracting " + archive_alias +
                           "\n1 files, data offset 44\n.\nDone\n" + kPress);
    EXPECT_EQ(tree(names / "My long archive"), "f /a.txt a\n");
    run = quodrel({folder_alias + "\\"}, names.path());
    EXPECT_EQ(run.out, kBanner + "Creating Long Folder Name.dat (1 files)\n.\nDone\n" + kPress);
    EXPECT_EQ(read_file(names / "Long Folder Name.dat"),
              ArchiveWriter().file("x.txt", "x").bytes());
    EXPECT_EQ(paths_below(names.path()),
              (std::vector<std::string>{"/Long Folder Name", "/Long Folder Name.dat",
                                        "/Long Folder Name/x.txt", "/My long archive",
                                        "/My long archive.dat", "/My long archive/a.txt"}));
}

// A source reached through the device form "\\.\" is resolved once to the literal
// form: names below it are never normalised, so "save." and the folder "proj." are
// packed with their own bytes, as on Linux, not with those of "save" and "proj".
TEST_F(Windows, NamesBelowADeviceFormSourceAreTakenAsTheyAre) {
    TempDir dir;
    make_dirs(dir / "src/proj");
    make_dirs(dir / "src/proj.");
    write_file(dir / "src/save", "plain");
    write_file(dir / "src/save.", "dotted");
    write_file(dir / "src/proj/a", "plain folder");
    write_file(dir / "src/proj./b", "dotted folder");
    ASSERT_EQ(native_quodrel({"-c", "src", "linux.dat", "-s"}, dir.path()).status, 0);
    for (const std::string prefix : {"\\\\.\\", "\\\\?\\", ""}) {
        const Result run =
            quodrel({"-c", prefix + z_drive(dir / "src"), "win.dat", "-s"}, dir.path());
        EXPECT_EQ(run.out, "Creating win.dat (6 files)\n......\nDone\n") << prefix;
        EXPECT_EQ(read_file(dir / "win.dat"), read_file(dir / "linux.dat")) << prefix;
    }
}

// A file another program holds open with share mode 0 is left out and named, never
// stored as zeros.
TEST_F(Windows, AFileHeldOpenByAnotherProgramIsLeftOut) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "src/save.db", "the running game's save");
    write_file(dir / "src/z.txt", "z");
    const int pid =
        start_under_wine(helper("hold_file.exe"), {"src\\save.db", "ready", "release"}, dir.path());
    for (int i = 0; i < 600 && !exists(dir / "ready"); ++i)
        usleep(50000);
    ASSERT_TRUE(exists(dir / "ready")) << "the helper did not start";
    const Result run = quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
    write_file(dir / "release", "");
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(run.out, "Creating a.dat (3 files)\n..ERROR! Cannot open src/save.db\n.\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "a.dat"),
              ArchiveWriter().file("a.txt", "hello").file("z.txt", "z").bytes());
    EXPECT_EQ(quodrel({"-t", "a.dat"}, dir.path()).status, 0);
}

// An archive another run is replacing (it holds the archive's lock, as the helper does
// here) is not replaced by a second run, which says so at once; reading it goes on.
TEST_F(Windows, AnArchiveAnotherRunIsReplacingIsLeftToIt) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    const std::string before = read_file(dir / "a.dat");
    const int pid = start_under_wine(helper("hold_file.exe"), {"a.dat", "ready", "release", "lock"},
                                     dir.path());
    for (int i = 0; i < 600 && !exists(dir / "ready"); ++i)
        usleep(50000);
    ASSERT_TRUE(exists(dir / "ready")) << "the helper did not start";
    const Result update = quodrel({"-u", "a.dat", "src", "-s"}, dir.path());
    const Result create = quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
    const Result list = quodrel({"-l", "a.dat"}, dir.path());
    write_file(dir / "release", "");
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(update.out, "ERROR! Not updated a.dat\n");
    EXPECT_EQ(update.status, 1);
    EXPECT_EQ(create.out, "Creating a.dat (1 files)\nERROR! Cannot create a.dat\n");
    EXPECT_EQ(create.status, 1);
    EXPECT_EQ(list.out, "         5 a.txt\n1 files, 0 directories, 5 bytes\n");
    EXPECT_EQ(read_file(dir / "a.dat"), before);
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/a.dat", "/ready", "/release", "/src", "/src/a.txt"}));
    // Once it is let go of, the archive is updated again.
    EXPECT_EQ(quodrel({"-u", "a.dat", "src", "-s"}, dir.path()).status, 0);
}

} // namespace
