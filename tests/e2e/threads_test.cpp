// What the user sees never depends on how many threads move the contents, nor on
// their timing: the same output, byte for byte, and the same archive or tree.
#include "e2e/harness.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;
using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

const unsigned kThreadCounts[] = {1, 2, 8, 8};

TEST(Threads, CreationWithErrorsInTheMiddleIsTheSameWhateverTheThreads) {
    TempDir dir;
    for (int d = 0; d < 20; ++d) {
        const std::string folder = dir / ("src/d" + std::to_string(10 + d));
        make_dirs(folder);
        for (int f = 0; f < 30; ++f)
            write_file(
                folder + "/f" + std::to_string(10 + f),
                std::string(static_cast<std::size_t>(f * 977 % 9000 + d), char('a' + f % 26)));
        if (d % 7 == 3) // big enough to go on its own
            write_file(folder + "/big", std::string(300000 + d, 'B'));
    }
    // Errors in the middle: kernel attribute files claim 4096 bytes but hold a few,
    // as files that shrink while they are packed; a name that cannot be stored.
    const std::string attribute = "/sys/devices/system/cpu/online";
    struct stat st;
    if (!under_wine() && stat(attribute.c_str(), &st) == 0 && st.st_size == 4096) {
        for (const std::string at : {"src/d11/f205", "src/d19/zz", "src/d25/f99"})
            ASSERT_EQ(symlink(attribute.c_str(), (dir / at).c_str()), 0);
        write_file(dir / "src/d17/odd:name", "x");
    }
    std::string first_out, first_archive;
    for (const unsigned threads : kThreadCounts) {
        const Result run = quodrel_threads(threads, {"-c", "src", "a.dat", "-s"}, dir.path());
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.out;
        const std::string archive = read_file(dir / "a.dat");
        if (first_out.empty()) {
            first_out = run.out;
            first_archive = archive;
            continue;
        }
        EXPECT_EQ(run.out, first_out) << threads << " threads";
        EXPECT_TRUE(archive == first_archive) << threads << " threads";
    }
    if (!under_wine()) {
        EXPECT_NE(first_out.find("ERROR! File changed while reading src/d19/zz\n"),
                  std::string::npos);
    }
}

TEST(Threads, ExtractionWithErrorsInTheMiddleIsTheSameWhateverTheThreads) {
    ArchiveWriter writer;
    for (int d = 0; d < 12; ++d) {
        writer.dir("d" + std::to_string(d), 43);
        for (int f = 0; f < 40; ++f)
            writer.file("f" + std::to_string(f),
                        std::string(static_cast<std::size_t>(f * 613 % 7000 + 1), char('a' + d)));
        // f7 twice more, the first of them big: both clash with the first f7, always.
        writer.file("f7", std::string(600000, 'F'));
        writer.file("f7", "the second f7 of the folder");
        TestRecord past;
        past.name = "past" + std::to_string(d);
        past.offset = 1 << 30; // data outside the archive
        past.size = 10;
        writer.record(past);
    }
    writer.file("..", "refused").file("big", std::string(400000, 'B')).file("last", "z");
    const std::string bytes = writer.bytes();
    std::string first_out, first_tree;
    for (const unsigned threads : kThreadCounts) {
        TempDir dir;
        write_file(dir / "a.dat", bytes);
        const Result run = quodrel_threads(threads, {"-e", "a.dat", "out", "-s"}, dir.path());
        EXPECT_EQ(run.status, 1);
        const std::string got = tree(dir / "out");
        if (first_out.empty()) {
            first_out = run.out;
            first_tree = got;
            continue;
        }
        EXPECT_EQ(run.out, first_out) << threads << " threads";
        EXPECT_TRUE(got == first_tree) << threads << " threads";
    }
    EXPECT_NE(first_out.find("ERROR! Data cut short for out/d5/past5\n"), std::string::npos);
    // One name written three times: a clash on every system, and the first stays.
    EXPECT_NE(first_out.find("ERROR! Name clash out/d3/f7\nERROR! Name clash out/d3/f7\n"),
              std::string::npos);
    EXPECT_NE(first_tree.find("f /d3/f7 " + std::string(7 * 613 % 7000 + 1, 'd') + "\n"),
              std::string::npos);
}

} // namespace
