// What a determined user does to a running program: changes the tree under it,
// closes its output, kills it, starves it of descriptors and threads, hands it names
// that talk to the terminal and files that are no archives. Nothing may land outside
// the destination, nothing half-made may stay, and nothing false may be said.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

// An archive of one folder d holding `files` small files.
std::string one_folder_of(int files) {
    ArchiveWriter writer;
    writer.dir("d", files);
    for (int i = 0; i < files; ++i)
        writer.file("f" + std::to_string(i), std::to_string(i));
    return writer.bytes();
}

std::size_t count_below(const std::string& root) { return paths_below(root).size(); }

// Renaming an extracted folder and putting a link to another place in its stead, as
// soon as the folder appears, never sends a file there: the folder keeps receiving
// its files where it now is, or, when the link came first, it is refused.
TEST(Pressure, AFolderSwappedForALinkMidRunReceivesNothingOutside) {
    SKIP_UNDER_WINE("links and a second process racing the program");
    constexpr int kFiles = 3000;
    const std::string bytes = one_folder_of(kFiles);
    int moved_runs = 0, refused_runs = 0;
    for (int run = 0; run < 8; ++run) {
        TempDir dir("/dev/shm");
        write_file(dir / "r.dat", bytes);
        make_dirs(dir / "elsewhere");
        const int pid = start_quodrel({"-e", "r.dat", "dest", "-s"}, dir.path());
        const std::string folder = dir / "dest/d";
        struct stat st;
        for (int i = 0; i < 2000000 && lstat(folder.c_str(), &st) != 0; ++i) {
        }
        const bool swapped = rename(folder.c_str(), (dir / "dest/d.moved").c_str()) == 0 &&
                             symlink((dir / "elsewhere").c_str(), folder.c_str()) == 0;
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(swapped) << "run " << run;
        EXPECT_EQ(count_below(dir / "elsewhere"), 0u) << "run " << run;
        const std::size_t moved =
            is_dir(dir / "dest/d.moved") ? count_below(dir / "dest/d.moved") : 0;
        if (moved == kFiles)
            ++moved_runs;
        else if (moved == 0)
            ++refused_runs; // the link stood there before the folder was opened
        else
            ADD_FAILURE() << moved << " files in the moved folder, run " << run;
    }
    EXPECT_EQ(moved_runs + refused_runs, 8);
}

// A folder of the tree swapped for a link to elsewhere after the scan, while the
// creation copies: nothing from where the link leads is packed. The folder the scan
// saw is gone from its place: it is left out and named, with all it held.
TEST(Pressure, CreationNeverReadsWhereALinkPutInAFoldersPlaceLeads) {
    SKIP_UNDER_WINE("links and a second process racing the program");
    int left_out = 0;
    for (int run = 0; run < 4; ++run) {
        TempDir dir("/dev/shm");
        make_dirs(dir / "src/d");
        make_dirs(dir / "outside");
        // The first file takes the copy a while: the swap falls between scan and copy.
        write_file(dir / "src/a-big", "");
        ASSERT_EQ(truncate((dir / "src/a-big").c_str(), 256LL << 20), 0);
        for (int i = 0; i < 10; ++i) {
            write_file(dir / ("src/d/f" + std::to_string(i)), "inside!");
            write_file(dir / ("outside/f" + std::to_string(i)), "OUTSIDE");
        }
        setenv("QUODREL_THREADS", "1", 1);
        const int pid = start_quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
        unsetenv("QUODREL_THREADS");
        for (int i = 0; i < 20000 && !writes_unfinished_file(pid, dir.path()); ++i)
            usleep(100);
        ASSERT_EQ(rename((dir / "src/d").c_str(), (dir / "src/d.moved").c_str()), 0);
        ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "src/d").c_str()), 0);
        int status = 0;
        waitpid(pid, &status, 0);
        const Result list = quodrel({"-l", "a.dat"}, dir.path());
        EXPECT_EQ(list.out.find("d/f"), list.out.find("d/f0")) << list.out; // all or none
        const Result read = quodrel({"-p", "a.dat", "d/f0"}, dir.path());
        EXPECT_NE(read.out, "OUTSIDE") << "run " << run;
        if (list.out.find("d/f") == std::string::npos) {
            ++left_out;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        }
    }
    EXPECT_GT(left_out, 0); // the swap did fall between scan and copy
}

