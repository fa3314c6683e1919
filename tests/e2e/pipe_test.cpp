// Archives through pipes: "-" names standard input (for -c standard output), read and
// written in order, never a terminal; what comes out is what the file routes give,
// byte for byte, words and refusals alike.
#include "e2e/harness.h"
#include "e2e/texts.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

// A run whose standard input is `input` through a pipe.
Result piped(const std::vector<std::string>& args, const std::string& cwd, const std::string& input,
             bool read_errors = false) {
    Limits limits;
    limits.feed_input = true;
    limits.input = input;
    limits.read_errors = read_errors;
    return quodrel_limited(args, cwd, limits);
}

// A run whose standard output goes into `output` and whose standard error is read.
Result into(const std::vector<std::string>& args, const std::string& cwd,
            const std::string& output) {
    Limits limits;
    limits.read_errors = true;
    limits.output_path = output;
    return quodrel_limited(args, cwd, limits);
}

// `text` with every `from` made `to`: a route's words name the archive as it is named.
std::string named(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A tree with what text modes and batches would trip on: nested folders, empty files
// and folders, a big file moved on its own, a "#" in a name, line ends and a Ctrl+Z.
void make_tree(const TempDir& dir, const std::string& root) {
    make_dirs(dir / (root + "/maps/deeper"));
    make_dirs(dir / (root + "/empty"));
    write_file(dir / (root + "/read me.txt"), "line one\nline two\r\n\x1a\x00end");
    write_file(dir / (root + "/maps/level#1.map"), std::string(3000, '\n'));
    write_file(dir / (root + "/maps/deeper/big.bin"), std::string(300000, '\r') + "\n");
    write_file(dir / (root + "/maps/zero"), "");
    for (int i = 0; i < 40; ++i)
        write_file(dir / (root + "/maps/tile" + std::to_string(i)), std::to_string(i) + "\n");
}

TEST(Pipes, AnArchiveWrittenToStandardOutputIsTheFileRoutesByteForByte) {
    TempDir dir;
    make_tree(dir, "src");
    const Result file = quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
    ASSERT_EQ(file.status, 0);
    const struct {
        std::vector<std::string> args;
        std::string banner;
        std::string output; // where standard output goes
    } rows[] = {
        {{"-c", "src", "-", "-s"}, "", "piped.dat"},
        {{"-c", "src", "-"}, kBanner, "piped.dat"}, // the banner goes with the words, to stderr
        // A file in the tree being packed is left out, as -c leaves its archive out.
        {{"-c", "src", "-", "-s"}, "", "src/maps/piped.dat"},
    };
    for (const auto& row : rows) {
        // (Wine cannot tell the identity of a file a program inherits as its output.)
        if (under_wine() && row.output.rfind("src/", 0) == 0)
            continue;
        const Result run = into(row.args, dir.path(), dir / row.output);
        EXPECT_EQ(run.status, 0) << row.output;
        EXPECT_EQ(run.out, row.banner + named(file.out, "a.dat", "-")) << row.output;
        EXPECT_TRUE(read_file(dir / row.output) == read_file(dir / "a.dat")) << row.output;
        ASSERT_EQ(unlink((dir / row.output).c_str()), 0);
    }
    // Into a pipe, as into a file.
    const Result pipe = quodrel({"-c", "src", "-", "-s"}, dir.path());
    EXPECT_EQ(pipe.status, 0);
    EXPECT_TRUE(pipe.out == read_file(dir / "a.dat"));
}

TEST(Pipes, ArchivesReadFromStandardInputAreTheFileRoutesByteForByte) {
    TempDir dir;
    make_tree(dir, "src");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    const std::string archive = read_file(dir / "a.dat");
    const struct {
        std::vector<std::string> args; // "A" stands for the archive, "OUT" for a folder
    } rows[] = {
        {{"-l", "A"}},
        {{"-t", "A"}},
        {{"-e", "A", "OUT"}},
        {{"-e", "A", "OUT", "-s"}},
        {{"-x", "A", "OUT", "maps/deeper", "read me.txt", "maps/tile1?", "none"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> from_file = row.args, from_pipe = row.args;
        for (std::size_t k = 0; k < row.args.size(); ++k) {
            if (row.args[k] == "A") {
                from_file[k] = "a.dat";
                from_pipe[k] = "-";
            } else if (row.args[k] == "OUT") {
                from_file[k] = "from-file";
                from_pipe[k] = "from-pipe";
            }
        }
        const Result file = quodrel(from_file, dir.path());
        const Result pipe = piped(from_pipe, dir.path(), archive);
        EXPECT_EQ(pipe.out, named(named(file.out, "a.dat", "-"), "from-file", "from-pipe"))
            << row.args[0];
        EXPECT_EQ(pipe.status, file.status) << row.args[0];
        EXPECT_EQ(tree(dir / "from-pipe"), tree(dir / "from-file")) << row.args[0];
        // Standard input may be a file too (quodrel -e - out < a.dat), read in order all
        // the same.
        std::system(("rm -rf '" + (dir / "from-pipe") + "'").c_str());
        Limits redirected;
        redirected.input_path = dir / "a.dat";
        const Result from_input = quodrel_limited(from_pipe, dir.path(), redirected);
        EXPECT_EQ(from_input.out, pipe.out) << row.args[0];
        EXPECT_EQ(tree(dir / "from-pipe"), tree(dir / "from-file")) << row.args[0];
        std::system(("rm -rf '" + (dir / "from-pipe") + "' '" + (dir / "from-file") + "'").c_str());
    }
    // -p: the file's bytes on standard output, its errors on standard error.
    for (const std::string path : {"maps/deeper/big.bin", "read me.txt", "maps", "nothing"}) {
        const Result file = quodrel({"-p", "a.dat", path}, dir.path());
        const Result pipe = piped({"-p", "-", path}, dir.path(), archive);
        EXPECT_TRUE(pipe.out == file.out) << path;
        EXPECT_EQ(pipe.status, file.status) << path;
        const Result file_errors = quodrel_errors({"-p", "a.dat", path}, dir.path());
        const Result pipe_errors = piped({"-p", "-", path}, dir.path(), archive, true);
        EXPECT_EQ(pipe_errors.out, named(file_errors.out, "a.dat", "-")) << path;
    }
}

// Hostile archives are refused from a pipe as from a file, with the same words; a
// stream cut short is "Data cut short" for the entries it cuts.
TEST(Pipes, HostileArchivesAreRefusedTheSameWayFromAPipe) {
    TestRecord past_end;
    past_end.name = "past";
    past_end.offset = 2;
    past_end.size = 10;
    TestRecord negative = past_end;
    negative.name = "neg";
    negative.offset = -1000;
    TestRecord long_name;
    long_name.name = "x";
    long_name.name_length = 300;
    ArchiveWriter deep;
    for (int i = 0; i < 256; ++i)
        deep.dir("d", 1);
    const std::string whole = ArchiveWriter().file("a", "hello").file("b", "world!").bytes();
    const std::string archives[] = {
        "CHELALIC\x02",
        ArchiveWriter().bytes(0x7fffffff),
        ArchiveWriter().file("a.txt", "hello").file("b.txt", "12345678").bytes(3),
        ArchiveWriter().record(long_name).data(std::string(400, 'x')).bytes(),
        deep.bytes(),
        ArchiveWriter()
            .dir("..", 1)
            .file("escaped", "x")
            .file("a/b", "x")
            .file("same", "1")
            .file("same", "2")
            .dir("ok", 1)
            .file("in", "in")
            .bytes(),
        ArchiveWriter().record(past_end).record(negative).file("good", "abc").bytes(),
        whole.substr(0, whole.size() - 3), // the last file cut short
        whole.substr(0, whole.size() - 8), // both
        "plain text, no archive at all",
        "",
    };
    for (const std::string& bytes : archives) {
        TempDir dir;
        write_file(dir / "h.dat", bytes);
        for (const std::string option : {"-l", "-t", "-e"}) {
            std::vector<std::string> from_file = {option, "h.dat"}, from_pipe = {option, "-"};
            if (option == "-e") {
                from_file.insert(from_file.end(), {"from-file", "-s"});
                from_pipe.insert(from_pipe.end(), {"from-pipe", "-s"});
            }
            const Result file = quodrel(from_file, dir.path());
            const Result pipe = piped(from_pipe, dir.path(), bytes);
            EXPECT_EQ(pipe.out, named(named(file.out, "h.dat", "-"), "from-file", "from-pipe"))
                << option << " of " << bytes.size() << " bytes";
            EXPECT_EQ(pipe.status, file.status) << option << " of " << bytes.size() << " bytes";
            EXPECT_EQ(tree(dir / "from-pipe"), tree(dir / "from-file"));
        }
    }
}

// An archive whose data lies in another order than its table's is read through an
// unnamed temporary file: the same files, nothing left behind.
TEST(Pipes, AnArchiveInAnotherOrderIsReadThroughATemporaryFile) {
    TempDir dir;
    make_dirs(dir / "tmp");
    TestRecord second, first;
    second.name = "a.txt";
    second.offset = 5;
    second.size = 5;
    first.name = "b.txt";
    first.offset = 0;
    first.size = 5;
    const std::string bytes =
        ArchiveWriter().record(second).record(first).data("BBBBBAAAAA").bytes();
    write_file(dir / "r.dat", bytes);
    // (Windows keeps its temporary files in its own folder; Wine 10 itself fails to
    // start with TMPDIR set so.)
    if (!under_wine())
        setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    const Result pipe = piped({"-e", "-", "from-pipe", "-s"}, dir.path(), bytes);
    const Result list = piped({"-p", "-", "b.txt"}, dir.path(), bytes);
    unsetenv("TMPDIR");
    EXPECT_EQ(pipe.out,
              named(quodrel({"-e", "r.dat", "from-file", "-s"}, dir.path()).out, "r.dat", "-"));
    EXPECT_EQ(pipe.status, 0);
    EXPECT_EQ(tree(dir / "from-pipe"), "f /a.txt AAAAA\nf /b.txt BBBBB\n");
    EXPECT_EQ(list.out, "BBBBB");
    if (!under_wine()) { // (Windows keeps its temporary files in its own folder)
        EXPECT_EQ(paths_below(dir / "tmp"), std::vector<std::string>{});
    }
}

// A file that cannot be opened when its turn comes cannot be left out of a table that
// is already out: the stream stops there, cut short, and the file is named.
TEST(Pipes, AFileThatCannotBeOpenedAtItsTurnCutsTheStreamShort) {
    SKIP_UNDER_WINE("runs as another user");
    if (std::system("command -v setfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl is not installed";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "src/sub");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "src/sub/b.txt", "secret");
    write_file(dir / "src/sub/c.txt", "more");
    write_file(dir / "src/zz", "end");
    ASSERT_EQ(quodrel({"-c", "src", "whole.dat", "-s"}, dir.path()).status, 0);
    if (std::system(
            ("setfacl -m u:nobody:--- '" + (dir / "src/sub/b.txt") + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no access lists on this file system";
    Limits limits;
    limits.unprivileged = true;
    limits.read_errors = true;
    limits.output_path = dir / "cut.dat";
    const Result run = quodrel_limited({"-c", "src", "-", "-s"}, dir.path(), limits);
    EXPECT_EQ(run.out, "Creating - (5 files)\n...ERROR! Cannot open src/sub/b.txt\n");
    EXPECT_EQ(run.status, 1);
    // The whole archive's table and what lies before the file: cut short there.
    const std::string whole = read_file(dir / "whole.dat");
    const std::string cut = read_file(dir / "cut.dat");
    EXPECT_EQ(cut, whole.substr(0, whole.size() - std::string("secretmoreend").size()));
    EXPECT_EQ(quodrel({"-t", "cut.dat"}, dir.path()).out,
              "ERROR! Data cut short for sub/b.txt\nERROR! Data cut short for sub/c.txt\n"
              "ERROR! Data cut short for zz\n4 files, 1 directories, 18 bytes\n");
}

// Standard input that is no pipe has no writer to wait for: a device that never ends
// (/dev/zero, an empty archive as far as anyone reads it) is read as far as the answer
// needs, and the run ends.
TEST(Pipes, ADeviceThatNeverEndsIsNotReadToItsEnd) {
    SKIP_UNDER_WINE("POSIX devices");
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        bool errors; // what is read is standard error
        std::string out;
        int status;
    } rows[] = {
        {{"-l", "-"}, false, "0 files, 0 directories, 0 bytes\n", 0},
        {{"-t", "-"}, false, "ERROR! Not an archive -\n", 1},
        {{"-e", "-", "out", "-s"}, false, "Extracting -\n0 files, data offset 0\n\nDone\n", 0},
        {{"-p", "-", "a"}, true, "ERROR! Not in the archive a\n", 1},
    };
    for (const auto& row : rows) {
        Limits limits;
        limits.input_path = "/dev/zero";
        limits.read_errors = row.errors;
        const Result run = quodrel_limited(row.args, dir.path(), limits);
        EXPECT_EQ(run.out, row.out) << row.args[0];
        EXPECT_EQ(run.status, row.status) << row.args[0];
    }
}

// A terminal is neither read as an archive nor written one: one line, status 1.
TEST(Pipes, ATerminalIsNeverAnArchive) {
    SKIP_UNDER_WINE("a pseudo-terminal is not a Windows console");
    TempDir dir;
    make_tree(dir, "src");
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    const std::string in = "ERROR! Cannot read an archive from a terminal -\n";
    const struct {
        std::vector<std::string> args;
        bool output; // standard output is the terminal, else input
        bool errors; // the line is on standard error
        std::string out;
    } rows[] = {
        {{"-c", "src", "-", "-s"}, true, true, "ERROR! Cannot write an archive to a terminal -\n"},
        {{"-c", "src", "-"},
         true,
         true,
         kBanner + "ERROR! Cannot write an archive to a terminal -\n"},
        {{"-l", "-"}, false, false, in},
        {{"-t", "-"}, false, false, in},
        {{"-e", "-", "out", "-s"}, false, false, in},
        {{"-x", "-", "out", "a"}, false, false, in},
        {{"-p", "-", "read me.txt"}, false, true, in},
    };
    for (const auto& row : rows) {
        Limits limits;
        limits.terminal_output = row.output;
        limits.terminal_input = !row.output;
        limits.read_errors = row.errors;
        const Result run = quodrel_limited(row.args, dir.path(), limits);
        EXPECT_EQ(run.out, row.out) << row.args[0];
        EXPECT_EQ(run.status, 1) << row.args[0];
    }
    EXPECT_FALSE(exists(dir / "out"));
}

} // namespace
