// Damaged and hostile archives: every outcome reported, nothing written outside the
// destination, no truncated file left as if it were whole.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

const std::string kHead = "Extracting h.dat\n";

Result extract(const TempDir& dir, const std::string& bytes) {
    write_file(dir / "h.dat", bytes);
    return quodrel({"-e", "h.dat", "out", "-s"}, dir.path());
}

TEST(Hostile, TableDamageIsReportedBeforeAnythingIsWritten) {
    TestRecord long_name;
    long_name.name = "x";
    long_name.name_length = 300;
    TestRecord negative_name = long_name;
    negative_name.name_length = -4;
    ArchiveWriter deep;
    for (int i = 0; i < 256; ++i)
        deep.dir("d", 1);
    struct Case {
        std::string bytes, expected;
    } cases[] = {
        {"CHELALIC\x02", "2 files, data offset 0\nERROR! Entry table cut short in h.dat\n"},
        {ArchiveWriter().bytes(0x7fffffff),
         "2147483647 files, data offset 16\nERROR! Entry table cut short in h.dat\n"},
        // Room for three records by size, but the third is missing.
        {ArchiveWriter().file("a.txt", "hello").file("b.txt", "12345678").bytes(3),
         "3 files, data offset 72\nERROR! Entry table cut short in h.dat\n"},
        {ArchiveWriter().record(long_name).data(std::string(400, 'x')).bytes(),
         "1 files, data offset 336\nERROR! Bad name length in h.dat\n"},
        {ArchiveWriter().record(negative_name).data(std::string(40, 'x')).bytes(),
         "1 files, data offset 36\nERROR! Bad name length in h.dat\n"},
        {deep.bytes(), "256 files, data offset 6160\nERROR! Too many directory levels in h.dat\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const Result run = extract(dir, c.bytes);
        EXPECT_EQ(run.out, kHead + c.expected);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(exists(dir / "out"));
    }
}

TEST(Hostile, DeepestAllowedTreeIsExtracted) {
    TempDir dir;
    ArchiveWriter deep;
    for (int i = 0; i < 255; ++i)
        deep.dir("d", i == 254 ? 0 : 1);
    const Result run = extract(dir, deep.bytes());
    EXPECT_EQ(run.status, 0) << run.out;
    std::string path = dir / "out";
    for (int i = 0; i < 255; ++i)
        path += "/d";
    EXPECT_TRUE(is_dir(path));
}

TEST(Hostile, UnsafeNamesAreRefusedWithEverythingBelowThem) {
    TempDir dir;
    make_dirs(dir / "out");
    ArchiveWriter writer;
    writer.dir("..", 2)
        .file("escaped", "x")
        .dir("sub", 0) // refused with its contents
        .file(".", "x")
        .file("", "x")
        .file("a/b", "x")
        .file("a\\b", "x")
        .dir("ok", 1)
        .dir("..", 1)
        .file("escaped2", "x") // refused below a good directory
        .file("kept", "k");
    const Result run = extract(dir, writer.bytes());
    EXPECT_EQ(run.out, kHead + "11 files, data offset 296\n"
                               ".ERROR! Unsafe name out/..\n"
                               "..."
                               "ERROR! Unsafe name out/.\n"
                               ".ERROR! Unsafe name out/\n"
                               ".ERROR! Unsafe name out/a/b\n"
                               ".ERROR! Unsafe name out/a\\b\n"
                               "..ERROR! Unsafe name out/ok/..\n"
                               "..\nDone\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tree(dir / "out"), "d /ok\nf /kept k\n");
    EXPECT_EQ(paths_below(dir.path()),
              (std::vector<std::string>{"/h.dat", "/out", "/out/kept", "/out/ok"}));
}

TEST(Hostile, OverlongNamesAndPathsAreRefused) {
    TempDir dir;
    TestRecord name256;
    name256.name = std::string(256, 'n'); // fills its 256 bytes with no NUL
    name256.name_length = 256;
    name256.size = 1;
    ArchiveWriter writer;
    writer.record(name256);
    // "/a" and 126 times "/bbb" make 506 bytes: "/cccccc" passes 511.
    writer.dir("a", 1);
    for (int i = 0; i < 126; ++i)
        writer.dir("bbb", 1);
    writer.dir("cccccc", 1).file("f", "x");
    writer.file("top", "t").data("n");
    const std::string bytes = writer.bytes();
    const Result run = extract(dir, bytes);
    EXPECT_NE(run.out.find(".ERROR! Name too long out/" + std::string(256, 'n') + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ERROR! Path too long out/a" +
                           [] {
                               std::string s;
                               for (int i = 0; i < 126; ++i)
                                   s += "/bbb";
                               return s;
                           }() +
                           "/cccccc\n"),
              std::string::npos);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir / "out/top"), "t");
}

