// Creation through the real program: exact bytes, exact output, and the failures
// that must never leave a broken or lost archive.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

Result create(const TempDir& dir, const std::string& source = "src",
              const std::string& archive = "a.dat") {
    return quodrel({"-c", source, archive, "-s"}, dir.path());
}

std::string created(const std::string& archive, int count, const std::string& dots) {
    return "Creating " + archive + " (" + std::to_string(count) + " files)\n" + dots + "\nDone\n";
}

void make_tree(const std::string& root, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        const std::size_t slash = file.rfind('/');
        make_dirs(root + (slash == std::string::npos ? "" : "/" + file.substr(0, slash)));
        write_file(root + "/" + file, "<" + file + ">");
    }
}

TEST(Create, WorkedExampleByteForByte) {
    TempDir dir;
    make_dirs(dir / "src/sub");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "src/sub/b.bin", "abc");
    const Result run = create(dir);
    EXPECT_EQ(run.out, created("a.dat", 3, "..."));
    EXPECT_EQ(run.status, 0);
    TestRecord a, sub, b;
    a = {0, 5, 0, 0, 8, "a.txt"};
    sub = {0, 0, 0, 1, 4, "sub"};
    b = {5, 3, 1, 0, 8, "b.bin"};
    const std::string expected =
        ArchiveWriter().record(a).record(sub).record(b).data("helloabc").bytes();
    ASSERT_EQ(expected.size(), 104u);
    EXPECT_EQ(read_file(dir / "a.dat"), expected);
}

TEST(Create, EmptySourceGivesSixteenBytes) {
    TempDir dir;
    make_dirs(dir / "empty");
    const Result run = create(dir, "empty");
    EXPECT_EQ(run.out, created("a.dat", 0, ""));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / "a.dat"), ArchiveWriter().bytes());
}

