// The mount's rules apart from FUSE: its options read as libfuse reads them (a read-
// write mount asked for in any spelling is refused), and what counts as an archive
// changed under the mount.
#include "mount/rules.h"

#include <gtest/gtest.h>

namespace quodrel::mount {
namespace {

TEST(MountOptions, ReadAsLibfuseReadsThem) {
    const struct {
        std::vector<std::string> lists;
        bool writing;
        unsigned max_read;
    } rows[] = {
        {{}, false, 0},
        {{"ro"}, false, 0},
        {{"allow_other", "default_permissions"}, false, 0},
        {{"rw"}, true, 0},
        {{"ro,rw"}, true, 0},
        {{"allow_other", "rw,"}, true, 0},
        {{"r\\w"}, true, 0}, // the backslash takes the next character as it is
        {{"\\rw"}, true, 0},
        {{"rw\\,x"}, false, 0}, // one option, "rw,x"
        {{"rwx", "xrw", "r w"}, false, 0},
        {{"max_read=65536"}, false, 65536},
        {{"ro,max_read=4096,allow_other"}, false, 4096},
        {{"max_read=1", "max_read=8192"}, false, 8192}, // the last one counts, as in libfuse
    };
    for (const auto& row : rows) {
        const AskedOptions asked = read_options(row.lists);
        std::string shown;
        for (const std::string& list : row.lists)
            shown += "-o " + list + " ";
        EXPECT_EQ(asked.writing, row.writing) << shown;
        EXPECT_EQ(asked.max_read, row.max_read) << shown;
    }
    EXPECT_EQ(option_words({"a\\,b,c", ""}), (std::vector<std::string>{"a,b", "c", ""}));
}

TEST(MountedArchive, ChangedByItsBytesNotByItsName) {
    struct stat before = {};
    before.st_size = 1000;
    before.st_mtim = {100, 5};
    before.st_ctim = {100, 5};
    before.st_nlink = 1;
    const struct {
        const char* what;
        off_t size;
        struct timespec modified, changed;
        nlink_t links;
        bool same;
    } rows[] = {
        {"untouched", 1000, {100, 5}, {100, 5}, 1, true},
        {"renamed over, or deleted: its links went", 1000, {100, 5}, {200, 0}, 0, true},
        {"another name linked to it", 1000, {100, 5}, {200, 0}, 2, true},
        {"written over, longer", 1001, {200, 0}, {200, 0}, 1, false},
        {"written over, same size", 1000, {200, 0}, {200, 0}, 1, false},
        {"written in the same second", 1000, {100, 6}, {100, 6}, 1, false},
        {"written, time put back (cp -p)", 1000, {100, 5}, {200, 0}, 1, false},
        {"cut short, time put back", 10, {100, 5}, {200, 0}, 1, false},
        {"its rights changed", 1000, {100, 5}, {200, 0}, 1, false},
    };
    for (const auto& row : rows) {
        struct stat now = before;
        now.st_size = row.size;
        now.st_mtim = row.modified;
        now.st_ctim = row.changed;
        now.st_nlink = row.links;
        EXPECT_EQ(same_contents(before, now), row.same) << row.what;
    }
}

} // namespace
} // namespace quodrel::mount