TEST(Hostile, DataOutsideTheArchiveLeavesNoFile) {
    TestRecord past_end;
    past_end.name = "past";
    past_end.offset = 2;
    past_end.size = 10;
    TestRecord negative_offset = past_end;
    negative_offset.name = "neg";
    negative_offset.offset = -1000;
    negative_offset.size = 1;
    TestRecord negative_size = past_end;
    negative_size.name = "negsize";
    negative_size.offset = 0;
    negative_size.size = -1;
    TempDir dir;
    const Result run = extract(dir, ArchiveWriter()
                                        .record(past_end)
                                        .record(negative_offset)
                                        .record(negative_size)
                                        .file("good", "abc")
                                        .bytes());
    EXPECT_EQ(run.out, kHead + "4 files, data offset 124\n"
                               ".ERROR! Data cut short for out/past\n"
                               ".ERROR! Data out of range for out/neg\n"
                               ".ERROR! Data out of range for out/negsize\n"
                               ".\nDone\n");
    EXPECT_EQ(tree(dir / "out"), "f /good abc\n");
}

// The same words on Windows, where the link to a file is no reparse point under Wine.
TEST(Hostile, LinksInTheDestinationAreNotWrittenThrough) {
    TempDir dir;
    make_dirs(dir / "elsewhere");
    make_dirs(dir / "out");
    ASSERT_EQ(symlink("../elsewhere", (dir / "out/sub").c_str()), 0);
    write_file(dir / "elsewhere/target", "keep");
    ASSERT_EQ(symlink("../elsewhere/target", (dir / "out/file").c_str()), 0);
    write_file(dir / "out/kept", "kept");
    ASSERT_EQ(symlink("kept", (dir / "out/sibling").c_str()), 0);
    const Result run = extract(dir, ArchiveWriter()
                                        .dir("sub", 1)
                                        .file("x", "bad")
                                        .file("file", "bad")
                                        .file("sibling", "bad")
                                        .file("ok", "good")
                                        .bytes());
    EXPECT_EQ(run.out, kHead + "5 files, data offset 144\n"
                               ".ERROR! Cannot create out/sub\n"
                               "..ERROR! Cannot create out/file\n"
                               ".ERROR! Cannot create out/sibling\n"
                               ".\nDone\n");
    EXPECT_EQ(tree(dir / "elsewhere"), "f /target keep\n");
    EXPECT_EQ(read_file(dir / "out/kept"), "kept");
    EXPECT_EQ(read_file(dir / "out/ok"), "good");
}

TEST(Hostile, AnEntryNeverOverwritesTheArchiveBeingRead) {
    TempDir dir;
    const std::string bytes = ArchiveWriter().file("h.dat", "evil").file("next", "n").bytes();
    write_file(dir / "h.dat", bytes);
    const Result run = quodrel({"-e", "h.dat", "", "-s"}, dir.path());
    EXPECT_EQ(run.out, kHead + "2 files, data offset 72\n.ERROR! Cannot create ./h.dat\n.\nDone\n");
    EXPECT_EQ(read_file(dir / "h.dat"), bytes);
    EXPECT_EQ(read_file(dir / "next"), "n");
}