// A typing mistake must not replace a good archive with an empty one.
TEST(Create, SourceThatIsNoListableFolderIsRefusedAndTheArchiveKept) {
    TempDir dir;
    write_file(dir / "plain", "not a directory");
    write_file(dir / "a.dat", "GOOD");
    for (const std::string source : {"mapz", "plain", ""}) {
        const Result run = create(dir, source);
        EXPECT_EQ(run.out, "Creating a.dat (0 files)\nERROR! Cannot open " + source + "\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(read_file(dir / "a.dat"), "GOOD");
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/a.dat", "/plain"}));
}

TEST(Create, UnlistableSourceFolderIsRefused) {
    SKIP_UNDER_WINE("runs as another user");
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "closed");
    write_file(dir / "closed/x", "x");
    ASSERT_EQ(chmod((dir / "closed").c_str(), 0), 0);
    const Result run = quodrel({"-c", "closed", "a.dat", "-s"}, dir.path(), true);
    EXPECT_EQ(run.out, "Creating a.dat (0 files)\nERROR! Cannot open closed\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(exists(dir / "a.dat"));
}

TEST(Create, EmptyFilesAndDirectoriesAndListingCounts) {
    TempDir dir;
    make_dirs(dir / "src/d/e");
    write_file(dir / "src/d/e/f", "12");
    write_file(dir / "src/d/empty", "");
    write_file(dir / "src/z", "345");
    EXPECT_EQ(create(dir).out, created("a.dat", 5, "....."));
    // Listing order d, d/e, d/e/f, d/empty, z; the entry after a size-0 entry carries
    // its child count, and so does the first entry.
    TestRecord d{0, 0, 2, 2, 4, "d"}, e{0, 0, 2, 1, 4, "e"}, f{0, 2, 1, 0, 4, "f"},
        empty{2, 0, 0, 0, 8, "empty"}, z{2, 3, 0, 0, 4, "z"};
    EXPECT_EQ(read_file(dir / "a.dat"), ArchiveWriter()
                                            .record(d)
                                            .record(e)
                                            .record(f)
                                            .record(empty)
                                            .record(z)
                                            .data("12345")
                                            .bytes());
}

TEST(Create, HashIsStoredAsColonAndComesBack) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a#b#c", "x");
    create(dir);
    EXPECT_NE(read_file(dir / "a.dat").find(std::string("a:b:c\0\0\0", 8)), std::string::npos);
    quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(tree(dir / "out"), "f /a#b#c x\n");
}

TEST(Create, ProgressDotsCountEveryEntryBothWays) {
    // The rule itself is a unit test's; here: both operations count every entry, folders
    // too, and the dots stand between the first line and "Done". 100 entries give a
    // dot at every second one.
    TempDir dir;
    make_dirs(dir / "src/sub");
    for (int i = 0; i < 99; ++i)
        write_file(dir / ("src/sub/" + std::to_string(1000 + i)), "x");
    const std::string dots(50, '.');
    EXPECT_EQ(create(dir).out, created("a.dat", 100, dots));
    EXPECT_EQ(quodrel({"-e", "a.dat", "out", "-s"}, dir.path()).out,
              "Extracting a.dat\n100 files, data offset 2812\n" + dots + "\nDone\n");
}

TEST(Create, SameTreeGivesTheSameBytesWhateverOrderItWasMadeIn) {
    const std::vector<std::string> names = {"b",     "A",    "a",          "B",     "_x", "a.txt",
                                            "A.TXT", "Zeta", "zeta/inner", "#hash", "10", "9"};
    TempDir one, two;
    make_tree(one / "src", names);
    make_tree(two / "src", std::vector<std::string>(names.rbegin(), names.rend()));
    create(one);
    create(two);
    const std::string bytes = read_file(one / "a.dat");
    EXPECT_EQ(bytes, read_file(two / "a.dat"));
    // Letters compare without case, ties by raw bytes; '_' sorts after letters.
    EXPECT_EQ(testing_support::stored_names(bytes),
              (std::vector<std::string>{":hash", "10", "9", "A", "a", "A.TXT", "a.txt", "B", "b",
                                        "Zeta", "zeta", "inner", "_x"}));
}

TEST(Create, RoundTripOfALargeTree) {
    TempDir dir;
    int files = 0;
    for (int a = 0; a < 12; ++a) {
        const std::string top = dir / ("src/dir" + std::to_string(a) + (a % 3 == 0 ? "#x" : ""));
        make_dirs(top + "/empty");
        for (int b = 0; b < 10; ++b) {
            const std::string mid = top + "/.hidden" + std::to_string(b);
            make_dirs(mid + "/deeper/still");
            for (int c = 0; c < 20; ++c, ++files)
                write_file(mid + (c % 2 ? "/deeper/still/f" : "/g") + std::to_string(c),
                           std::string(static_cast<std::size_t>(c * 37 % 500 + 1), char('a' + c)));
        }
    }
    const Result run = create(dir);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.rfind("Creating a.dat (2784 files)\n", 0), 0u) << run.out.substr(0, 80);
    const Result back = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(tree(dir / "out"), tree(dir / "src"));
    EXPECT_EQ(files, 2400);
}

// Files from 1 MiB on take another copying path than small ones; small files before,
// between and after them check that the archive's bytes stay in order.
TEST(Create, BigAndSmallFilesRoundTripByteForByte) {
    TempDir dir;
    auto contents = [](std::size_t size, char seed) {
        std::string s(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            s[i] = static_cast<char>(seed + i * 7 + i / 4096);
        return s;
    };
    const std::string big1 = contents((1 << 20) - 1, 'a'), big2 = contents(1 << 20, 'b'),
                      big3 = contents(3 * (1 << 20) + 17, 'c');
    make_dirs(dir / "src/d");
    write_file(dir / "src/a", "first");
    write_file(dir / "src/b", big1);
    write_file(dir / "src/c", big2);
    write_file(dir / "src/d/e", "between");
    write_file(dir / "src/d/f", big3);
    write_file(dir / "src/g", "last");
    const Result run = create(dir);
    EXPECT_EQ(run.out, created("a.dat", 7, "......."));
    EXPECT_EQ(read_file(dir / "a.dat"), ArchiveWriter()
                                            .file("a", "first")
                                            .file("b", big1)
                                            .file("c", big2)
                                            .dir("d", 2)
                                            .file("e", "between")
                                            .listing(2)
                                            .file("f", big3)
                                            .file("g", "last")
                                            .bytes());
    const Result back = quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(back.status, 0) << back.out;
    EXPECT_EQ(tree(dir / "out"), tree(dir / "src"));
}

TEST(Create, ExistingArchiveIsReplaced) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "a.dat", std::string(1000, 'o'));
    ASSERT_EQ(chmod((dir / "a.dat").c_str(), 0640), 0);
    EXPECT_EQ(create(dir).status, 0);
    EXPECT_EQ(read_file(dir / "a.dat"), ArchiveWriter().file("a.txt", "hello").bytes());
    struct stat st;
    ASSERT_EQ(stat((dir / "a.dat").c_str(), &st), 0);
    if (!under_wine()) { // Windows keeps no permission bits
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
}