TEST(Pressure, AFolderReplacedByALinkBeforeItIsOpenedIsRefusedWithItsSubtree) {
    SKIP_UNDER_WINE("links");
    TempDir dir;
    make_dirs(dir / "elsewhere");
    make_dirs(dir / "out");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "out/d").c_str()), 0);
    write_file(dir / "a.dat", ArchiveWriter().dir("d", 1).file("f", "x").file("g", "y").bytes());
    const Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting a.dat\n3 files, data offset 88\n.ERROR! Cannot create out/d\n"
                       "..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(count_below(dir / "elsewhere"), 0u);
    EXPECT_EQ(read_file(dir / "out/g"), "y");
}

// Control bytes in names are printed as escapes wherever a name is printed; the
// files keep their real names.
TEST(Pressure, NamesNeverTalkToTheTerminal) {
    TestRecord outside;
    outside.name = "past\x1b[2J";
    outside.offset = 1 << 30;
    outside.size = 3;
    TempDir dir;
    const std::string archive = ArchiveWriter()
                                    .file("new\nline", "1")
                                    .file("tab\there", "2")
                                    .file("title\x1b]0;pwned\x07", "3")
                                    .file("c1\xc2\x9b"
                                          "31m",
                                          "4")
                                    .file("caf\xc3\xa9\\", "5")
                                    .record(outside)
                                    .bytes();
    write_file(dir / "a.dat", archive);
    const Result list = quodrel({"-l", "a.dat"}, dir.path());
    EXPECT_EQ(list.out, "         1 new\\nline\n"
                        "         1 tab\\there\n"
                        "         1 title\\033]0;pwned\\007\n"
                        "         1 c1\\302\\23331m\n"
                        "         1 caf\xc3\xa9\\\n"
                        "         3 past\\033[2J\n"
                        "6 files, 0 directories, 8 bytes\n");
    const Result test = quodrel({"-t", "a.dat"}, dir.path());
    // Windows holds no control bytes in a name: there such names are refused too.
    EXPECT_EQ(test.out, under_wine() ? "ERROR! Unsafe name new\\nline\n"
                                       "ERROR! Unsafe name tab\\there\n"
                                       "ERROR! Unsafe name title\\033]0;pwned\\007\n"
                                       "ERROR! Unsafe name caf\xc3\xa9\\\n"
                                       "ERROR! Unsafe name past\\033[2J\n"
                                       "6 files, 0 directories, 8 bytes\n"
                                     : "ERROR! Unsafe name caf\xc3\xa9\\\n"
                                       "ERROR! Data cut short for past\\033[2J\n"
                                       "6 files, 0 directories, 8 bytes\n");
    if (under_wine())
        return; // names with control bytes cannot be made on Windows
    const Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting a.dat\n6 files, data offset 204\n"
                       ".....ERROR! Unsafe name out/caf\xc3\xa9\\\n"
                       ".ERROR! Data cut short for out/past\\033[2J\n"
                       "\nDone\n");
    EXPECT_EQ(read_file(dir / "out/new\nline"), "1");
    EXPECT_EQ(read_file(dir / "out/title\x1b]0;pwned\x07"), "3");
    // From a source tree too.
    make_dirs(dir / "src");
    write_file(dir / "src/bad:\rname", "x");
    const Result create = quodrel({"-c", "src", "b.dat", "-s"}, dir.path());
    EXPECT_EQ(create.out, "Creating b.dat (0 files)\nERROR! Name cannot be stored src/bad:\\rname\n"
                          "\nDone\n");
    // Paths the user typed, or a file manager handed over, print escaped as well.
    const struct {
        std::vector<std::string> args;
        std::string out;
    } typed[] = {
        {{"-l", "x\x1b[2J\a.dat"}, "ERROR! Cannot open x\\033[2J\\007.dat\n"},
        {{"-e", "a.dat", "out\x1b]0;t\a", "-s"},
         "Extracting a.dat\n6 files, data offset 204\n"
         ".....ERROR! Unsafe name out\\033]0;t\\007/caf\xc3\xa9\\\n"
         ".ERROR! Data cut short for out\\033]0;t\\007/past\\033[2J\n\nDone\n"},
        {{"-c", "src", "b\n.dat", "-s"},
         "Creating b\\n.dat (0 files)\nERROR! Name cannot be stored src/bad:\\rname\n\nDone\n"},
    };
    for (const auto& row : typed)
        EXPECT_EQ(quodrel(row.args, dir.path()).out, row.out) << row.args[1];
}

