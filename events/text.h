// The program's words for what an operation tells: the one table of its messages, the
// progress rule and how names are printed. quodrel_event_text is built on it.
#pragma once

#include "quodrel/quodrel.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quodrel {

// Whether a dot is due before entry `index` (from 0) of `total`: always when
// total / 50 is 0, else at every multiple of total / 50.
bool progress_dot_due(std::int64_t total, std::int64_t index);

// A name as it is printed: the control bytes 0x01-0x1F and 0x7F, and the C1 controls
// (UTF-8 C2 80 to C2 9F), which a terminal would obey, as escapes: "\t", "\n", "\r"
// by name, any other as a backslash and three octal digits ("\033", "\302\233").
// Everything else, UTF-8 and backslashes included, stays as it is.
std::string printable(std::string_view name);

// The event in the program's words; "" where the program prints nothing.
std::string event_text(const quodrel_event& event);

} // namespace quodrel
