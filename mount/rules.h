// The mount's own rules, apart from FUSE: how its options are read, and when the
// archive it serves counts as changed.
#pragma once

#include <string>
#include <sys/stat.h>
#include <vector>

namespace quodrel::mount {

// The mount options given (each the text after one -o), each option as libfuse reads
// it: lists split at commas, a backslash taking the character after it as it is
// ("r\w" is "rw", "a\,b" one option).
std::vector<std::string> option_words(const std::vector<std::string>& lists);

// What the options ask of the mount itself.
struct AskedOptions {
    bool writing = false;  // an option promises writing ("rw"), which it cannot keep
    unsigned max_read = 0; // the largest read asked for (max_read=), 0 for none
};
AskedOptions read_options(const std::vector<std::string>& lists);

// Whether an open file holds what it held: the same size and modification time, and
// the same change time unless its links changed (a new file renamed over it, or its
// deletion, which leave its bytes as they were). A write moves both times; putting
// the modification time back (cp -p, touch -r) moves the change time again.
bool same_contents(const struct stat& before, const struct stat& now);

} // namespace quodrel::mount
