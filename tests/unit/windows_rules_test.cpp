// How Windows spells long paths and splits command lines, checked on any host.
#include "platform/windows_paths.h"

#include <gtest/gtest.h>

namespace quodrel::platform {
namespace {

TEST(Utf8, WellFormedOnly) {
    for (const std::string text :
         {"", "plain", "\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x93\x81", "\xef\xbf\xbf"})
        EXPECT_TRUE(is_valid_utf8(text)) << text;
    for (const std::string text : {"\xe9.txt", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                                   "\xf4\x90\x80\x80", "\xff", "a\x80"})
        EXPECT_FALSE(is_valid_utf8(text)) << text;
}

TEST(LongPath, EveryFormBecomesOneAbsoluteExtendedPath) {
    const std::string cwd = "C:\\work\\dir";
    const std::pair<const char*, const char*> cases[] = {
        {"a.dat", "\\\\?\\C:\\work\\dir\\a.dat"},
        {"out/sub\\x", "\\\\?\\C:\\work\\dir\\out\\sub\\x"},
        {"./a//b/./c", "\\\\?\\C:\\work\\dir\\a\\b\\c"},
        {"..\\..\\..\\x", "\\\\?\\C:\\x"}, // never above the root
        {".", "\\\\?\\C:\\work\\dir"},
        {"D:\\games\\maps.dat", "\\\\?\\D:\\games\\maps.dat"},
        {"d:/games/", "\\\\?\\d:\\games"},
        {"\\top", "\\\\?\\C:\\top"},
        {"C:rel", "\\\\?\\C:\\work\\dir\\rel"},
        {"E:rel", "\\\\?\\E:\\rel"},
        {"\\\\server\\share\\dir\\..\\f", "\\\\?\\UNC\\server\\share\\f"},
        {"//server/share/../../f", "\\\\?\\UNC\\server\\share\\f"},
        {"\\\\?\\C:\\already", "\\\\?\\C:\\already"},
        {"name. ", "\\\\?\\C:\\work\\dir\\name. "}, // taken literally
        {"", ""},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(long_path(path, cwd), expected) << path;
    EXPECT_EQ(long_path("f", "\\\\server\\share\\d"), "\\\\?\\UNC\\server\\share\\d\\f");
    EXPECT_EQ(long_path("\\f", "\\\\server\\share\\d"), "\\\\?\\UNC\\server\\share\\f");
}

TEST(CommandLine, TheRulesOfTheCRuntime) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(split_command_line("quodrel.exe"), Args{});
    EXPECT_EQ(split_command_line("\"C:\\Program Files\\q.exe\" -e a.dat  out\t-s"),
              (Args{"-e", "a.dat", "out", "-s"}));
    EXPECT_EQ(split_command_line("q \"C:\\my maps.dat\""), (Args{"C:\\my maps.dat"}));
    EXPECT_EQ(split_command_line("q C:\\dir\\ \"a\\\"b\" \\\\\\\\\"x y\""),
              (Args{"C:\\dir\\", "a\"b", "\\\\x y"}));
    EXPECT_EQ(split_command_line("q \"\" \"say \"\"hi\"\"\" ab\"c d\"e"),
              (Args{"", "say \"hi\"", "abc de"}));
    EXPECT_EQ(split_command_line("q \xe6\xa1\x8c\xe9\x9d\xa2\\maps.dat"),
              (Args{"\xe6\xa1\x8c\xe9\x9d\xa2\\maps.dat"}));
}

} // namespace
} // namespace quodrel::platform
