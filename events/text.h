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

// A name as it is printed: what a terminal would obey or use to show another name, as
// escapes, each byte of it: the control bytes 0x01-0x1F and 0x7F, the C1 controls
// (UTF-8 C2 80 to C2 9F), every byte that is no part of a well-formed UTF-8 character
// (a lone 0x9B is CSI to some terminals), and the bidirectional controls (U+061C,
// U+200E, U+200F, U+202A-U+202E, U+2066-U+2069); "\t", "\n", "\r" by name, any other
// as a backslash and three octal digits ("\033", "\233", "\302\233", "\342\200\256").
// Everything else, UTF-8 and backslashes included, stays as it is. (Windows reads a
// name that is not UTF-8 in its ANSI code page when it reads the archive's table, so
// such a name reaches this already as the characters it stands for there.)
std::string printable(std::string_view name);

// The event in the program's words; "" where the program prints nothing.
std::string event_text(const quodrel_event& event);

} // namespace quodrel
