// The routes that read or write archives, each on the library's interface: the
// texts the user reads come from report/, the work from the library.
#pragma once

#include <string>
#include <vector>

namespace quodrel {

// Each returns the exit status. `threads` 0 means one per core.
int extract_route(const std::string& archive, const std::string& folder,
                  const std::vector<std::string>* chosen, unsigned threads);
int create_route(const std::string& folder, const std::string& archive, unsigned threads);
// -l: one line per entry, then the totals.
int list_route(const std::string& archive);
// -t: one "ERROR! " line per problem extraction would meet, then the totals.
int test_route(const std::string& archive);
// Checks an archive as -t does, printing its "ERROR! " lines (and, with `totals`, the
// line of totals): whether it can be read at all, and whether extraction would
// refuse any entry.
enum class Verdict { sound, refusals, unreadable };
Verdict check_archive(const std::string& path, bool totals);

// -p: the bytes of one file on standard output; errors on standard error.
int print_route(const std::string& archive, const std::string& path);

// Where the program's texts go: standard output, shown as they come. Output that can
// no longer be written (a closed pipe, a full disk) ends the run as an interrupt would.
void write_out(std::string_view text);

} // namespace quodrel
