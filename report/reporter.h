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

// Tells the lines of one operation, a piece at a time (a line, a dot), to whoever
// shows them, and remembers whether an "ERROR! " line was among them.
class Reporter {
public:
    // `write` gets each piece as soon as it is made; `flush` is called where a person
    // watching should see what came so far (after each dot, at the end).
    explicit Reporter(std::function<void(std::string_view)> write,
                      std::function<void()> flush = nullptr)
        : write_(std::move(write)), flush_(std::move(flush)) {}

    // For extracting chosen entries: no first lines, no dots, no "Done"; what was
    // written is told in the totals.
    void set_quiet(bool quiet) { quiet_ = quiet; }
    bool quiet() const { return quiet_; }

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
    // Everything told so far is shown.
    void flush();

    bool failed() const { return failed_; }

private:
    void print(const char* format, ...);

    std::function<void(std::string_view)> write_;
    std::function<void()> flush_;
    bool quiet_ = false;
    bool failed_ = false;
};

// The last word of a run that ran out of memory.
extern const char* const kOutOfMemory;

} // namespace quodrel