// Bytes that are no part of UTF-8 (a lone 0x9B is CSI to some terminals) and the
// characters that reorder a line (a listed "evil<U+202E>txt.exe" would show as
// "evilexe.txt") print as escapes too. Windows reads a name that is not UTF-8 in its
// ANSI code page, 1252 here, where it is readable: it prints as its characters there.
TEST(Pressure, BytesThatAreNoUtf8AndBidirectionalControlsPrintEscaped) {
    TestRecord outside;
    outside.name = "\x9b[2J";
    outside.offset = 1 << 30;
    outside.size = 1;
    TempDir dir;
    write_file(dir / "a.dat", ArchiveWriter()
                                  .file("csi\x9b"
                                        "31m",
                                        "1")
                                  .file("caf\xe9", "2")
                                  .file("evil\xe2\x80\xae"
                                        "txt.exe",
                                        "3")
                                  .file("iso\xe2\x81\xa6x", "4")
                                  .record(outside)
                                  .bytes());
    const bool wine = under_wine();
    const std::string csi = wine ? "\xe2\x80\xba" : "\\233"; // U+203A in code page 1252
    EXPECT_EQ(quodrel({"-l", "a.dat"}, dir.path()).out,
              "         1 csi" + csi + "31m\n" + "         1 caf" + (wine ? "\xc3\xa9" : "\\351") +
                  "\n"
                  "         1 evil\\342\\200\\256txt.exe\n"
                  "         1 iso\\342\\201\\246x\n"
                  "         1 " +
                  csi + "[2J\n5 files, 0 directories, 5 bytes\n");
    Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting a.dat\n5 files, data offset 164\n....."
                       "ERROR! Data cut short for out/" +
                           csi + "[2J\n\nDone\n");
    EXPECT_EQ(read_file(dir / "out/evil\xe2\x80\xaetxt.exe"), "3");
    if (wine)
        return; // what follows has names Windows gives only as UTF-8
    EXPECT_EQ(read_file(dir / "out/csi\x9b"
                              "31m"),
              "1");
    write_file(dir / "out/new\x9b\xe2\x80\x8f", "new");
    run = quodrel({"-d", "a.dat", "out"}, dir.path());
    EXPECT_EQ(run.out, "ERROR! Data cut short for \\233[2J\n"
                       "Only in the folder new\\233\\342\\200\\217\n"
                       "1 differences; 4 files and 0 directories in both\n");
    EXPECT_EQ(quodrel({"-l", "x\x9b\xe2\x80\xad.dat"}, dir.path()).out,
              "ERROR! Cannot open x\\233\\342\\200\\255.dat\n");
}

// A file size limit (ulimit -f) makes a write fail as a full disk does: told as the
// write error it is, with no file cut short and no temporary file left, and the earlier
// file or archive kept.
TEST(Pressure, AFileSizeLimitIsAWriteErrorNotTheEnd) {
    SKIP_UNDER_WINE("POSIX limits");
    TempDir dir("/dev/shm");
    const std::string big(3 << 20, 'g');
    write_file(dir / "g.dat", ArchiveWriter().file("g", big).bytes());
    make_dirs(dir / "src");
    write_file(dir / "src/g", big);
    Limits limits;
    limits.file_size = 1 << 20;
    limits.default_sigxfsz = true;
    Result run = quodrel_limited({"-e", "g.dat", "out", "-s"}, dir.path(), limits);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Extracting g.dat\n1 files, data offset 40\n.ERROR! Cannot write out/g\n"
                       "\nDone\n");
    EXPECT_EQ(paths_below(dir / "out"), std::vector<std::string>{});
    // Over an earlier extraction: the earlier file stays.
    write_file(dir / "out/g", "earlier");
    run = quodrel_limited({"-e", "g.dat", "out", "-s"}, dir.path(), limits);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(paths_below(dir / "out"), std::vector<std::string>{"/g"});
    EXPECT_EQ(read_file(dir / "out/g"), "earlier");
    // An archive that would pass the limit is not made; the one there stays.
    write_file(dir / "a.dat", "earlier");
    run = quodrel_limited({"-c", "src", "a.dat", "-s"}, dir.path(), limits);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Creating a.dat (1 files)\n.ERROR! Cannot write a.dat\n");
    EXPECT_EQ(read_file(dir / "a.dat"), "earlier");
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/a.dat", "/g.dat", "/out", "/out/g", "/src", "/src/g"}));
}

