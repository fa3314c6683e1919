#pragma once

#include "report/reporter.h"

#include <string>
#include <vector>

namespace quodrel {

// Recreates below dest_dir the tree the archive describes, printing progress and
// errors through `out`, with file contents moved on `threads` threads (the calling
// one included). With `chosen`, only the entries those paths name (and the folders
// above them) are written, without progress, and the totals of what was written end
// the output. Returns false when an "ERROR! " line was printed.
bool extract_archive(const std::string& archive_path, const std::string& dest_dir, unsigned threads,
                     Reporter& out, const std::vector<std::string>* chosen = nullptr);

} // namespace quodrel
