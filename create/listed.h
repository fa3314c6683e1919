// Creation from a tree the caller lists instead of one on disk, written through the
// caller's sequential writer.
#pragma once

#include "events/events.h"
#include "quodrel/quodrel.h"

#include <cstddef>
#include <string>

namespace quodrel {

// Packs the listed entries as quodrel_create_listed says: the table by the rules of
// every creation, then each file's bytes read through `read_at` on this thread.
quodrel_error create_listed(const quodrel_listed_entry* entries, std::size_t count,
                            quodrel_read_at read_at, quodrel_write write, void* write_context,
                            const std::string& name, Events& events);

} // namespace quodrel
