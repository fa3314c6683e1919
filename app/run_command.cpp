#include "app/run_command.h"

#include "app/archive_routes.h"
#include "console/paths.h"
#include "console/signals.h"
#include "console/terminal.h"
#include "rules/command_line.h"
#include "rules/console_keys.h"
#include "rules/windows_paths.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace quodrel {
namespace {

// The program's version comes from the build (CMake's QUODREL_VERSION, its one source).
constexpr const char* kBanner =
    "Quodrel v" QUODREL_PROGRAM_VERSION " by Ilmaro <ilmaro@quodrel.org>\n\n";
constexpr const char* kVersion = "Quodrel " QUODREL_PROGRAM_VERSION "\n";
constexpr const char* kPressAnyKey = "\nPress any key to quit\n";

// The usage text, but for its closing prompt.
constexpr const char* kCommandLineUsage =
    "Command line usage:\n\n"
    "  To extract DAT archives:\n  quodrel -e file.dat directory\n\n"
    "  To create DAT archives:\n  quodrel -c directory file.dat\n\n";
constexpr const char* kExplorerUsage =
    "\nWindows Explorer usage:\n\n"
    "  To extract DAT archives:\n  Drag a DAT file over the quodrel.exe icon\n\n"
    "  To create DAT archives:\n  Drag a directory over the quodrel.exe icon\n\n";

// Desktop routes end with a key wait, whatever the operation's outcome.
int wait_after(int status) {
    say(kPressAnyKey);
    wait_for_key();
    return status;
}

} // namespace

bool has_archive_suffix(const std::string& path) {
    if (path.size() < 4)
        return false;
    static const char kSuffix[] = ".dat";
    for (std::size_t i = 0; i < 4; ++i) {
        char c = path[path.size() - 4 + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kSuffix[i])
            return false;
    }
    return true;
}

std::string archive_path_beside(const std::string& folder, bool windows_rules) {
    const char* separators = windows_rules ? "/\\" : "/";
    std::string path = folder;
    std::size_t keep = path.find_last_not_of(separators) + 1; // 0 when all separators
    if (windows_rules && keep == 2 && path[1] == ':')
        keep = 3; // a drive's root, "C:\" and not "C:"
    if (keep == 0)
        keep = 1; // the root: "/"
    if (keep < path.size())
        path.resize(keep);
    return path + ".dat";
}

bool ends_in_dots_part(const std::string& folder, bool windows_rules) {
    const char* separators = windows_rules ? "/\\" : "/";
    const std::size_t end = folder.find_last_not_of(separators);
    if (end == std::string::npos)
        return false; // a root, or nothing
    const std::size_t cut = folder.find_last_of(separators, end);
    std::size_t start = cut == std::string::npos ? 0 : cut + 1;
    // "X:", "X:." and "X:.." name drive X's current folder or its parent ("X:\" is a
    // root, named as it is).
    const char drive = static_cast<char>(folder[0] | 0x20); // lower case, for a letter
    const bool root = end == 1 && folder.size() > 2;
    const bool drive_relative = windows_rules && cut == std::string::npos && end >= 1 &&
                                folder[1] == ':' && drive >= 'a' && drive <= 'z' && !root;
    if (drive_relative)
        start = 2;
    const std::string last = folder.substr(start, end + 1 - start);
    return (drive_relative && last.empty()) || last == "." || last == "..";
}

int wait_for_key() {
    std::fflush(stdout);
    return console::read_console_key(rules::key_ends_wait);
}

