// The program's fixed texts as its users read them: the one copy the end-to-end
// cases compare against, so a change of wording is made here once.
#pragma once

#include <string>

namespace e2e {

bool under_wine(); // (harness.h)

// (The version is the build's own: CMake's QUODREL_VERSION.)
inline const std::string kBanner =
    "Quodrel v" QUODREL_PROGRAM_VERSION " by Ilmaro <ilmaro@quodrel.org>\n\n";
inline const std::string kVersion = "Quodrel " QUODREL_PROGRAM_VERSION "\n";
inline const std::string kPress = "\nPress any key to quit\n";

inline const std::string kCommandLineUsage =
    "Command line usage:\n\n"
    "  To extract DAT archives:\n  quodrel -e file.dat directory\n\n"
    "  To create DAT archives:\n  quodrel -c directory file.dat\n\n";
inline const std::string kExplorerUsage =
    "\nWindows Explorer usage:\n\n"
    "  To extract DAT archives:\n  Drag a DAT file over the quodrel.exe icon\n\n"
    "  To create DAT archives:\n  Drag a directory over the quodrel.exe icon\n\n";

// The usage text, with its closing prompt.
inline const std::string kUsage = kCommandLineUsage + kExplorerUsage + kPress;

// What --help prints, but for its last line.
inline const std::string kHelpBody =
    kCommandLineUsage +
    "  To list what DAT archives hold:\n  quodrel -l file.dat\n\n"
    "  To check DAT archives without extracting them:\n"
    "  quodrel -t file.dat\n\n"
    "  To extract chosen entries (* and ? match within one part of "
    "a path):\n"
    "  quodrel -x file.dat directory path...\n\n"
    "  To print one file of a DAT archive on standard output:\n"
    "  quodrel -p file.dat path\n\n"
    "  To tell how a DAT archive differs from a directory:\n"
    "  quodrel -d file.dat directory\n\n"
    "  To update a DAT archive from a directory laid over it:\n"
    "  quodrel -u file.dat directory\n\n"
    "  A fourth argument -s after -e, -c or -u leaves out the banner.\n"
    "  An archive named - is standard input (for -c standard output, and the\n"
    "  program's words go to standard error); -d and -u need an archive file.\n" +
    kExplorerUsage +
    "\nExit status:\n\n"
    "  0  all went well\n"
    "  1  an ERROR! line was printed\n"
    "  2  the arguments fit no route (the usage text is shown)\n"
    "  -d: 0 the same, 1 they differ, 2 trouble (an ERROR! line)\n";

// What --help prints: where to read more differs on Windows.
inline std::string help_text() {
    return kHelpBody + (under_wine() ? "\nMore: README.md beside quodrel.exe.\n"
                                     : "\nMore: man quodrel, and the README.\n");
}

} // namespace e2e