TEST(Hostile, HardLinksInTheDestinationAreReplacedNotWrittenThrough) {
    TempDir dir;
    make_dirs(dir / "out");
    write_file(dir / "outside", "keep");
    ASSERT_EQ(link((dir / "outside").c_str(), (dir / "out/shared").c_str()), 0);
    const Result run = extract(dir, ArchiveWriter().file("shared", "new").bytes());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(read_file(dir / "outside"), "keep");
    EXPECT_EQ(read_file(dir / "out/shared"), "new");
}

// The threads of a running process but its first: the ones an operation started.
std::vector<int> other_threads_of(int pid) {
    std::vector<int> threads;
    DIR* tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    while (const dirent* task = tasks ? readdir(tasks) : nullptr)
        if (const int tid = std::atoi(task->d_name); tid > 0 && tid != pid)
            threads.push_back(tid);
    if (tasks)
        closedir(tasks);
    return threads;
}

// Sends `signal` to the process, or with `to_a_worker` to one of the threads an
// operation started (the faults are the signals those threads take): false when it
// has none.
bool send(int pid, int signal, bool to_a_worker) {
    if (!to_a_worker)
        return kill(pid, signal) == 0;
    const std::vector<int> threads = other_threads_of(pid);
    return !threads.empty() && syscall(SYS_tgkill, pid, threads.back(), signal) == 0;
}

// Every signal that ends a process by default and can be caught ends an extraction as
// an interrupt does: the file being written is removed, and the status says which
// signal it was. The faults sent by kill too, also to a thread the operation started,
// where the clean-up runs on that thread.
TEST(Hostile, EverySignalThatEndsAProcessLeavesNoHalfFile) {
    SKIP_UNDER_WINE("POSIX signals");
    TempDir dir(is_dir("/dev/shm") ? "/dev/shm" : "/tmp");
    // The header and record of one file of 1 GiB, its data a sparse run of zeros.
    TestRecord big;
    big.name = "big";
    big.size = 1 << 30;
    write_file(dir / "h.dat", ArchiveWriter().record(big).bytes());
    ASSERT_EQ(truncate((dir / "h.dat").c_str(), 16 + 20 + 4 + (1LL << 30)), 0);
    struct Sent {
        int signal;
        bool to_a_worker;
    };
    std::vector<Sent> rows;
    for (const int signal :
         {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGUSR1,  SIGUSR2,      SIGALRM,  SIGVTALRM,
          SIGPROF, SIGXCPU, SIGPOLL, SIGPWR,  SIGRTMIN, SIGRTMIN + 1, SIGRTMAX, SIGSTKFLT,
          SIGSYS,  SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,   SIGILL,       SIGSEGV})
        rows.push_back({signal, false});
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
        rows.push_back({fault, true});
    int interrupted = 0;
    for (const Sent& row : rows) {
        const std::string what =
            strsignal(row.signal) + std::string(row.to_a_worker ? " to a worker" : "");
        ASSERT_EQ(std::system(("rm -rf '" + (dir / "out") + "'").c_str()), 0);
        const int pid = start_quodrel({"-e", "h.dat", "out", "-s"}, dir.path());
        for (int i = 0;
             i < 20000 && !exists(dir / "out/big") && !writes_unfinished_file(pid, dir / "out");
             ++i)
            usleep(500);
        usleep(20000); // well into the copy
        const bool sent = send(pid, row.signal, row.to_a_worker);
        if (!sent)
            kill(pid, SIGKILL); // no worker (one thread): nothing to try
        int status = 0;
        waitpid(pid, &status, 0);
        if (!sent || WIFEXITED(status))
            continue; // no worker to send it to, or the copy ended before the signal came
        ++interrupted;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << what;
        EXPECT_EQ(paths_below(dir / "out"), std::vector<std::string>{}) << what;
    }
    EXPECT_GT(interrupted, 12);
}

