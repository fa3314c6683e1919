// Looking into an archive without writing anything: what it holds, and whether it
// would extract cleanly.
#pragma once

#include "report/reporter.h"

#include <string>

namespace quodrel {

// Prints one line per entry (size and path below the root, a directory's ending in
// "/") and the totals. False when the archive cannot be read or its table is damaged.
bool list_archive(const std::string& archive_path, Reporter& out);

// Makes every check extraction makes and prints one "ERROR! " line per problem, then
// the totals. True when the archive is sound.
bool test_archive(const std::string& archive_path, Reporter& out);

} // namespace quodrel
