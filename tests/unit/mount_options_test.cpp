// The mount's command line as libfuse's option parser reads it: the options it knows
// go to libfuse as given, after its own; one it does not know, one that would make it
// writable in any spelling, one without its value, or not two paths fit no form.
#include "mount/options.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quodrel::mount {
namespace {

using Route = CommandLine::Route;

CommandLine read(std::vector<std::string> words) {
    words.insert(words.begin(), "quodrel-mount");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return read_command_line(static_cast<int>(words.size()), argv.data());
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

TEST(MountCommandLine, OptionsItKnowsGoToLibfuseAfterItsOwn) {
    const std::string own = "quodrel-mount -o ro,fsname=quodrel,subtype=quodrel";
    const struct {
        std::vector<std::string> words;
        bool foreground;
        unsigned max_read;
        std::string fuse;
    } rows[] = {
        {{"a.dat", "m"}, false, 0, own},
        {{"-f", "a.dat", "m"}, true, 0, own},
        {{"a.dat", "m", "-f"}, true, 0, own},
        {{"-o", "ro", "a.dat", "m"}, false, 0, own},
        {{"-o", "allow_other", "a.dat", "m"}, false, 0, own + " -o allow_other"},
        {{"-oallow_other,default_permissions", "a.dat", "m", "-o", "nosuid,nodev,noexec"},
         false,
         0,
         own + " -o allow_other,default_permissions,nosuid,nodev,noexec"},
        {{"-o", "max_read=65536", "a.dat", "m"}, false, 65536, own + " -o max_read=65536"},
        // The last one counts, as libfuse reads it too.
        {{"-o", "max_read=1,max_read=8192", "a.dat", "m"},
         false,
         8192,
         own + " -o max_read=1,max_read=8192"},
        {{"-o", "fsname=my\\,archive,auto_unmount", "a.dat", "m"},
         false,
         0,
         own + " -o fsname=my\\,archive,auto_unmount"},
        // atime is the kernel's default, and not every libfuse takes the word: only
        // noatime goes on, when it is the last of the two.
        {{"-o", "atime", "a.dat", "m"}, false, 0, own},
        {{"-o", "noatime", "a.dat", "m"}, false, 0, own + ",noatime"},
        {{"-o", "atime,nosuid,noatime", "a.dat", "m"}, false, 0, own + ",noatime -o nosuid"},
        {{"-o", "noatime", "a.dat", "m", "-o", "atime"}, false, 0, own},
    };
    for (const auto& row : rows) {
        const CommandLine line = read(row.words);
        const std::string shown = joined(row.words);
        ASSERT_EQ(line.route, Route::kMount) << shown;
        EXPECT_EQ(line.foreground, row.foreground) << shown;
        EXPECT_EQ(line.archive, "a.dat") << shown;
        EXPECT_EQ(line.mount_point, "m") << shown;
        EXPECT_EQ(line.max_read, row.max_read) << shown;
        EXPECT_EQ(joined(line.fuse_arguments), row.fuse) << shown;
    }
    const CommandLine after_dashes = read({"--", "-f", "m"}); // paths after "--"
    EXPECT_EQ(after_dashes.route, Route::kMount);
    EXPECT_FALSE(after_dashes.foreground);
    EXPECT_EQ(after_dashes.archive, "-f");
}

TEST(MountCommandLine, WhatFitsNoFormIsTheUsage) {
    const struct {
        std::vector<std::string> words;
        Route route;
    } rows[] = {
        {{"-h"}, Route::kHelp},
        {{"a.dat", "m", "--help"}, Route::kHelp},
        // Writable, in any spelling.
        {{"-o", "rw", "a.dat", "m"}, Route::kUsage},
        {{"-o", "ro,rw", "a.dat", "m"}, Route::kUsage},
        {{"-orw,allow_other", "a.dat", "m"}, Route::kUsage},
        {{"-o", "r\\w", "a.dat", "m"}, Route::kUsage},
        // Options it does not know.
        {{"-o", "foo=bar", "a.dat", "m"}, Route::kUsage},
        {{"-o", "allow_other,foo", "a.dat", "m"}, Route::kUsage},
        {{"-o", "rw\\,x", "a.dat", "m"}, Route::kUsage}, // one option: "rw,x"
        {{"-o", "f", "a.dat", "m"}, Route::kUsage},
        {{"-x", "a.dat", "m"}, Route::kUsage},
        {{"-d", "a.dat", "m"}, Route::kUsage},
        // Values missing or wrong, paths that are not two.
        {{"a.dat", "m", "-o"}, Route::kUsage},
        {{"-o", "max_read=many", "a.dat", "m"}, Route::kUsage},
        {{"a.dat"}, Route::kUsage},
        {{"a.dat", "m", "n"}, Route::kUsage},
        {{}, Route::kUsage},
    };
    for (const auto& row : rows)
        EXPECT_EQ(read(row.words).route, row.route) << joined(row.words);
}

} // namespace
} // namespace quodrel::mount
