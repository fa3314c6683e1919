#pragma once

#include "report/reporter.h"

#include <string>

namespace quodrel {

// Recreates below dest_dir the tree the archive describes, printing progress and
// errors through `out`, with file contents moved on `threads` threads (the calling
// one included). Returns false when an "ERROR! " line was printed.
bool extract_archive(const std::string& archive_path, const std::string& dest_dir, unsigned threads,
                     Reporter& out);

} // namespace quodrel
