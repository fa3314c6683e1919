// The rare path of a creation: files that could not be opened when their turn came
// are left out, so every later offset shifts, and the archive is written again.
#pragma once

#include "archive/table.h"
#include "events/events.h"
#include "transfer/mover.h"
#include "transfer/outcomes.h"
#include "writer/replace.h"

#include <cstdint>

namespace quodrel {

// Writes the archive again into a second temporary file without the entries the
// writer left out (`outcomes`), copying the data of the rest from the replacement's
// file (whose data starts at `data_offset`), and puts the new file in its place.
// QUODREL_OK, or the failure, told.
quodrel_error write_again_without_left_out(const EntryTable& table,
                                           const transfer::Outcomes& outcomes,
                                           std::int32_t data_offset, Replacement& replacement,
                                           const transfer::Crew& crew, Events& events);

} // namespace quodrel
