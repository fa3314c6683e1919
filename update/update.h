// An archive updated from a folder laid over it: every file of the folder replaces
// the entry extraction writes at its path, or is added where there is none; folders
// merge; the rest stays as the archive holds it. The result is the archive creation
// would make of the merged tree, written beside the archive and put in its place
// only when complete; unchanged files' bytes are copied from the old archive.
#pragma once

#include "events/events.h"
#include "reading/archive.h"
#include "reading/scan.h"
#include "transfer/mover.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quodrel {

// The merged tree: `merged` gets the table in creation's order, the folder's entries'
// kinds and folders, the folder's scan problems, and a name clash for each path where
// one side has a file and the other a folder (the archive's entry is kept);
// `in_archive` gets, per entry, where the bytes of what the archive keeps lie in it
// (Sources::kFromTree for the folder's own). Names the archive and the folder spell
// differently but the system takes for one keep the archive's spelling.
void merge_over(const OpenArchive& archive, const Scan& folder, Scan& merged,
                std::vector<std::uint64_t>& in_archive);

// The descriptors an update needs beside those open already.
constexpr std::size_t kUpdateDescriptors = 6;

// Updates the archive at `archive_path` from the tree below `folder`. An archive that
// is not sound (damage, or any entry extraction refuses) is not updated:
// QUODREL_ERROR_NOT_UPDATED, its problems told. Otherwise as creation returns.
quodrel_error update_archive(const std::string& archive_path, const std::string& folder,
                             const transfer::Crew& crew, Events& events);

} // namespace quodrel
