#include "app/archive_routes.h"

#include "app/run_command.h"
#include "report/printer.h"

#include "console/signals.h"
#include "console/terminal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quodrel {
namespace {

// The exit status of a route whose operation ended with `error`.
int status_of(quodrel_error error, const Printer& out) {
    return error == QUODREL_OK && !out.failed() && !out.cut_off() ? kExitOk : kExitError;
}

bool is_standard_stream(const std::string& path) { return path == kStandardStream; }

// Standard input and output, as the library reads and writes an archive in order: by
// its own descriptor callbacks, which move files' bytes inside the kernel.
int g_standard_input = 0;
int g_standard_output = 1;

// An archive opened, closed when it goes: a file, or standard input for "-" (read to
// its end then, so that what writes into it is not cut off).
class Opened {
public:
    Opened(const std::string& path, unsigned flags)
        : stream_(is_standard_stream(path)),
          error_(stream_ ? (console::prepare_input(),
                            quodrel_open_stream(quodrel_read_descriptor, &g_standard_input,
                                                kStandardStream, flags, &archive_))
                         : quodrel_open(path.c_str(), flags, &archive_)) {}
    ~Opened() {
        quodrel_close(archive_);
        if (stream_)
            console::drain_input();
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    quodrel_error error() const { return error_; }
    const quodrel_archive* get() const { return archive_; }

private:
    quodrel_archive* archive_ = nullptr; // before error_: its initialiser sets this
    bool stream_;
    quodrel_error error_;
};

// Whether an archive named "-" would be read from a terminal or written to one:
// refused, told through `out`.
bool refuses_terminal(const std::string& path, bool output, Printer& out) {
    if (!is_standard_stream(path) || !console::is_a_terminal(output ? 1 : 0))
        return false;
    out.print(terminal_refused(output));
    return true;
}

bool write_err(std::string_view text) { return console::write_error_text(text); }

// A test's chosen moment around a commit (QUODREL_TEST_STOP_AT), at which the process
// stops until it is continued, so that a signal sent then meets the run there.
enum class Moment { none, commit, committing, placed, end };

Moment moment_to_stop_at() {
    const char* at = std::getenv("QUODREL_TEST_STOP_AT");
    if (!at)
        return Moment::none;
    const struct {
        const char* name;
        Moment moment;
    } moments[] = {{"commit", Moment::commit},
                   {"committing", Moment::committing},
                   {"placed", Moment::placed},
                   {"end", Moment::end}};
    for (const auto& it : moments)
        if (std::strcmp(at, it.name) == 0)
            return it.moment;
    return Moment::none;
}

// The run of an operation that may put an archive in place: its events printed; from
// its commit on the signals that end the run are held, so that a run whose archive was
// put in place ends as the finished one it is ("Done", status 0), and one whose archive
// was not is ended by a signal that came meanwhile, as it would have been.
class Committing {
public:
    explicit Committing(Printer& out) : out_(out), stop_at_(moment_to_stop_at()) {}

    quodrel_options options(unsigned threads, const quodrel_output_hooks* outputs) {
        quodrel_options options = out_.options(threads, outputs);
        options.on_event = on_event;
        options.context = this;
        if (outputs && stop_at_ == Moment::placed) {
            guarded_ = outputs;
            hooks_ = {on_begin, on_created, on_finished, this};
            options.outputs = &hooks_;
        }
        return options;
    }

    // After the call: the signals held since a commit that did not happen go through.
    quodrel_error finish(quodrel_error error) {
        if (held_ && error != QUODREL_OK && error != QUODREL_ERROR_INCOMPLETE)
            console::release_ending_signals();
        return error;
    }

private:
    static int on_event(void* context, const quodrel_event* event) {
        auto& run = *static_cast<Committing*>(context);
        if (event->kind == QUODREL_EVENT_COMMIT) {
            run.stop(Moment::commit);
            console::hold_ending_signals();
            run.held_ = true;
            run.stop(Moment::committing);
        } else if (event->kind == QUODREL_EVENT_END) {
            run.stop(Moment::end);
        }
        return run.out_.print(*event) ? 0 : 1;
    }

    // The guard's hooks, and a stop once the file told last is the archive put in place.
    static void on_begin(void* context, unsigned thread, int folder, const char* name) {
        const quodrel_output_hooks& guarded = *static_cast<Committing*>(context)->guarded_;
        guarded.begin(guarded.context, thread, folder, name);
    }
    static void on_created(void* context, unsigned thread, int created) {
        const quodrel_output_hooks& guarded = *static_cast<Committing*>(context)->guarded_;
        guarded.created(guarded.context, thread, created);
    }
    static void on_finished(void* context, unsigned thread) {
        auto& run = *static_cast<Committing*>(context);
        run.guarded_->finished(run.guarded_->context, thread);
        if (run.held_)
            run.stop(Moment::placed);
    }

    void stop(Moment moment) {
        if (moment == stop_at_) {
            std::fflush(stdout);
            stop_at_ = Moment::none;
            console::stop_here();
        }
    }

