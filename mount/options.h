// The mount's command line, read by libfuse's option parser (fuse_opt_parse): -o lists
// split at commas, a backslash taking the character after it as it is ("r\w" is
// "rw", "a\,b" one option), "--" ending the options.
#pragma once

#include <string>
#include <vector>

namespace quodrel::mount {

struct CommandLine {
    enum class Route {
        kMount, // ARCHIVE MOUNTPOINT, with options the mount knows
        kHelp,  // -h or --help
        kUsage, // the arguments fit no form: an option the mount does not know, one that
                // would make it writable (-o rw), one without its value, not two paths
    };
    Route route = Route::kUsage;
    bool foreground = false;
    std::string archive;
    std::string mount_point;
    unsigned max_read = 0; // the largest read asked for (-o max_read=), 0 for none
    // The arguments for fuse_session_new: the program's name, then the mount's own
    // options (read-only, its names), then those given that libfuse takes.
    std::vector<std::string> fuse_arguments;
};

// Reads main's arguments. What libfuse would say of arguments that fit no form is
// left unsaid: the usage text says it.
CommandLine read_command_line(int argc, char** argv);

} // namespace quodrel::mount
