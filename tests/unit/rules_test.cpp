// The pure rules the Windows side needs, checked on any host: UTF-8, how Windows
// spells long paths and splits command lines, which console keys end a wait.
#include "rules/command_line.h"
#include "rules/console_keys.h"
#include "rules/utf8.h"
#include "rules/windows_paths.h"

#include <gtest/gtest.h>

namespace quodrel::rules {
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

TEST(KeyWait, OnlyThePressOfACharacterCursorOrFunctionKeyEndsIt) {
    EXPECT_TRUE(key_ends_wait(true, 'X', 'x'));
    EXPECT_TRUE(key_ends_wait(true, 0x1b, 0x1b)); // Escape
    EXPECT_TRUE(key_ends_wait(true, 'C', 3));     // Ctrl+C
    for (unsigned key : {0x21u, 0x24u, 0x26u, 0x28u, 0x2du, 0x2eu, 0x70u, 0x87u})
        EXPECT_TRUE(key_ends_wait(true, key, 0)) << key; // PgUp, Home, Up, Down, Ins, Del, F1, F24
    // Shift, Ctrl, Alt, Pause, Caps Lock, Windows keys, menu key, Num Lock, Scroll Lock,
    // left/right modifiers, and codes just outside the ranges above.
    for (unsigned key : {0x10u, 0x11u, 0x12u, 0x13u, 0x14u, 0x5bu, 0x5cu, 0x5du, 0x90u, 0x91u,
                         0xa0u, 0xa5u, 0x20u, 0x29u, 0x6fu, 0x88u})
        EXPECT_FALSE(key_ends_wait(true, key, 0)) << key;
    EXPECT_FALSE(key_ends_wait(false, 'X', 'x')); // a release
    EXPECT_FALSE(key_ends_wait(false, 0x26, 0));
}

} // namespace
} // namespace quodrel::rules
