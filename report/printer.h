// What the user reads: every event an operation tells, printed in the words the
// library gives it (quodrel_event_text), each piece as soon as it comes, and whether an
// error was among them (the exit status), known from the events' kinds and errors,
// never from the words printed.
#pragma once

#include "quodrel/quodrel.h"

#include <string>
#include <string_view>

namespace quodrel {

class Printer {
public:
    // Where the text goes: false when it could not be written there.
    using Write = bool (*)(std::string_view text);
    explicit Printer(Write write) : write_(write) {}

    // Options that tell this printer every event, on `threads` threads, with `outputs`
    // (or none) told of half-written files.
    quodrel_options options(unsigned threads, const quodrel_output_hooks* outputs = nullptr);

    // Prints one event; false once the text could not be written (the operation is
    // then asked to stop).
    bool print(const quodrel_event& event);
    // Prints a text of the program's own.
    bool print(std::string_view text);

    // Whether an error was told (an "ERROR! " line printed).
    bool failed() const { return failed_; }
    // Whether the output could not all be written.
    bool cut_off() const { return cut_off_; }

private:
    static int on_event(void* context, const quodrel_event* event);

    Write write_;
    std::string text_;
    bool failed_ = false;
    bool cut_off_ = false;
};

// Whether an event is an error: a failure, or a refusal the program names in an
// "ERROR! " line (not an entry inside a refused folder, which its folder's line tells).
bool is_error(const quodrel_event& event);

// The program's refusal to read an archive from a terminal on standard input, or to
// write one to a terminal on standard output: the archive named "-".
std::string terminal_refused(bool output);

// Events the program makes itself, for what it finds before or beside an operation
// (a path the user named that the archive does not have): told as the library would.
quodrel_event failure_event(quodrel_error error, const char* path);
quodrel_event refusal_event(quodrel_refusal refusal, const char* path);

} // namespace quodrel
