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

TEST(WindowsPaths, WhatWindowsResolvedBecomesOneExtendedPath) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\work\\dir\\a.dat", "\\\\?\\C:\\work\\dir\\a.dat"},
        {"d:\\games", "\\\\?\\d:\\games"},
        {"C:\\", "\\\\?\\C:\\"},
        {"\\\\server\\share\\dir", "\\\\?\\UNC\\server\\share\\dir"},
        // Already literal: names joined with "/" get the real separator.
        {"\\\\?\\X:\\work\\src/sub/a.txt", "\\\\?\\X:\\work\\src\\sub\\a.txt"},
        // A drive reached through the device form: the same drive, named literally.
        {"\\\\.\\X:\\work\\src/sub", "\\\\?\\X:\\work\\src\\sub"},
        {"\\\\.\\C:\\", "\\\\?\\C:\\"},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"}, // a device stays one
        {"//?/X:/w", "\\\\?\\X:\\w"},
        // A folder's closing separators go, and names joined to a root are one apart.
        {"C:\\work\\maps\\", "\\\\?\\C:\\work\\maps"},
        {"\\\\?\\C:\\//a.txt", "\\\\?\\C:\\a.txt"},
        {"\\\\?\\C:\\", "\\\\?\\C:\\"},
        {"name. ", "name. "}, // not absolute: not for this function
        {"", ""},
    };
    for (const auto& [full, expected] : cases)
        EXPECT_EQ(extended_form(full), expected) << full;
    for (const char* literal : {"\\\\?\\C:\\x", "\\\\.\\C:\\x", "//?/C:/x"})
        EXPECT_TRUE(is_literal_form(literal)) << literal;
    for (const char* other : {"C:\\x", "\\\\server\\share", "\\\\?x", "\\?\\"})
        EXPECT_FALSE(is_literal_form(other)) << other;
    EXPECT_TRUE(is_extended_form("\\\\?\\C:\\x"));
    EXPECT_FALSE(is_extended_form("\\\\.\\C:\\x")); // names below it are normalised
    // A typed last part as Windows reads it.
    const struct {
        const char *typed, *read;
    } typed[] = {
        {"ref.dat.", "ref.dat"},
        {"ref.dat ", "ref.dat"},
        {"C:\\maps\\src. .", "C:\\maps\\src"},
        {"dir.\\x", "dir.\\x"},
        {"..", ".."},
        {"a/. .", "a/. ."},
        {"\\\\?\\C:\\x.", "\\\\?\\C:\\x."},
        {"plain", "plain"},
        // A drive's current folder and its parent; a name in it, read as any.
        {"C:", "C:"},
        {"C:.", "C:."},
        {"C:..", "C:.."},
        {"c:. .", "c:. ."},
        {"C:src. ", "C:src"},
        {"C:..\\src.", "C:..\\src"},
    };
    for (const auto& row : typed)
        EXPECT_EQ(as_windows_reads(row.typed), row.read) << row.typed;
}

// Wine reports no reparse point for a link to a file, so only real Windows shows this
// decision at work; here it is checked on its own.
TEST(WindowsPaths, ANameFollowsAFolderThatEndsInASeparatorWithoutAnother) {
    const struct {
        const char* folder;
        bool windows, ends;
    } rows[] = {
        {"out/", false, true}, {"out", false, false}, {"out\\", false, false},
        {"Z:", false, false},  {"", false, false},    {"out/", true, true},
        {"out\\", true, true}, {"Z:", true, true},    {"Z:out", true, false},
        {"out", true, false},  {"", true, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ends_in_separator(row.folder, row.windows), row.ends)
            << row.folder << (row.windows ? " (Windows)" : "");
}

TEST(WindowsPaths, ALinkOrJunctionIsNeverWrittenThrough) {
    constexpr std::uint32_t kReadOnly = 0x1, kDirectory = 0x10, kArchive = 0x20, kDevice = 0x40,
                            kNormal = 0x80, kReparse = 0x400;
    EXPECT_EQ(existing_from_attributes(kDirectory), Existing::folder);
    EXPECT_EQ(existing_from_attributes(kDirectory | kReadOnly), Existing::folder);
    EXPECT_EQ(existing_from_attributes(kArchive), Existing::file);
    EXPECT_EQ(existing_from_attributes(kNormal), Existing::file);
    EXPECT_EQ(existing_from_attributes(kDirectory | kReparse), Existing::refused); // a junction
    EXPECT_EQ(existing_from_attributes(kArchive | kReparse), Existing::refused);   // a file link
    EXPECT_EQ(existing_from_attributes(kDevice), Existing::refused);
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
