#pragma once

#include <string>

namespace quodrel {

// Recreates below dest_dir the tree the archive describes, printing progress and
// errors. Returns false when an "ERROR! " line was printed.
bool extract_archive(const std::string& archive_path, const std::string& dest_dir);

} // namespace quodrel