// A standard descriptor closed when the program starts stays closed to it: no archive or
// file of the program's becomes descriptor 1 and receives its texts. A closed output
// ends the run as a failed write does, and the archive that was there stays.
TEST(Pressure, AClosedStandardDescriptorNeverBecomesOneOfTheProgramsFiles) {
    SKIP_UNDER_WINE("POSIX descriptors");
    TempDir dir("/dev/shm");
    make_dirs(dir / "src/sub");
    for (int i = 0; i < 30; ++i)
        write_file(dir / ("src/sub/f" + std::to_string(i)), std::string(70000, 'a' + i % 26));
    ASSERT_EQ(quodrel({"-c", "src", "good.dat", "-s"}, dir.path()).status, 0);
    const std::string good = read_file(dir / "good.dat");
    write_file(dir / "src/new", "changed");
    const struct {
        std::vector<int> closed;
        int status;
    } rows[] = {{{1}, 1}, {{1, 2}, 1}, {{0, 1, 2}, 1}, {{0}, 0}, {{2}, 0}};
    for (const auto& row : rows) {
        const std::string what = std::to_string(row.closed.size()) + " closed from " +
                                 std::to_string(row.closed.front());
        write_file(dir / "kept.dat", good);
        Limits limits;
        limits.closed = row.closed;
        EXPECT_EQ(quodrel_limited({"-c", "src", "kept.dat", "-s"}, dir.path(), limits).status,
                  row.status)
            << what;
        // A failed run keeps the archive whole; one that went through holds the new file.
        if (row.status == 1) {
            EXPECT_TRUE(read_file(dir / "kept.dat") == good) << what;
        } else {
            EXPECT_EQ(quodrel({"-p", "kept.dat", "new"}, dir.path()).out, "changed") << what;
        }
        ASSERT_EQ(std::system(("rm -rf '" + (dir / "out") + "'").c_str()), 0);
        EXPECT_EQ(quodrel_limited({"-e", "good.dat", "out", "-s"}, dir.path(), limits).status,
                  row.status)
            << what;
        for (const std::string& path : paths_below(dir / "out")) {
            if (!is_dir(dir / ("out" + path))) {
                EXPECT_EQ(read_file(dir / ("out" + path)).size(), 70000u) << what << path;
            }
        }
        std::vector<std::string> left;
        for (const std::string& path : paths_below(dir.path()))
            if (path.find("quodrel") != std::string::npos)
                left.push_back(path);
        EXPECT_TRUE(left.empty()) << what << left.front();
    }
}