    Printer& out_;
    Moment stop_at_;
    bool held_ = false;
    const quodrel_output_hooks* guarded_ = nullptr;
    quodrel_output_hooks hooks_ = {};
};

// Opens the archive at `path` and runs `look` on it (quodrel_list or quodrel_check),
// its events printed; the failure to open it printed instead.
int look_into(const std::string& path, unsigned flags,
              quodrel_error (*look)(const quodrel_archive*, const quodrel_options*)) {
    Printer out(write_out);
    if (refuses_terminal(path, false, out))
        return kExitError;
    const Opened archive(path, flags);
    if (archive.error() != QUODREL_OK) {
        out.print(failure_event(archive.error(), path.c_str()));
        return kExitError;
    }
    const quodrel_options options = out.options(1);
    return status_of(look(archive.get(), &options), out);
}

} // namespace

bool write_out(std::string_view text) {
    bool written = console::write_text(text);
    if (text == ".")
        written = std::fflush(stdout) == 0 && written; // a person watching sees the dots move
    return written && !std::ferror(stdout);
}

void say(std::string_view text) {
    if (!write_out(text))
        console::end_run(kExitError);
}

void say_error(std::string_view text) {
    if (!write_err(text))
        console::end_run(kExitError);
}

int extract_route(const std::string& archive, const std::string& folder,
                  const std::vector<std::string>* chosen, unsigned threads,
                  const quodrel_output_hooks* outputs) {
    Printer out(write_out);
    if (refuses_terminal(archive, false, out))
        return kExitError;
    const quodrel_options options = out.options(threads, outputs);
    std::vector<const char*> paths;
    if (chosen)
        for (const std::string& path : *chosen)
            paths.push_back(path.c_str());
    if (!is_standard_stream(archive))
        return status_of(
            quodrel_extract(archive.c_str(), folder.c_str(), paths.data(), paths.size(), &options),
            out);
    console::prepare_input();
    const quodrel_error error =
        quodrel_extract_stream(quodrel_read_descriptor, &g_standard_input, kStandardStream,
                               folder.c_str(), paths.data(), paths.size(), &options);
    console::drain_input();
    return status_of(error, out);
}

int create_route(const std::string& folder, const std::string& archive, unsigned threads,
                 const quodrel_output_hooks* outputs) {
    if (is_standard_stream(archive)) {
        // Standard output is the archive: the words go to standard error.
        Printer err(write_err);
        if (refuses_terminal(archive, true, err))
            return kExitError;
        const quodrel_options options = err.options(threads, outputs);
        return status_of(quodrel_create_stream(folder.c_str(), quodrel_write_descriptor,
                                               &g_standard_output, kStandardStream, &options),
                         err);
    }
    Printer out(write_out);
    Committing run(out);
    const quodrel_options options = run.options(threads, outputs);
    return status_of(run.finish(quodrel_create(folder.c_str(), archive.c_str(), &options)), out);
}

int update_route(const std::string& archive, const std::string& folder, unsigned threads,
                 const quodrel_output_hooks* outputs) {
    Printer out(write_out);
    Committing run(out);
    const quodrel_options options = run.options(threads, outputs);
    return status_of(run.finish(quodrel_update(archive.c_str(), folder.c_str(), &options)), out);
}

int list_route(const std::string& path) { return look_into(path, 0, quodrel_list); }

int test_route(const std::string& path) {
    // A file that is no archive at all is told so, not by the damage it seems to have.
    return look_into(path, QUODREL_OPEN_REQUIRE_MAGIC, quodrel_check);
}

int compare_route(const std::string& path, const std::string& folder, unsigned threads) {
    constexpr int kSame = 0, kDifferent = 1, kTrouble = 2;
    Printer out(write_out);
    const Opened archive(path, QUODREL_OPEN_REQUIRE_MAGIC);
    if (archive.error() != QUODREL_OK) {
        out.print(failure_event(archive.error(), path.c_str()));
        return kTrouble;
    }
    const quodrel_options options = out.options(threads);
    const quodrel_error error = quodrel_compare(archive.get(), folder.c_str(), &options);
    if (out.failed() || out.cut_off())
        return kTrouble;
    return error == QUODREL_OK ? kSame : error == QUODREL_ERROR_DIFFERENT ? kDifferent : kTrouble;
}

int print_route(const std::string& path, const std::string& entry) {
    // Standard output is the data: what went wrong goes to standard error.
    Printer err(write_err);
    if (refuses_terminal(path, false, err))
        return kExitError;
    const Opened archive(path, 0);
    if (archive.error() != QUODREL_OK) {
        err.print(failure_event(archive.error(), path.c_str()));
        return kExitError;
    }
    std::size_t index = QUODREL_NO_INDEX;
    const quodrel_error found = quodrel_find(archive.get(), entry.c_str(), &index);
    if (found == QUODREL_ERROR_REFUSED) {
        // Never read through a path what extraction does not write there: why not.
        err.print(refusal_event(quodrel_entry_refusal(archive.get(), index), entry.c_str()));
        return kExitError;
    }
    const quodrel_error error = found == QUODREL_OK && quodrel_entry_is_folder(archive.get(), index)
                                    ? QUODREL_ERROR_NOT_A_FILE
                                    : found;
    if (error != QUODREL_OK) {
        err.print(failure_event(error, entry.c_str()));
        return kExitError;
    }
    std::vector<char> block(1 << 16);
    for (std::uint64_t at = 0;;) {
        std::size_t got = 0;
        if (quodrel_read(archive.get(), index, at, block.data(), block.size(), &got) !=
            QUODREL_OK) {
            quodrel_event cut = failure_event(QUODREL_ERROR_READ, entry.c_str());
            cut.index = index;
            err.print(cut);
            return kExitError;
        }
        if (got == 0)
            break;
        if (std::fwrite(block.data(), 1, got, stdout) != got)
            return kExitError; // the reader is gone
        at += got;
    }
    return kExitOk;
}

} // namespace quodrel
