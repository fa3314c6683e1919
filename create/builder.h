#pragma once

#include "report/reporter.h"

#include <string>

namespace quodrel {

// Packs the tree below source_dir into one archive at archive_path, printing
// progress and errors through `out`. The archive is written beside its final place
// and put there only when complete. File contents move on `threads` threads (the
// calling one included). Returns false when an "ERROR! " line was printed.
bool create_archive(const std::string& source_dir, const std::string& archive_path,
                    unsigned threads, Reporter& out);

} // namespace quodrel
