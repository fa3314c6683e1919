// What the caller's quodrel_options ask for, read once: only the fields its `size`
// covers, so that a caller built against an older header keeps working.
#pragma once

#include "events/events.h"
#include "transfer/mover.h"

namespace quodrel {

struct Settings {
    bool valid = true; // false: options whose size is too small to be any version's
    transfer::Crew crew;
    quodrel_on_event on_event = nullptr;
    void* context = nullptr;
};

Settings settings_of(const quodrel_options* options);

} // namespace quodrel