TEST(Create, InterruptedCreationLeavesNoTemporaryFile) {
    SKIP_UNDER_WINE("POSIX signals");
    // A big sparse file keeps the copy busy long enough to interrupt it.
    TempDir dir(is_dir("/dev/shm") ? "/dev/shm" : "/tmp");
    make_dirs(dir / "src");
    write_file(dir / "src/big", "");
    ASSERT_EQ(truncate((dir / "src/big").c_str(), 1LL << 30), 0);
    write_file(dir / "a.dat", "OLD");
    const int pid = start_quodrel({"-c", "src", "a.dat", "-s"}, dir.path());
    for (int i = 0; i < 20000 && !writes_unfinished_file(pid, dir.path()); ++i)
        usleep(500);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    if (read_file(dir / "a.dat") != "OLD")
        GTEST_SKIP() << "the copy ended before the signal came";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/a.dat", "/src", "/src/big"}));
}

// An archive path in a missing folder, or with a closing separator (a folder, which an
// archive is not), is refused after the scan, and nothing is made.
TEST(Create, ArchiveInAMissingFolderIsReportedAfterTheScan) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    for (const std::string archive : {"missing/a.dat", "newdir/", "a.dat/"}) {
        const Result run = create(dir, "src", archive);
        EXPECT_EQ(run.out,
                  "Creating " + archive + " (1 files)\nERROR! Cannot create " + archive + "\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(paths_below(dir.path()), (std::vector<std::string>{"/src", "/src/a.txt"}));
}

TEST(Create, AFullDiskKeepsTheOldArchiveAndLeavesNoTemporaryFile) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/big", std::string(3 << 20, 'b'));    // copied inside the kernel
    write_file(dir / "src/small", std::string(10 << 10, 's')); // through the block buffer
    write_file(dir / "a.dat", "OLD");
    // The first limit stops the kernel copy of big; the second lets it through and
    // stops the last write of the block buffer, which holds small.
    const std::pair<std::uint64_t, std::string> cases[] = {{1u << 20, "."},
                                                           {(3u << 20) + 4096, ".."}};
    for (const auto& [limit, dots] : cases) {
        const Result run = quodrel({"-c", "src", "a.dat", "-s"}, dir.path(), false, limit);
        EXPECT_EQ(run.out, "Creating a.dat (2 files)\n" + dots + "ERROR! Cannot write a.dat\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(read_file(dir / "a.dat") == "OLD");
        EXPECT_EQ(paths_below(dir.path()),
                  (std::vector<std::string>{"/a.dat", "/src", "/src/big", "/src/small"}));
    }
}

TEST(Create, UnreadableSourceFileIsLeftOutAndTheRestPacked) {
    SKIP_UNDER_WINE("runs as another user");
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "src/b.txt", "secret");
    write_file(dir / "src/c.txt", "more");
    ASSERT_EQ(chmod((dir / "src/b.txt").c_str(), 0), 0);
    write_file(dir / "a.dat", "OLD");
    ASSERT_EQ(chmod((dir / "a.dat").c_str(), 0666), 0);
    const Result run = quodrel({"-c", "src", "a.dat", "-s"}, dir.path(), true);
    EXPECT_EQ(run.out, "Creating a.dat (2 files)\nERROR! Cannot open src/b.txt\n..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "a.dat"),
              ArchiveWriter().file("a.txt", "hello").file("c.txt", "more").bytes());
}

