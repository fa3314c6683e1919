// How a Windows program splits its command line into arguments, as a pure function
// that any host can test.
#pragma once

#include <string>
#include <vector>

namespace quodrel::rules {

// Splits a command line into arguments by the rules of the C runtime: blanks and
// tabs separate, double quotes group, 2n backslashes before a quote give n and the
// quote groups, 2n+1 give n and a literal quote, other backslashes are literal, and
// "" inside quotes is a literal quote. The program's name (the first word, quoted
// or not, without escapes) is left out.
std::vector<std::string> split_command_line(const std::string& line);

} // namespace quodrel::rules
