// Extraction as a whole: the destination made and opened, the plan run against the
// disk in table order, file contents moved on the crew's threads, and what became of
// every entry told in table order.
#pragma once

#include "events/events.h"
#include "reading/archive.h"
#include "transfer/mover.h"

#include <string>
#include <vector>

namespace quodrel {

// Recreates below `dest_dir` the tree of an archive read and planned, telling what
// happens through `events` (its first event the beginning). `steps` are its plan's
// (a copy, or the plan itself where the archive is this extraction's alone). With
// `chosen`, only the entries those paths name (and the folders above them) are
// written. Returns
// QUODREL_OK, QUODREL_ERROR_DESTINATION when `dest_dir` cannot be had (nothing
// written), QUODREL_ERROR_INCOMPLETE when something was refused or not written,
// QUODREL_ERROR_CANCELLED.
quodrel_error extract_archive(const OpenArchive& archive, std::vector<Step> steps,
                              const std::string& dest_dir, const std::vector<std::string>* chosen,
                              const transfer::Crew& crew, Events& events);

} // namespace quodrel
