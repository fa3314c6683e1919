#pragma once

#include "report/reporter.h"

#include <string>

namespace quodrel {

// Recreates below dest_dir the tree the archive describes, printing progress and
// errors through `out`. Returns false when an "ERROR! " line was printed.
bool extract_archive(const std::string& archive_path, const std::string& dest_dir, Reporter& out);

} // namespace quodrel
