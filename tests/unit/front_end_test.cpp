// The front end's small rules and the program's words: which paths are archives, where
// a dropped folder's archive goes, when a dot is due, how names print, and what each
// event says.
#include "app/run_command.h"
#include "events/text.h"
#include "report/printer.h"

#include <gtest/gtest.h>

namespace quodrel {
namespace {

int dots(std::int32_t total) {
    int n = 0;
    for (std::int32_t i = 0; i < total; ++i)
        n += progress_dot_due(total, i);
    return n;
}

TEST(Progress, DotsForEveryTableSize) {
    EXPECT_EQ(dots(0), 0);
    EXPECT_EQ(dots(10), 10);
    EXPECT_EQ(dots(49), 49);
    EXPECT_EQ(dots(50), 50);
    EXPECT_EQ(dots(99), 99);
    EXPECT_EQ(dots(100), 50);
    EXPECT_EQ(dots(120), 60);
    EXPECT_EQ(dots(149), 75); // step 2
    EXPECT_TRUE(progress_dot_due(120, 0));
    EXPECT_FALSE(progress_dot_due(120, 1));
}

// Every byte a terminal would obey, or could use to show another name, is escaped, and
// nothing else: the C0 controls (three by name), DEL, the C1 controls as UTF-8 encodes
// them, every byte that is no part of a well-formed UTF-8 character, and the
// bidirectional controls.
TEST(Printing, ControlBytesAreEscapedEverythingElseStays) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain name.txt", "plain name.txt"},
        {"tab\there", "tab\\there"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"\x01\x1f", "\\001\\037"},
        {"esc\x1b[31m", "esc\\033[31m"},
        {"del\x7f", "del\\177"},
        {"c1 \xc2\x80 \xc2\x9b \xc2\x9f", "c1 \\302\\200 \\302\\233 \\302\\237"},
        {"nbsp \xc2\xa0 \xc2\x7f", "nbsp \xc2\xa0 \\302\\177"},
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x93\x81", "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x93\x81"},
        {"back\\slash/and/slash", "back\\slash/and/slash"},
        // No part of UTF-8: a lone CSI, Latin-1, a start cut short, overlong forms, a
        // surrogate, past U+10FFFF, bytes UTF-8 never holds.
        {"csi\x9b"
         "31m",
         "csi\\23331m"},
        {"caf\xe9", "caf\\351"},
        {"lone \xc2", "lone \\302"},
        {"cut \xe6\x97x \xf0\x9f\x93", "cut \\346\\227x \\360\\237\\223"},
        {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\300\\257 \\340\\200\\257"},
        {"surrogate \xed\xa0\x80", "surrogate \\355\\240\\200"},
        {"past \xf4\x90\x80\x80", "past \\364\\220\\200\\200"},
        {"\xfe\xff\x80", "\\376\\377\\200"},
        // The bidirectional controls, and their neighbours, which stay.
        {"evil\xe2\x80\xae"
         "txt.exe",
         "evil\\342\\200\\256txt.exe"},
        {"\xe2\x80\x8e \xe2\x80\x8f \xe2\x80\xaa \xe2\x80\xab \xe2\x80\xac \xe2\x80\xad",
         "\\342\\200\\216 \\342\\200\\217 \\342\\200\\252 \\342\\200\\253 \\342\\200\\254 "
         "\\342\\200\\255"},
        {"\xe2\x81\xa6 \xe2\x81\xa7 \xe2\x81\xa8 \xe2\x81\xa9 \xd8\x9c",
         "\\342\\201\\246 \\342\\201\\247 \\342\\201\\250 \\342\\201\\251 \\330\\234"},
        {"\xe2\x80\x8d \xe2\x80\xa9 \xe2\x80\xaf \xe2\x81\xa5 \xe2\x81\xaa \xd8\x9b",
         "\xe2\x80\x8d \xe2\x80\xa9 \xe2\x80\xaf \xe2\x81\xa5 \xe2\x81\xaa \xd8\x9b"},
    };
    for (const auto& [name, printed] : rows)
        EXPECT_EQ(printable(name), printed) << printed;
    for (int byte = 0x20; byte < 0x7f; ++byte)
        EXPECT_EQ(printable(std::string(1, static_cast<char>(byte))).size(), 1u) << byte;
}

quodrel_event event_of(quodrel_event_kind kind, quodrel_operation operation, const char* path) {
    quodrel_event event = {};
    event.size = sizeof event;
    event.kind = kind;
    event.operation = operation;
    event.index = QUODREL_NO_INDEX;
    event.path = path;
    return event;
}

// The words of the program, event by event: every path escaped, the user's as much as
// a name from an archive or a tree, an entry's below the folder the user gave.
TEST(Printing, EveryEventInTheProgramsWords) {
    quodrel_event begin = event_of(QUODREL_EVENT_BEGIN, QUODREL_OPERATION_EXTRACT, "a\n.dat");
    begin.entries_total = -3;
    begin.data_offset = 16;
    EXPECT_EQ(event_text(begin), "Extracting a\\n.dat\n-3 files, data offset 16\n");
    begin.operation = QUODREL_OPERATION_CREATE;
    begin.entries_total = 7;
    EXPECT_EQ(event_text(begin), "Creating a\\n.dat (7 files)\n");
    begin.operation = QUODREL_OPERATION_EXTRACT_CHOSEN;
    EXPECT_EQ(event_text(begin), "");

    quodrel_event refused = event_of(QUODREL_EVENT_REFUSED, QUODREL_OPERATION_EXTRACT, "d/\x1b");
    refused.index = 4;
    refused.refusal = QUODREL_REFUSED_UNSAFE_NAME;
    refused.folder = "out\n";
    EXPECT_EQ(event_text(refused), "ERROR! Unsafe name out\\n/d/\\033\n");
    refused.folder = nullptr;
    EXPECT_EQ(event_text(refused), "ERROR! Unsafe name d/\\033\n");
    refused.refusal = QUODREL_REFUSED_INSIDE;
    EXPECT_EQ(event_text(refused), "");

    quodrel_event failed = event_of(QUODREL_EVENT_FAILED, QUODREL_OPERATION_CREATE, "x\ty.dat");
    const std::pair<quodrel_error, std::string> failures[] = {
        {QUODREL_ERROR_OPEN, "ERROR! Cannot open x\\ty.dat\n"},
        {QUODREL_ERROR_CREATE, "ERROR! Cannot create x\\ty.dat\n"},
        {QUODREL_ERROR_DESTINATION, "ERROR! Cannot create x\\ty.dat\n"},
        {QUODREL_ERROR_WRITE, "ERROR! Cannot write x\\ty.dat\n"},
        {QUODREL_ERROR_LIMIT, "ERROR! Archive too large x\\ty.dat\n"},
        {QUODREL_ERROR_TABLE_CUT_SHORT, "ERROR! Entry table cut short in x\\ty.dat\n"},
        {QUODREL_ERROR_NOT_AN_ARCHIVE, "ERROR! Not an archive x\\ty.dat\n"},
        {QUODREL_ERROR_NO_MEMORY, "ERROR! No memory for the entry table of x\\ty.dat\n"},
        {QUODREL_ERROR_NOT_FOUND, "ERROR! Not in the archive x\\ty.dat\n"},
        {QUODREL_ERROR_LOCKED, "ERROR! Cannot create x\\ty.dat\n"},
        {QUODREL_ERROR_REPLACED, "ERROR! Archive replaced meanwhile, this one kept as x\\ty.dat\n"},
    };
    for (const auto& [error, text] : failures) {
        failed.error = error;
        EXPECT_EQ(event_text(failed), text) << quodrel_error_text(error);
    }
    // Another run's lock turns an update away in the update's words.
    failed.operation = QUODREL_OPERATION_UPDATE;
    failed.error = QUODREL_ERROR_LOCKED;
    EXPECT_EQ(event_text(failed), "ERROR! Not updated x\\ty.dat\n");
    failed.operation = QUODREL_OPERATION_CREATE;
    // The commit is told, and printed as nothing.
    EXPECT_EQ(event_text(event_of(QUODREL_EVENT_COMMIT, QUODREL_OPERATION_UPDATE, "a.dat")), "");
    failed.path = "";
    failed.error = QUODREL_ERROR_NO_MEMORY;
    EXPECT_EQ(event_text(failed), "ERROR! Out of memory\n");
    failed.index = 2;
    failed.bytes = 4096;
    EXPECT_EQ(event_text(failed), "ERROR! Memory allocation failed! (4096 bytes)\n");

    quodrel_event listed = event_of(QUODREL_EVENT_ENTRY, QUODREL_OPERATION_LIST, "sub");
    EXPECT_EQ(event_text(listed), "         0 sub/\n");
    listed.bytes = 1234567;
    EXPECT_EQ(event_text(listed), "   1234567 sub\n");
    listed.operation = QUODREL_OPERATION_EXTRACT;
    EXPECT_EQ(event_text(listed), "");

    quodrel_event end = event_of(QUODREL_EVENT_END, QUODREL_OPERATION_EXTRACT, "");
    EXPECT_EQ(event_text(end), "\nDone\n");
    end.operation = QUODREL_OPERATION_CHECK;
    end.files = 2;
    end.folders = 1;
    end.bytes_done = 8;
    EXPECT_EQ(event_text(end), "2 files, 1 directories, 8 bytes\n");
}

// The exit status follows from what the events are, never from the words printed: a
// failure or a named refusal is an error however it is worded; the program's own text is
// none, whatever it says.
TEST(Printing, AnErrorIsKnownByItsEventNotItsWords) {
    static std::string printed;
    Printer out([](std::string_view text) {
        printed += text;
        return true;
    });
    out.print(std::string_view("ERROR! words of the program's own\n"));
    EXPECT_FALSE(out.failed());
    quodrel_event refused = event_of(QUODREL_EVENT_REFUSED, QUODREL_OPERATION_EXTRACT, "x");
    refused.refusal = QUODREL_REFUSED_INSIDE; // told by its folder's line
    out.print(refused);
    EXPECT_FALSE(out.failed());
    out.print(event_of(QUODREL_EVENT_COMMIT, QUODREL_OPERATION_UPDATE, "a.dat"));
    EXPECT_FALSE(out.failed());
    out.print(event_of(QUODREL_EVENT_FAILED, QUODREL_OPERATION_CREATE, "a.dat"));
    EXPECT_TRUE(out.failed());
    Printer other([](std::string_view) { return true; });
    refused.refusal = QUODREL_REFUSED_NAME_CLASH;
    other.print(refused);
    EXPECT_TRUE(other.failed());
}

TEST(Printing, ADotBeforeEachEntryTheRuleNamesAndNoneAfterTheLast) {
    quodrel_event progress = event_of(QUODREL_EVENT_PROGRESS, QUODREL_OPERATION_CREATE, "");
    progress.entries_total = 120;
    std::string dots;
    for (progress.entries_done = 0; progress.entries_done <= 120; ++progress.entries_done)
        dots += event_text(progress);
    EXPECT_EQ(dots, std::string(60, '.'));
    progress.operation = QUODREL_OPERATION_EXTRACT_CHOSEN;
    progress.entries_done = 0;
    EXPECT_EQ(event_text(progress), "");
}

TEST(ArchiveSuffix, AnyLetterCaseAtLeastFourCharacters) {
    for (const std::string path : {"a.dat", "a.DAT", "x/maps.DaT", ".dat"})
        EXPECT_TRUE(has_archive_suffix(path)) << path;
    for (const std::string path : {"dat", "a.dat ", "a.da", "a.txt", "adat", ""})
        EXPECT_FALSE(has_archive_suffix(path)) << path;
}

TEST(ArchiveBeside, TrailingSeparatorsGoButARootKeepsOne) {
    const std::pair<const char*, const char*> both[] = {
        {"maps", "maps.dat"}, {"maps/", "maps.dat"}, {"a/maps//", "a/maps.dat"},
        {"/", "/.dat"},       {"///", "/.dat"},      {"", ".dat"}};
    for (const auto& [folder, archive] : both) {
        EXPECT_EQ(archive_path_beside(folder, false), archive) << folder;
        EXPECT_EQ(archive_path_beside(folder, true), archive) << folder;
    }
    // Backslashes separate only under the Windows rules, where a drive's root stays one.
    EXPECT_EQ(archive_path_beside("maps\\", false), "maps\\.dat");
    EXPECT_EQ(archive_path_beside("maps\\/\\", true), "maps.dat");
    EXPECT_EQ(archive_path_beside("C:\\", true), "C:\\.dat");
    EXPECT_EQ(archive_path_beside("C:\\games\\", true), "C:\\games.dat");
    EXPECT_EQ(archive_path_beside("\\", true), "\\.dat");
    // A last part of dots names the folder only once resolved.
    for (const char* dots : {".", "..", "maps/.", "maps/../", "./."})
        EXPECT_TRUE(ends_in_dots_part(dots, false)) << dots;
    for (const char* named : {"maps", "...", ".maps", "maps.", "/", "", "maps\\."})
        EXPECT_FALSE(ends_in_dots_part(named, false)) << named;
    // Under the Windows rules also a drive's current folder and its parent, typed as
    // "C:", "C:." and "C:..", but not the drive's root nor a name in its current folder.
    for (const char* dots : {"maps\\.", "C:\\maps\\..\\", "C:", "c:.", "C:..", "C:..\\", "z:./"})
        EXPECT_TRUE(ends_in_dots_part(dots, true)) << dots;
    for (const char* named : {"C:\\", "C:/", "C:maps", "C:...", "1:", ":", "C", "C:\\maps"})
        EXPECT_FALSE(ends_in_dots_part(named, true)) << named;
    EXPECT_FALSE(ends_in_dots_part("C:", false));
    EXPECT_FALSE(ends_in_dots_part("C:..", false));
}

} // namespace
} // namespace quodrel