// Files of every size are guarded: however the signal falls, each file left is whole.
// Many tiny files keep the threads creating files most of the time, so that a signal
// often finds one in the middle of that.
TEST(Hostile, InterruptedExtractionOfManyFilesLeavesOnlyWholeOnes) {
    SKIP_UNDER_WINE("POSIX signals");
    TempDir dir(is_dir("/dev/shm") ? "/dev/shm" : "/tmp");
    const struct {
        int files;
        std::int64_t size;
    } loads[] = {{400, 900 << 10}, {20000, 1}};
    int interrupted = 0;
    for (const auto& load : loads) {
        ArchiveWriter writer;
        for (int i = 0; i < load.files; ++i) {
            TestRecord file;
            file.name = "f" + std::to_string(100000 + i);
            file.offset = i * load.size;
            file.size = load.size;
            writer.record(file);
        }
        const std::string head = writer.bytes();
        write_file(dir / "h.dat", head);
        ASSERT_EQ(truncate((dir / "h.dat").c_str(),
                           static_cast<off_t>(head.size() + load.files * load.size)),
                  0);
        for (int round = 0; round < 8; ++round) {
            ASSERT_EQ(std::system(("rm -rf '" + (dir / "out") + "'").c_str()), 0);
            const int pid = start_quodrel({"-e", "h.dat", "out", "-s"}, dir.path());
            const std::size_t written = static_cast<std::size_t>(load.files / 40 * (round + 1));
            for (int i = 0; i < 20000 && paths_below(dir / "out").size() < written; ++i)
                usleep(200);
            // Half of them a fault sent to a thread the operation started, which may be
            // in the middle of creating a file: the clean-up runs on that very thread.
            if (round % 2 == 0 || !send(pid, SIGSEGV, true))
                kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
            if (!WIFSIGNALED(status))
                continue; // it ended before the signal came
            ++interrupted;
            for (const std::string& path : paths_below(dir / "out")) {
                struct stat st;
                ASSERT_EQ(stat((dir / ("out" + path)).c_str(), &st), 0);
                EXPECT_EQ(st.st_size, load.size) << path << " in round " << round;
            }
        }
    }
    if (interrupted == 0)
        GTEST_SKIP() << "every extraction ended before the signal came";
}

// Random damage to a valid archive: the program always ends on its own with a
// status of 0 or 1, and never creates anything outside the destination.
TEST(Hostile, RandomDamageNeverCrashesOrEscapes) {
    ArchiveWriter writer;
    writer.file("a.txt", "hello")
        .dir("sub", 2)
        .file("b#c", "12345")
        .dir("deep", 1)
        .file("z", std::string(300, 'z'))
        .file("top", "t");
    const std::string valid = writer.bytes();
    std::mt19937 random(20261208);
    TempDir dir;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = valid;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0: bytes[at] = static_cast<char>(random()); break;
            case 1: bytes[at] = static_cast<char>(0xff); break;
            case 2: bytes.resize(at); break;
            default: bytes[at] = static_cast<char>(bytes[at] ^ 0x80); break;
            }
            if (bytes.empty())
                break;
        }
        const Result run = extract(dir, bytes);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << "round " << round << ": " << run.status;
        const bool done =
            run.out.size() >= 6 && run.out.compare(run.out.size() - 6, 6, "\nDone\n") == 0;
        ASSERT_TRUE(done || run.out.find("ERROR! ") != std::string::npos) << run.out;
        for (const std::string& path : paths_below(dir.path()))
            ASSERT_TRUE(path == "/h.dat" || path.rfind("/out", 0) == 0) << path;
        ASSERT_EQ(std::system(("rm -rf '" + (dir / "out") + "'").c_str()), 0);
    }
}

} // namespace
