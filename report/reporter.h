// What the user reads: every text the operations print comes from here, so the
// wording of each message lives in one place and the exit status follows from it.
#pragma once

#include "report/fault.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quodrel {

// The message of a fault, with one "%s" for the path it concerns.
const char* fault_message(Fault fault);

// Whether a dot is due before entry `index` (from 0) of `total`: always when
// total / 50 is 0, else at every multiple of total / 50.
bool progress_dot_due(std::int32_t total, std::int32_t index);

// A name as it is printed: the control bytes 0x01-0x1F and 0x7F, and the C1 controls
// (UTF-8 C2 80 to C2 9F), which a terminal would obey, as escapes: "\t", "\n", "\r"
// by name, any other as a backslash and three octal digits ("\033", "\302\233").
// Everything else, UTF-8 and backslashes included, stays as it is.
std::string printable(std::string_view name);

// Prints the lines of one operation on standard output and remembers whether an
// "ERROR! " line was among them.
class Reporter {
public:
    // `output_lost` is called once when standard output can no longer be written (a
    // closed pipe, a full disk): the run cannot tell its user anything any more.
    explicit Reporter(std::function<void()> output_lost = nullptr)
        : output_lost_(std::move(output_lost)) {}

    void creating(const std::string& archive_path, std::size_t entries);
    void extracting(const std::string& archive_path);
    void counts(std::int32_t entry_count, std::int32_t data_offset);
    // A dot when one is due, flushed so a person watching sees it move.
    void progress(std::int32_t total, std::int32_t index);
    void fault(Fault fault, const std::string& path);
    // A fault about an entry: the path the user gave, as given, then the entry's path
    // below it, printable.
    void fault(Fault fault, const std::string& given, std::string_view entry_path);
    void no_memory(std::int64_t bytes);
    void done();
    // One entry of a listing: its size in bytes, right-aligned, and its path, printable.
    void listing(std::int32_t size, std::string_view path);
    void totals(std::int32_t files, std::int32_t directories, std::int64_t bytes);
    // Everything printed so far reaches the terminal or file.
    void flush();

    bool failed() const { return failed_; }

private:
    void check_output();

    bool failed_ = false;
    bool lost_ = false;
    std::function<void()> output_lost_;
};

// The last word of a run that ran out of memory.
void report_out_of_memory();

} // namespace quodrel
