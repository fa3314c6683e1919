// Writes the fuzzers' seed archives into a folder: valid archives of every shape
// and the damaged and hostile cases the end-to-end tests know.
#include "support/archive_writer.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>

using testing_support::ArchiveWriter;
using testing_support::TestRecord;

namespace {

std::string g_dir;
int g_count = 0;

void seed(const std::string& bytes) {
    std::ofstream(g_dir + "/seed-" + std::to_string(++g_count), std::ios::binary) << bytes;
}

TestRecord raw(const std::string& name, std::int64_t offset, std::int64_t size,
               std::int64_t children, std::int64_t name_length = testing_support::kPadded) {
    TestRecord r;
    r.name = name;
    r.offset = offset;
    r.size = size;
    r.child_count = children;
    r.name_length = name_length;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    g_dir = argv[1];
    mkdir(g_dir.c_str(), 0777); // (or there already)
    // Valid archives.
    seed(ArchiveWriter().bytes());
    seed(ArchiveWriter().file("a.txt", "hello").dir("sub", 1).file("b.bin", "bb").bytes());
    seed(ArchiveWriter()
             .dir("a", 2)
             .dir("b", 1)
             .file("c", "x")
             .file("d", "y")
             .file("e", "z")
             .bytes());
    seed(ArchiveWriter().dir("empty", 0).file("level#1.map", "m").dir("x", 0).bytes());
    ArchiveWriter deep;
    for (int i = 0; i < 40; ++i)
        deep.dir("d", i == 39 ? 0 : 1);
    seed(deep.bytes());
    // Damaged tables.
    seed(std::string(16, '\0'));
    seed("CHELALIC");
    seed(ArchiveWriter().file("a", "x").bytes(1000));
    seed(ArchiveWriter().file("a", "x").bytes(-5));
    seed(ArchiveWriter().record(raw("n", 0, 1, 0, 300)).data("x").bytes());
    seed(ArchiveWriter().record(raw("n", 0, 1, 0, -4)).data("x").bytes());
    seed(ArchiveWriter().dir("a", 5).file("b", "x").bytes());
    // Hostile names and data.
    seed(ArchiveWriter().dir("..", 1).file("escaped", "x").file(".", "x").file("", "x").bytes());
    seed(ArchiveWriter()
             .file("a/b", "x")
             .file("a\\b", "x")
             .file("CON", "x")
             .file("x.", "x")
             .bytes());
    seed(ArchiveWriter().file(std::string(255, 'n'), "x").bytes());
    seed(ArchiveWriter().record(raw("big", 0, 1 << 30, 0)).data("x").bytes());
    seed(ArchiveWriter().record(raw("neg", -100, 4, 0)).data("xxxx").bytes());
    seed(ArchiveWriter().record(raw("over", 0x7fffffff, 0x7fffffff, 0)).bytes());
    seed(ArchiveWriter().file("a.dat", "self").bytes());
    return 0;
}