// The mode bits say it may be read, an access list says no: the scan takes it, the
// copy cannot open it. Its scanned size is stored as zeros, so the archive stays
// consistent, and it is named.
// A file the scan found readable that then cannot be opened (here an access list
// denies it) is left out: the archive is written again without it, never with zeros
// in its place.
TEST(Create, FileThatCannotBeOpenedAtCopyTimeIsLeftOutAndNamed) {
    SKIP_UNDER_WINE("runs as another user");
    if (std::system("command -v setfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl is not installed";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "src/sub");
    write_file(dir / "src/a.txt", "hello");
    write_file(dir / "src/sub/b.txt", "secret");
    write_file(dir / "src/sub/c.txt", "more");
    write_file(dir / "src/z.bin", std::string(200000, 'z')); // moved on its own, not in a batch
    write_file(dir / "src/zz", "end");
    for (const char* denied : {"src/sub/b.txt", "src/z.bin"})
        if (std::system(("setfacl -m u:nobody:--- '" + (dir / denied) + "' 2>/dev/null").c_str()) !=
            0)
            GTEST_SKIP() << "no access lists on this file system";
    write_file(dir / "a.dat", "OLD");
    ASSERT_EQ(chmod((dir / "a.dat").c_str(), 0666), 0);
    const Result run = quodrel({"-c", "src", "a.dat", "-s"}, dir.path(), true);
    EXPECT_EQ(run.out, "Creating a.dat (6 files)\n"
                       "...ERROR! Cannot open src/sub/b.txt\n"
                       "..ERROR! Cannot open src/z.bin\n"
                       ".\nDone\n");
    EXPECT_EQ(run.status, 1);
    // The very archive of the tree without them.
    make_dirs(dir / "without/sub");
    write_file(dir / "without/a.txt", "hello");
    write_file(dir / "without/sub/c.txt", "more");
    write_file(dir / "without/zz", "end");
    EXPECT_EQ(create(dir, "without", "b.dat").status, 0);
    EXPECT_EQ(read_file(dir / "a.dat"), read_file(dir / "b.dat"));
    for (const std::string& path : paths_below(dir.path()))
        EXPECT_EQ(path.find(".quodrel-"), std::string::npos) << path;
}

// A ":" would come back as "#" (where todo#1.txt already is), and no extraction
// writes a backslash: such names are left out, with what lies below them, and named.
TEST(Create, NamesAnArchiveCannotGiveBackAreLeftOutAndNamed) {
    SKIP_UNDER_WINE("Windows names hold neither");
    TempDir dir;
    make_dirs(dir / "src/back\\slash");
    write_file(dir / "src/back\\slash/inside", "x");
    write_file(dir / "src/todo#1.txt", "hash");
    write_file(dir / "src/todo:1.txt", "colon");
    write_file(dir / "src/z", "z");
    const Result run = create(dir);
    EXPECT_EQ(run.out, "Creating a.dat (2 files)\n"
                       "ERROR! Name cannot be stored src/back\\slash\n"
                       "ERROR! Name cannot be stored src/todo:1.txt\n"
                       "..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "a.dat"),
              ArchiveWriter().file("todo:1.txt", "hash").file("z", "z").bytes());
}

// The archive path is a link into another file system (/dev/shm against /tmp): the
// archive is written beside the link's target, and the link stays a link. (On Windows
// a link that leads nowhere is replaced: no file is made through a link there.)
TEST(Create, ArchiveBehindALinkToAnotherFileSystem) {
    if (!is_dir("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm";
    TempDir dir("/tmp"), elsewhere("/dev/shm");
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    write_file(elsewhere / "old.dat", "OLD");
    ASSERT_EQ(symlink((elsewhere / "old.dat").c_str(), (dir / "a.dat").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere / "new.dat").c_str(), (dir / "b.dat").c_str()), 0); // dangling
    const std::string expected = ArchiveWriter().file("a.txt", "hello").bytes();
    for (const std::string archive : {"a.dat", "b.dat"}) {
        const Result run = create(dir, "src", archive);
        EXPECT_EQ(run.out, created(archive, 1, ".")) << archive;
        EXPECT_EQ(run.status, 0);
        struct stat st;
        ASSERT_EQ(lstat((dir / archive).c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), !under_wine() || archive == "a.dat") << archive;
    }
    EXPECT_EQ(read_file(elsewhere / "old.dat"), expected);
    EXPECT_EQ(read_file(under_wine() ? dir / "b.dat" : elsewhere / "new.dat"), expected);
    const std::vector<std::string> targets = under_wine()
                                                 ? std::vector<std::string>{"/old.dat"}
                                                 : std::vector<std::string>{"/new.dat", "/old.dat"};
    EXPECT_EQ(paths_below(elsewhere.path()), targets);
}

// Whatever the kernel refuses to write through, creation refuses too: another user's
// link in a shared sticky folder is not followed where the kernel protects against it
// (fs.protected_symlinks), and the file it leads to stays as it was.
TEST(Create, AnArchivePathThroughALinkIsFollowedOnlyAsTheKernelFollowsIt) {
    SKIP_UNDER_WINE("links and users");
    if (geteuid() != 0)
        GTEST_SKIP() << "needs another user to own a link";
    // The setting is the machine's: the runs of this case side by side (one per thread
    // count) take turns, each setting it and putting it back whole.
    struct Turn {
        int file = open("/tmp/quodrel-protected-symlinks.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        Turn() { flock(file, LOCK_EX); }
        ~Turn() { close(file); }
    } turn;
    const char* const setting = "/proc/sys/fs/protected_symlinks";
    const std::string before = exists(setting) ? read_file(setting) : "";
    if (before.empty() ||
        (before[0] != '1' && (std::system("echo 1 > /proc/sys/fs/protected_symlinks "
                                          "2>/dev/null") != 0 ||
                              read_file(setting)[0] != '1')))
        GTEST_SKIP() << "fs.protected_symlinks is off and cannot be set";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    make_dirs(dir / "shared");
    ASSERT_EQ(chmod((dir / "shared").c_str(), 01777), 0);
    write_file(dir / "victim.dat", "VICTIM");
    // Another user's link, and one of the program's own user, in the shared folder.
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(setgid(65534) == 0 && setuid(65534) == 0 &&
                      symlink((dir / "victim.dat").c_str(), (dir / "shared/theirs.dat").c_str()) ==
                          0
                  ? 0
                  : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(symlink((dir / "mine.dat").c_str(), (dir / "shared/mine.dat").c_str()), 0);
    const Result refused = create(dir, "src", "shared/theirs.dat");
    const Result followed = create(dir, "src", "shared/mine.dat");
    if (before[0] != '1')
        write_file(setting, before);
    EXPECT_EQ(refused.out, "Creating shared/theirs.dat (1 files)\n"
                           "ERROR! Cannot create shared/theirs.dat\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(read_file(dir / "victim.dat"), "VICTIM");
    EXPECT_EQ(followed.status, 0);
    EXPECT_EQ(read_file(dir / "mine.dat"), ArchiveWriter().file("a.txt", "hello").bytes());
    EXPECT_EQ(paths_below(dir / "shared"),
              (std::vector<std::string>{"/mine.dat", "/theirs.dat"})); // links both, still
}

TEST(Create, UnlistableDirectoryIsReportedAndPackedEmpty) {
    SKIP_UNDER_WINE("runs as another user");
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    make_dirs(dir / "src/closed");
    write_file(dir / "src/closed/x", "x");
    write_file(dir / "src/open", "y");
    ASSERT_EQ(chmod((dir / "src/closed").c_str(), 0), 0);
    const Result run = quodrel({"-c", "src", "a.dat", "-s"}, dir.path(), true);
    EXPECT_EQ(run.out, "Creating a.dat (2 files)\nERROR! Cannot open src/closed\n..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "a.dat"), ArchiveWriter().dir("closed", 0).file("open", "y").bytes());
}

TEST(Create, ArchiveInsideItsSourceIsLeftOut) {
    TempDir dir;
    make_dirs(dir / "src");
    write_file(dir / "src/a.txt", "hello");
    const std::string expected = ArchiveWriter().file("a.txt", "hello").bytes();
    for (int run = 0; run < 2; ++run) { // absent the first time, present the second
        EXPECT_EQ(create(dir, "src", "src/self.dat").out, created("src/self.dat", 1, "."));
        EXPECT_EQ(read_file(dir / "src/self.dat"), expected);
    }
}

TEST(Create, LinksAreFollowedSpecialFilesAndLoopsLeftOut) {
    SKIP_UNDER_WINE("symbolic links and FIFOs");
    TempDir dir;
    make_dirs(dir / "src/sub");
    make_dirs(dir / "outside/inner");
    write_file(dir / "outside/inner/o", "out");
    write_file(dir / "src/sub/real", "r");
    ASSERT_EQ(symlink("real", (dir / "src/sub/file-link").c_str()), 0);
    ASSERT_EQ(symlink("../../outside", (dir / "src/sub/dir-link").c_str()), 0);
    ASSERT_EQ(symlink("..", (dir / "src/sub/loop").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "src/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "src/fifo").c_str(), 0666), 0);
    const Result run = create(dir);
    EXPECT_EQ(run.out, created("a.dat", 6, "......"));
    quodrel({"-e", "a.dat", "out", "-s"}, dir.path());
    EXPECT_EQ(tree(dir / "out"),
              "d /sub\nd /sub/dir-link\nd /sub/dir-link/inner\n"
              "f /sub/dir-link/inner/o out\nf /sub/file-link r\nf /sub/real r\n");
}

// A kernel attribute file claims 4096 bytes but holds a few: the same thing a
// source file that shrinks between the scan and the copy looks like.
TEST(Create, FileShorterThanScannedIsPaddedAndReported) {
    const std::string attribute = "/sys/devices/system/cpu/online";
    struct stat st;
    if (stat(attribute.c_str(), &st) != 0 || st.st_size != 4096)
        GTEST_SKIP() << "no kernel attribute file to read";
    const std::string contents = read_file(attribute);
    TempDir dir;
    make_dirs(dir / "src");
    ASSERT_EQ(symlink(attribute.c_str(), (dir / "src/online").c_str()), 0);
    write_file(dir / "src/z", "after");
    const Result run = create(dir);
    EXPECT_EQ(run.out, "Creating a.dat (2 files)\n.ERROR! File changed while reading src/online\n."
                       "\nDone\n");
    EXPECT_EQ(run.status, 1);
    std::string padded = contents;
    padded.resize(4096, '\0');
    EXPECT_EQ(read_file(dir / "a.dat"),
              ArchiveWriter().file("online", padded).file("z", "after").bytes());
}

TEST(Create, LimitsOfTheFormatRefuseTheArchive) {
    {
        TempDir dir;
        std::string deep = "src";
        for (int i = 0; i < 52; ++i)
            deep += "/nine_char";
        make_dirs(dir / deep); // 52 * 10 = 520 bytes below the root
        write_file(dir / "a.dat", "OLD");
        const Result run = create(dir);
        EXPECT_EQ(run.out, "Creating a.dat (51 files)\nERROR! Path too long " + deep + "\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(read_file(dir / "a.dat"), "OLD");
    }

    TempDir big;
    make_dirs(big / "src");
    write_file(big / "src/huge", "");
    ASSERT_EQ(truncate((big / "src/huge").c_str(), 0x80000000LL), 0); // sparse 2 GiB
    Result run = create(big);
    EXPECT_EQ(run.out, "Creating a.dat (0 files)\nERROR! File too large src/huge\n");
    EXPECT_FALSE(exists(big / "a.dat"));

    ASSERT_EQ(truncate((big / "src/huge").c_str(), 0x40000000LL), 0);
    write_file(big / "src/huge2", "");
    ASSERT_EQ(truncate((big / "src/huge2").c_str(), 0x40000000LL), 0);
    run = create(big);
    EXPECT_EQ(run.out, "Creating a.dat (2 files)\nERROR! Archive too large a.dat\n");
    EXPECT_FALSE(exists(big / "a.dat"));
    EXPECT_EQ(paths_below(big.path()),
              (std::vector<std::string>{"/src", "/src/huge", "/src/huge2"}));

    // Links multiply a tree: twenty folders, each holding two links to the next, make
    // 2^20 paths to the last. The walk stops as soon as what it counted passes the
    // archive's size (here at the second copy of a sparse 1.5 GiB file, after 24
    // entries), not after a million paths.
    TempDir links;
    make_dirs(links / "src");
    make_dirs(links / "bottom");
    write_file(links / "bottom/huge", "");
    ASSERT_EQ(truncate((links / "bottom/huge").c_str(), 3LL << 29), 0);
    for (int level = 1; level <= 20; ++level) {
        const std::string here = links / ("f" + std::to_string(level));
        const std::string next = level < 20 ? "../f" + std::to_string(level + 1) : "../bottom";
        make_dirs(here);
        ASSERT_EQ(symlink(next.c_str(), (here + "/a").c_str()), 0);
        ASSERT_EQ(symlink(next.c_str(), (here + "/b").c_str()), 0);
    }
    ASSERT_EQ(symlink("../f1", (links / "src/top").c_str()), 0);
    run = create(links);
    EXPECT_EQ(run.out, "Creating a.dat (24 files)\nERROR! Archive too large a.dat\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(exists(links / "a.dat"));
}

} // namespace