// A reader that goes away (a closed pipe), standard output on a full disk, Ctrl+Backslash
// and a kill: no file is left cut short, no temporary archive stays.
TEST(Pressure, ClosedOutputEndsTheRunWithoutACutShortFile) {
    SKIP_UNDER_WINE("POSIX pipes and signals");
    TempDir dir("/dev/shm");
    ArchiveWriter writer;
    const std::string content(600000, 'c');
    for (int i = 0; i < 150; ++i)
        writer.file("f" + std::to_string(i), content);
    write_file(dir / "big.dat", writer.bytes());
    int cut_short = 0, whole = 0;
    for (int run = 0; run < 6; ++run) {
        const std::string out = dir / ("out" + std::to_string(run));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            // The reader is never kept waiting by the program's own threads: the pipe is
            // closed while the program still has work to do, however loaded the machine.
            if (nice(19) == -1 && errno != 0)
                _exit(126);
            execl(QUODREL_BINARY, QUODREL_BINARY, "-e", (dir / "big.dat").c_str(), out.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char first[50];
        std::size_t got = 0;
        while (got < sizeof first) {
            const ssize_t n = read(fds[0], first + got, sizeof first - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        close(fds[0]); // as `| head -c 50` does
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        for (const std::string& path : paths_below(out))
            (read_file(out + path) == content ? whole : cut_short) += 1;
    }
    EXPECT_EQ(cut_short, 0);
    // Standard output on a full disk: the same, and listing fails too.
    EXPECT_EQ(std::system(("cd " + dir.path() + " && " + QUODREL_BINARY +
                           " -l big.dat >/dev/full; test $? = 1")
                              .c_str()),
              0);
    EXPECT_EQ(std::system(("cd " + dir.path() + " && " + QUODREL_BINARY +
                           " -e big.dat full >/dev/full; test $? = 1")
                              .c_str()),
              0);
    for (const std::string& path : paths_below(dir / "full"))
        EXPECT_EQ(read_file(dir / "full" + path), content) << path;
    if (whole == 6 * 150)
        GTEST_SKIP() << "every run was done before its reader went away";
}

void interrupt_extraction(int signal) {
    TempDir dir("/dev/shm");
    ArchiveWriter writer;
    const std::string content(900000, 'q');
    for (int i = 0; i < 200; ++i)
        writer.file("f" + std::to_string(i), content);
    write_file(dir / "a.dat", writer.bytes());
    const int pid = start_quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    for (int i = 0; i < 20000 && count_below(dir / "out") < 20; ++i)
        usleep(100);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    for (const std::string& path : paths_below(dir / "out"))
        EXPECT_EQ(read_file(dir / "out" + path), content) << path;
}

TEST(Pressure, CtrlBackslashIsAnInterruptLikeCtrlC) {
    SKIP_UNDER_WINE("POSIX signals");
    for (int run = 0; run < 3; ++run)
        interrupt_extraction(SIGQUIT);
    TempDir dir("/dev/shm");
    make_dirs(dir / "src");
    write_file(dir / "src/big", "");
    ASSERT_EQ(truncate((dir / "src/big").c_str(), 1LL << 30), 0);
    const int pid = start_quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
    for (int i = 0; i < 20000 && !writes_unfinished_file(pid, dir.path()); ++i)
        usleep(500);
    kill(pid, SIGQUIT);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/src", "/src/big"}));
}

// A killed creation: where no archive was, nothing is left, however the kill falls
// (the archive has no name until it is whole, and then it gets its final one in one
// step); where one was, it is whole, the earlier or the new.
TEST(Pressure, AKilledCreationLeavesNothingBehind) {
    SKIP_UNDER_WINE("POSIX signals");
    TempDir dir("/dev/shm");
    make_dirs(dir / "src");
    for (int i = 0; i < 40; ++i)
        write_file(dir / ("src/f" + std::to_string(i)), std::string(300000, 'k'));
    ASSERT_EQ(quodrel({"-c", "src", "earlier.dat", "-s"}, dir.path()).status, 0);
    const std::string earlier = read_file(dir / "earlier.dat");
    for (int run = 0; run < 12; ++run) {
        unlink((dir / "src/inside.dat").c_str());
        write_file(dir / "replaced.dat", earlier);
        const std::string archive = run % 2 == 0 ? "src/inside.dat" : "replaced.dat";
        const std::string folder = run % 2 == 0 ? dir / "src" : dir.path();
        const int pid = start_quodrel({"-c", "src", archive, "-s"}, dir.path());
        for (int i = 0; i < 20000 && !writes_unfinished_file(pid, folder); ++i)
            usleep(100);
        usleep(static_cast<useconds_t>((run / 2) * 1500));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::vector<std::string> left;
        for (const std::string& path : paths_below(dir.path()))
            if (path.find(".quodrel-") != std::string::npos)
                left.push_back(path);
        if (run % 2 == 0) {
            EXPECT_TRUE(left.empty()) << left.front();
        }
        // Whole: the earlier archive, or one that lists the tree.
        if (exists(dir / archive) && read_file(dir / archive) != earlier) {
            EXPECT_EQ(quodrel({"-t", archive}, dir.path()).status, 0) << run;
        }
        for (const std::string& path : left)
            unlink((dir.path() + path).c_str()); // (the instant between naming and renaming)
    }
    // The next creation of an archive inside its own source packs no leftover.
    EXPECT_EQ(quodrel({"-c", "src", "src/inside.dat", "-s"}, dir.path()).status, 0);
    EXPECT_EQ(quodrel({"-l", "src/inside.dat"}, dir.path()).out.find("quodrel"), std::string::npos);
}

// Few descriptors and no threads to be had change how the work is done, not its result.
TEST(Pressure, LimitsOfTheMachineAreNotFaultsOfTheTree) {
    SKIP_UNDER_WINE("POSIX limits");
    if (std::getenv("ASAN_OPTIONS"))
        GTEST_SKIP() << "the sanitizers' own machinery needs descriptors and threads";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    for (int d = 0; d < 6; ++d)
        make_dirs(dir / ("src/d" + std::to_string(d) + "/deeper"));
    for (int d = 0; d < 6; ++d)
        for (int f = 0; f < 50; ++f)
            write_file(dir / ("src/d" + std::to_string(d) + "/deeper/f" + std::to_string(f)),
                       std::string(static_cast<std::size_t>(f * 37 + d), 'a' + char(d)));
    write_file(dir / "src/big", std::string(300000, 'B'));
    const Result plain = quodrel({"-c", "src", "plain.dat", "-s"}, dir.path());
    ASSERT_EQ(plain.status, 0);
    const Result plain_out = quodrel({"-e", "plain.dat", "plain", "-s"}, dir.path());
    // Down to six descriptors: the three standard ones, the archive, a folder, a file.
    Limits few, fewest;
    few.descriptors = 8;
    fewest.descriptors = 6;
    Limits no_threads;
    no_threads.unprivileged = true;
    no_threads.no_more_threads = true;
    for (const Limits& limits : {few, fewest, no_threads}) {
        setenv("QUODREL_THREADS", "8", 1);
        const Result create =
            quodrel_limited({"-c", "src", "limited.dat", "-s"}, dir.path(), limits);
        const Result extract =
            quodrel_limited({"-e", "plain.dat", "limited", "-s"}, dir.path(), limits);
        unsetenv("QUODREL_THREADS");
        EXPECT_EQ(create.out, std::string(plain.out).replace(9, 5, "limited"));
        EXPECT_EQ(create.status, 0);
        EXPECT_EQ(read_file(dir / "limited.dat"), read_file(dir / "plain.dat"));
        EXPECT_EQ(extract.out, plain_out.out);
        EXPECT_TRUE(tree(dir / "limited") == tree(dir / "plain"));
        std::system(("rm -rf '" + (dir / "limited") + "' '" + (dir / "limited.dat") + "'").c_str());
    }
    // With fewer, nothing is tried, and one line says why.
    Limits too_few;
    too_few.descriptors = 5;
    const Result create = quodrel_limited({"-c", "src", "limited.dat", "-s"}, dir.path(), too_few);
    EXPECT_EQ(create.out, "ERROR! Too few open files allowed for limited.dat\n");
    const Result extract =
        quodrel_limited({"-e", "plain.dat", "limited", "-s"}, dir.path(), too_few);
    // (The lines that tell what the archive is come first, as ever.)
    const std::size_t first_line_end = plain_out.out.find('\n');
    const std::string head =
        plain_out.out.substr(0, plain_out.out.find('\n', first_line_end + 1) + 1);
    EXPECT_EQ(extract.out, head + "ERROR! Too few open files allowed for plain.dat\n");
    EXPECT_EQ(create.status + extract.status, 2);
    EXPECT_FALSE(exists(dir / "limited") || exists(dir / "limited.dat"));
}

// Extracting over an earlier tree on a disk that fills up keeps the earlier file.
TEST(Pressure, AFailedReplacementKeepsTheEarlierFile) {
    TempDir dir;
    make_dirs(dir / "out");
    write_file(dir / "out/doc.bin", "the earlier contents");
    write_file(dir / "a.dat", ArchiveWriter().file("doc.bin", std::string(5000, 'n')).bytes());
    const Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path(), false, 4096);
    EXPECT_EQ(run.out, "Extracting a.dat\n1 files, data offset 44\n.ERROR! Cannot write "
                       "out/doc.bin\n\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "out/doc.bin"), "the earlier contents");
    EXPECT_EQ(paths_below(dir / "out"), (std::vector<std::string>{"/doc.bin"}));
    // And a replacement that succeeds replaces it.
    EXPECT_EQ(quodrel({"-e", "a.dat", "out", "-s"}, dir.path()).status, 0);
    EXPECT_EQ(read_file(dir / "out/doc.bin"), std::string(5000, 'n'));
}

// -t says what extraction will do: the same name twice in a folder (and a file and a
// folder of one name) is a clash, the first stays.
TEST(Pressure, TestTellsTheClashesExtractionMeets) {
    TempDir dir;
    write_file(dir / "a.dat", ArchiveWriter()
                                  .file("x", "first")
                                  .file("x", "second")
                                  .dir("x", 1)
                                  .file("inside", "never")
                                  .dir("sub", 2)
                                  .file("Same", "1")
                                  .file("same", "2")
                                  .bytes());
    const std::string folded = under_wine() ? "ERROR! Name clash sub/same\n" : "";
    const Result test = quodrel({"-t", "a.dat"}, dir.path());
    EXPECT_EQ(test.out, "ERROR! Name clash x\nERROR! Name clash x\n" + folded +
                            "5 files, 2 directories, 18 bytes\n");
    EXPECT_EQ(test.status, 1);
    const Result run = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(run.out, "Extracting a.dat\n7 files, data offset 196\n"
                       "..ERROR! Name clash out/x\n.ERROR! Name clash out/x\n...." +
                           std::string(under_wine() ? "ERROR! Name clash out/sub/same\n" : "") +
                           "\nDone\n");
    EXPECT_EQ(read_file(dir / "out/x"), "first");
}

TEST(Pressure, TestTellsAFileThatIsNoArchive) {
    TempDir dir;
    write_file(dir / "empty", "");
    write_file(dir / "zeros", std::string(4096, '\0'));
    write_file(dir / "x.tar", "ustar\0not ours" + std::string(500, 'x'));
    for (const std::string name : {"empty", "zeros", "x.tar"}) {
        const Result run = quodrel({"-t", name}, dir.path());
        EXPECT_EQ(run.out, "ERROR! Not an archive " + name + "\n");
        EXPECT_EQ(run.status, 1);
    }
    // Listing and extraction keep reading any file as an archive.
    EXPECT_EQ(quodrel({"-l", "zeros"}, dir.path()).out, "0 files, 0 directories, 0 bytes\n");
}

TEST(Pressure, ALoneOptionIsNoFolderToPack) {
    TempDir dir;
    for (const std::string option : {"-l", "-t", "-e", "-c", "--list", "-x"}) {
        const Result run = quodrel({option}, dir.path());
        EXPECT_EQ(run.out, kBanner + kUsage) << option;
        EXPECT_EQ(run.status, 2) << option;
    }
    EXPECT_TRUE(paths_below(dir.path()).empty());
    // A folder of such a name is still packed.
    make_dirs(dir / "-x");
    write_file(dir / "-x/a", "a");
    EXPECT_EQ(quodrel({"-x"}, dir.path()).out,
              kBanner + "Creating -x.dat (1 files)\n.\nDone\n" + kPress);
}

TEST(Pressure, WindowsDeviceNamesAndTrailingDotsNeverBecomeFiles) {
    if (!under_wine())
        GTEST_SKIP() << "Windows names";
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a", "a");
    for (const std::string archive : {"NUL", "CON", "aux.dat", "x.dat.", "x.dat "}) {
        const Result run = quodrel({"-c", "src", archive, "-s"}, dir.path());
        EXPECT_EQ(run.out,
                  "Creating " + archive + " (1 files)\nERROR! Cannot create " + archive + "\n")
            << archive;
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/src", "/src/a"}));
    ASSERT_EQ(quodrel({"-c", "src", "a.dat", "-s"}, dir.path()).status, 0);
    for (const std::string dest : {"out.", "nul", "lpt1.txt"}) {
        const Result run = quodrel({"-e", "a.dat", dest, "-s"}, dir.path());
        EXPECT_EQ(run.out,
                  "Extracting a.dat\n1 files, data offset 40\nERROR! Cannot create " + dest + "\n")
            << dest;
    }
    EXPECT_EQ(quodrel({"-e", "a.dat", ".", "-s"}, dir.path()).status, 0); // "." stays valid
}

} // namespace
