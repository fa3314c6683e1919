// What the user reads: every text the operations print comes from here, so the
// wording of each message lives in one place and the exit status follows from it.
#pragma once

#include "report/fault.h"

#include <cstdint>
#include <string>

namespace quodrel {

// The message of a fault, with one "%s" for the path it concerns.
const char* fault_message(Fault fault);

// Whether a dot is due before entry `index` (from 0) of `total`: always when
// total / 50 is 0, else at every multiple of total / 50.
bool progress_dot_due(std::int32_t total, std::int32_t index);

// Prints the lines of one operation on standard output and remembers whether an
// "ERROR! " line was among them.
class Reporter {
public:
    void creating(const std::string& archive_path, std::size_t entries);
    void extracting(const std::string& archive_path);
    void counts(std::int32_t entry_count, std::int32_t data_offset);
    // A dot when one is due, flushed so a person watching sees it move.
    void progress(std::int32_t total, std::int32_t index);
    void fault(Fault fault, const std::string& path);
    void no_memory(std::int64_t bytes);
    void done();
    // One entry of a listing: its size in bytes, right-aligned, and its path.
    void listing(std::int32_t size, const std::string& path);
    void totals(std::int32_t files, std::int32_t directories, std::int64_t bytes);
    // Everything printed so far reaches the terminal or file.
    void flush();

    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

// The last word of a run that ran out of memory.
void report_out_of_memory();

} // namespace quodrel
