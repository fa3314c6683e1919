// The routes that read or write archives, each on the library's interface: what the
// user reads is each event in the library's words, printed by report/.
#pragma once

#include "quodrel/quodrel.h"

#include <string>
#include <string_view>
#include <vector>

namespace quodrel {

// Each returns the exit status. `threads` threads move file contents; `outputs` are
// told of half-written files (the signal guard). An archive named "-" is standard
// input, for -c standard output: never a terminal, and read to its end.
int extract_route(const std::string& archive, const std::string& folder,
                  const std::vector<std::string>* chosen, unsigned threads,
                  const quodrel_output_hooks* outputs);
int create_route(const std::string& folder, const std::string& archive, unsigned threads,
                 const quodrel_output_hooks* outputs);
int update_route(const std::string& archive, const std::string& folder, unsigned threads,
                 const quodrel_output_hooks* outputs);
// -l: one line per entry, then the totals.
int list_route(const std::string& archive);
// -t: one "ERROR! " line per problem extraction would meet, then the totals.
int test_route(const std::string& archive);
// -d: one line per difference between the archive and the folder, then a summary;
// exit status 0 when they are the same, 1 when they differ, 2 for trouble (an
// "ERROR! " line), as diff has them.
int compare_route(const std::string& archive, const std::string& folder, unsigned threads);
// -p: the bytes of one file on standard output; errors on standard error.
int print_route(const std::string& archive, const std::string& path);

// Writes a piece of the program's text to standard output, shown as it comes (a dot
// at once); false when it could not be written.
bool write_out(std::string_view text);

// Writes a text of the program's own outside any operation: output that can no
// longer be written (a closed pipe, a full disk) ends the run at once, as an
// interrupt would. say_error writes it to standard error.
void say(std::string_view text);
void say_error(std::string_view text);

// The name by which an archive is standard input (standard output for -c).
constexpr const char* kStandardStream = "-";

} // namespace quodrel
