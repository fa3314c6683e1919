// Console output shared by both operations: the progress dots.
#pragma once

#include <cstdint>

namespace quodrel {

// Whether a dot is due before entry `index` (from 0) of `total`: always when
// total / 50 is 0, else at every multiple of total / 50.
bool progress_dot_due(std::int32_t total, std::int32_t index);

// Prints the dot when it is due and flushes, so a person watching sees it move.
void report_progress(std::int32_t total, std::int32_t index);

} // namespace quodrel