std::vector<std::string> arguments(int argc, char** argv) {
    std::string line;
    if (console::whole_command_line(line))
        return rules::split_command_line(line);
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

unsigned requested_threads() {
    if (const char* setting = std::getenv("QUODREL_THREADS")) {
        const long n = std::strtol(setting, nullptr, 10);
        if (n >= 1)
            return n < 1024 ? static_cast<unsigned>(n) : 1024;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

void print_usage() {
    say(kCommandLineUsage);
    say(kExplorerUsage);
    say(kPressAnyKey);
    wait_for_key();
}

void print_help() {
    say(kCommandLineUsage);
    say("  To list what DAT archives hold:\n  quodrel -l file.dat\n\n"
        "  To check DAT archives without extracting them:\n  quodrel -t file.dat\n\n"
        "  To extract chosen entries (* and ? match within one part of a path):\n"
        "  quodrel -x file.dat directory path...\n\n"
        "  To print one file of a DAT archive on standard output:\n"
        "  quodrel -p file.dat path\n\n"
        "  To tell how a DAT archive differs from a directory:\n"
        "  quodrel -d file.dat directory\n\n"
        "  To update a DAT archive from a directory laid over it:\n"
        "  quodrel -u file.dat directory\n\n"
        "  A fourth argument -s after -e, -c or -u leaves out the banner.\n"
        "  An archive named - is standard input (for -c standard output, and the\n"
        "  program's words go to standard error); -d and -u need an archive file.\n");
    say(kExplorerUsage);
    say("\nExit status:\n\n"
        "  0  all went well\n"
        "  1  an ERROR! line was printed\n"
        "  2  the arguments fit no route (the usage text is shown)\n"
        "  -d: 0 the same, 1 they differ, 2 trouble (an ERROR! line)\n");
    // Where to read more: the manual page, or on Windows the README in the zip.
    say(console::kWindows ? "\nMore: README.md beside quodrel.exe.\n"
                          : "\nMore: man quodrel, and the README.\n");
}

namespace {

int route(const std::vector<std::string>& args, unsigned threads,
          const quodrel_output_hooks* outputs) {
    // Routes for people at a prompt and for scripts: no banner, no key wait.
    // On Windows "/?" asks for help, as of every Windows program.
    if (args.size() == 1 &&
        (args[0] == "--help" || args[0] == "-h" || (console::kWindows && args[0] == "/?"))) {
        print_help();
        return kExitOk;
    }
    if (args.size() == 1 && (args[0] == "--version" || args[0] == "-v")) {
        say(kVersion);
        return kExitOk;
    }
    if (args.size() == 2 && args[0] == "-l")
        return list_route(args[1]);
    if (args.size() == 2 && args[0] == "-t")
        return test_route(args[1]);
    if (args.size() >= 4 && args[0] == "-x") {
        const std::vector<std::string> chosen(args.begin() + 3, args.end());
        return extract_route(args[1], args[2], &chosen, threads, outputs);
    }
    if (args.size() == 3 && args[0] == "-p")
        return print_route(args[1], args[2]);
    // -d and -u need their archive as a file: "-" fits neither.
    if (args.size() == 3 && args[0] == "-d" && args[1] != kStandardStream)
        return compare_route(args[1], args[2], threads);
    // The routes of the first command line: the banner, unless a fourth argument "-s"
    // asks for none; on standard error where standard output is the archive.
    if (args.size() != 1) {
        const bool archive_out = args.size() >= 3 && args[0] == "-c" && args[2] == kStandardStream;
        if (!(args.size() >= 4 && args[3] == "-s"))
            (archive_out ? say_error : say)(kBanner);
        if (args.size() >= 3 && args[0] == "-e")
            return extract_route(args[1], args[2], nullptr, threads, outputs);
        if (args.size() >= 3 && args[0] == "-c")
            return create_route(args[1], args[2], threads, outputs);
        // -u takes its archive, its folder and an optional -s, nothing more.
        if (args.size() >= 3 && args[0] == "-u" && args[1] != kStandardStream &&
            (args.size() == 3 || (args.size() == 4 && args[3] == "-s")))
            return update_route(args[1], args[2], threads, outputs);
        print_usage();
        return kExitUsage;
    }
    // One dropped path, as the system reads it: an archive to unpack beside itself, or
    // a directory to pack.
    say(kBanner);
    const std::string path = console::kWindows ? rules::as_windows_reads(args[0]) : args[0];
    // An option alone ("-l" without its archive) is a mistake, not a folder to pack,
    // unless something of that name is there.
    if (!path.empty() && path[0] == '-' && !console::exists(path)) {
        print_usage();
        return kExitUsage;
    }
    if (console::opens_as_file(path)) {
        // What is made is named after the file's own name, not a short alias of it.
        const std::string named = console::with_long_name(path);
        if (!has_archive_suffix(named)) {
            print_usage();
            return kExitUsage;
        }
        return wait_after(
            extract_route(path, named.substr(0, named.size() - 4), nullptr, threads, outputs));
    }
    // "." or ".." as its last part (or a drive's current folder, "C:") names the folder
    // only once resolved: its archive is named after the folder (its own name, not a
    // short alias of it), beside it, never "..dat" or ".dat" inside it.
    const std::string folder = console::with_long_name(
        ends_in_dots_part(path, console::kWindows) ? console::resolved(path) : path);
    return wait_after(
        create_route(path, archive_path_beside(folder, console::kWindows), threads, outputs));
}

} // namespace

int run_command(const std::vector<std::string>& args) {
    console::prepare_standard_output();
    // An interrupt removes what is being written.
    const unsigned threads = requested_threads();
    const quodrel_output_hooks* outputs = console::guard_outputs_on_signals(threads);
    const int exit_status = route(args, threads, outputs);
    // Whatever the route, output that could not all be written is a failure: -d's
    // trouble, which its 1 ("they differ") must never be taken for.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return args.size() == 3 && args[0] == "-d" ? kExitUsage : kExitError;
    return exit_status;
}

} // namespace quodrel
