#include "app/archive_routes.h"

#include "app/run_command.h"
#include "archive/format.h"
#include "platform/cleanup.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "report/reporter.h"

#include "quodrel/quodrel.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace quodrel {
namespace {

int status_of(quodrel_error error) {
    if (error == QUODREL_ERROR_NO_MEMORY) {
        write_out(kOutOfMemory);
        return kExitError;
    }
    return error == QUODREL_OK ? kExitOk : kExitError;
}

void on_text(void*, const char* text, size_t length) { write_out(std::string_view(text, length)); }

quodrel_options options_for(unsigned threads) {
    quodrel_options options = {};
    options.threads = threads;
    options.on_text = on_text;
    return options;
}

Fault fault_of(quodrel_error error) {
    switch (error) {
    case QUODREL_ERROR_TABLE_CUT_SHORT: return Fault::table_cut_short;
    case QUODREL_ERROR_BAD_NAME_LENGTH: return Fault::bad_name_length;
    case QUODREL_ERROR_TOO_DEEP: return Fault::too_deep;
    case QUODREL_ERROR_NO_MEMORY: return Fault::table_no_memory;
    case QUODREL_ERROR_NOT_FOUND: return Fault::not_in_archive;
    case QUODREL_ERROR_NOT_A_FILE: return Fault::not_a_file;
    default: break;
    }
    return Fault::cannot_open;
}

Fault fault_of(quodrel_refusal refusal) {
    switch (refusal) {
    case QUODREL_REFUSED_NAME_TOO_LONG: return Fault::name_too_long;
    case QUODREL_REFUSED_PATH_TOO_LONG: return Fault::path_too_long;
    case QUODREL_REFUSED_DATA_OUT_OF_RANGE: return Fault::data_out_of_range;
    case QUODREL_REFUSED_DATA_CUT_SHORT: return Fault::data_cut_short;
    case QUODREL_REFUSED_NAME_CLASH: return Fault::name_clash;
    default: break;
    }
    return Fault::unsafe_name;
}

// An archive opened whole, closed when it goes.
class Opened {
public:
    explicit Opened(const std::string& path) : error_(quodrel_open(path.c_str(), &archive_)) {}
    ~Opened() { quodrel_close(archive_); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    quodrel_error error() const { return error_; }
    const quodrel_archive* get() const { return archive_; }

private:
    quodrel_archive* archive_ = nullptr; // before error_: its initialiser sets this
    quodrel_error error_;
};

// Tells each entry to `each(i, path)`, a folder's path with its closing "/", then
// the totals.
template <class Each> void each_entry(const quodrel_archive* archive, Reporter& out, Each each) {
    std::int32_t files = 0, folders = 0;
    std::int64_t bytes = 0;
    for (std::size_t i = 0; i < quodrel_entry_count(archive); ++i) {
        std::string path = quodrel_entry_path(archive, i);
        if (quodrel_entry_is_folder(archive, i)) {
            ++folders;
            path += '/';
        } else {
            ++files;
            bytes += quodrel_entry_size(archive, i);
        }
        each(i, path);
    }
    out.totals(files, folders, bytes);
}

Reporter program_reporter() { return Reporter(write_out); }

// Whether the file at `path` starts with an archive's magic.
bool starts_as_archive(const std::string& path) {
    const int file = platform::open_for_reading(path);
    if (file < 0)
        return false;
    char magic[sizeof kMagic] = {};
    std::size_t got = 0;
    while (got < sizeof magic) {
        const std::int64_t n = platform::read_some(file, magic + got, sizeof magic - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    platform::close_file(file);
    return got == sizeof magic && std::memcmp(magic, kMagic, sizeof magic) == 0;
}

} // namespace

void write_out(std::string_view text) {
    bool written = platform::write_text(text);
    if (text == ".")
        written = std::fflush(stdout) == 0 && written; // a person watching sees the dots move
    if (!written || std::ferror(stdout))
        platform::end_run(kExitError);
}

int extract_route(const std::string& archive, const std::string& folder,
                  const std::vector<std::string>* chosen, unsigned threads) {
    const quodrel_options options = options_for(threads);
    std::vector<const char*> paths;
    if (chosen)
        for (const std::string& path : *chosen)
            paths.push_back(path.c_str());
    return status_of(
        quodrel_extract(archive.c_str(), folder.c_str(), paths.data(), paths.size(), &options));
}

int create_route(const std::string& folder, const std::string& archive, unsigned threads) {
    const quodrel_options options = options_for(threads);
    return status_of(quodrel_create(folder.c_str(), archive.c_str(), &options));
}

int list_route(const std::string& path) {
    Reporter out = program_reporter();
    const Opened archive(path);
    if (archive.error() != QUODREL_OK)
        out.fault(fault_of(archive.error()), path);
    else
        each_entry(archive.get(), out, [&](std::size_t i, const std::string& entry) {
            out.listing(static_cast<std::int32_t>(quodrel_entry_size(archive.get(), i)), entry);
        });
    return out.failed() ? kExitError : kExitOk;
}

Verdict check_archive(const std::string& path, bool totals) {
    Reporter out = program_reporter();
    const Opened archive(path);
    if (archive.error() == QUODREL_ERROR_OPEN) {
        out.fault(Fault::cannot_open, path);
        return Verdict::unreadable;
    }
    if (!starts_as_archive(path)) {
        // A file that is no archive at all is told so, not by the damage it seems to have.
        out.fault(Fault::not_an_archive, path);
        return Verdict::unreadable;
    }
    if (archive.error() != QUODREL_OK) {
        out.fault(fault_of(archive.error()), path);
        return Verdict::unreadable;
    }
    Reporter quiet([](std::string_view) {});
    each_entry(archive.get(), totals ? out : quiet, [&](std::size_t i, std::string entry) {
        const quodrel_refusal refusal = quodrel_entry_refusal(archive.get(), i);
        if (refusal == QUODREL_WRITTEN || refusal == QUODREL_REFUSED_INSIDE)
            return;
        if (!entry.empty() && entry.back() == '/')
            entry.pop_back(); // messages name a folder without its closing "/"
        out.fault(fault_of(refusal), std::string(), entry);
    });
    return out.failed() ? Verdict::refusals : Verdict::sound;
}

int test_route(const std::string& path) {
    return check_archive(path, true) == Verdict::sound ? kExitOk : kExitError;
}

int print_route(const std::string& path, const std::string& entry) {
    // Standard output is the data: what went wrong goes to standard error.
    Reporter err([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });
    const Opened archive(path);
    std::size_t index = 0;
    quodrel_error error = archive.error();
    if (error == QUODREL_OK)
        error = quodrel_find(archive.get(), entry.c_str(), &index);
    if (error == QUODREL_OK && quodrel_entry_is_folder(archive.get(), index))
        error = QUODREL_ERROR_NOT_A_FILE;
    if (error != QUODREL_OK) {
        const bool about_entry =
            error == QUODREL_ERROR_NOT_FOUND || error == QUODREL_ERROR_NOT_A_FILE;
        err.fault(fault_of(error), std::string(), about_entry ? entry : path);
        return kExitError;
    }
    const quodrel_refusal refusal = quodrel_entry_refusal(archive.get(), index);
    static char block[1 << 16];
    for (std::uint64_t at = 0;;) {
        std::size_t got = 0;
        error = quodrel_read(archive.get(), index, at, block, sizeof block, &got);
        if (error != QUODREL_OK) {
            err.fault(error == QUODREL_ERROR_REFUSED ? fault_of(refusal) : Fault::data_cut_short,
                      std::string(), entry);
            return kExitError;
        }
        if (got == 0)
            break;
        if (std::fwrite(block, 1, got, stdout) != got)
            return kExitError; // the reader is gone
        at += got;
    }
    return kExitOk;
}

} // namespace quodrel
