// The C interface of include/quodrel/quodrel.h over the operations: nothing is
// printed (texts go to the caller's callback), no exception leaves, nothing is kept
// beyond what one archive handle holds.
#include "quodrel/quodrel.h"

#include "archive/tree.h"
#include "create/builder.h"
#include "extract/archive_file.h"
#include "extract/extractor.h"
#include "extract/plan.h"
#include "platform/files.h"
#include "report/reporter.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

struct quodrel_archive {
    quodrel::ArchiveFile file;
    quodrel::ExtractionPlan plan;
    std::string paths;                // every entry's path, each ending in a NUL
    std::vector<std::size_t> path_at; // where each entry's path starts
    std::unordered_map<std::string_view, std::size_t> index; // path to its first entry
};

namespace {

using namespace quodrel;

quodrel_error error_of(TableDamage damage) {
    switch (damage) {
    case TableDamage::none: break;
    case TableDamage::cut_short: return QUODREL_ERROR_TABLE_CUT_SHORT;
    case TableDamage::bad_name_length: return QUODREL_ERROR_BAD_NAME_LENGTH;
    case TableDamage::too_deep: return QUODREL_ERROR_TOO_DEEP;
    case TableDamage::no_memory: return QUODREL_ERROR_NO_MEMORY;
    }
    return QUODREL_OK;
}

quodrel_refusal refusal_of(Fault fault) {
    switch (fault) {
    case Fault::unsafe_name: return QUODREL_REFUSED_UNSAFE_NAME;
    case Fault::name_too_long: return QUODREL_REFUSED_NAME_TOO_LONG;
    case Fault::path_too_long: return QUODREL_REFUSED_PATH_TOO_LONG;
    case Fault::data_out_of_range: return QUODREL_REFUSED_DATA_OUT_OF_RANGE;
    case Fault::data_cut_short: return QUODREL_REFUSED_DATA_CUT_SHORT;
    case Fault::name_clash: return QUODREL_REFUSED_NAME_CLASH;
    default: break;
    }
    return QUODREL_REFUSED_UNSAFE_NAME; // no other fault refuses an entry
}

bool valid(const quodrel_archive* archive, std::size_t index) {
    return archive && index < archive->file.table.size();
}

// A Reporter that tells the caller's callback.
Reporter reporter_for(const quodrel_options* options) {
    if (!options || !options->on_text)
        return Reporter([](std::string_view) {});
    const quodrel_options given = *options;
    return Reporter(
        [given](std::string_view text) { given.on_text(given.context, text.data(), text.size()); });
}

unsigned threads_for(const quodrel_options* options) {
    if (options && options->threads != 0)
        return options->threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

} // namespace

extern "C" {

const char* quodrel_error_text(quodrel_error error) {
    switch (error) {
    case QUODREL_OK: return "no error";
    case QUODREL_ERROR_ARGUMENT: return "invalid argument";
    case QUODREL_ERROR_OPEN: return "cannot open the archive";
    case QUODREL_ERROR_TABLE_CUT_SHORT: return "entry table cut short";
    case QUODREL_ERROR_BAD_NAME_LENGTH: return "bad name length in the entry table";
    case QUODREL_ERROR_TOO_DEEP: return "too many directory levels";
    case QUODREL_ERROR_NO_MEMORY: return "out of memory";
    case QUODREL_ERROR_NOT_FOUND: return "not in the archive";
    case QUODREL_ERROR_NOT_A_FILE: return "not a file";
    case QUODREL_ERROR_REFUSED: return "refused by extraction";
    case QUODREL_ERROR_READ: return "cannot read the archive";
    case QUODREL_ERROR_INCOMPLETE: return "not everything could be done";
    }
    return "unknown error";
}

const char* quodrel_refusal_text(quodrel_refusal refusal) {
    switch (refusal) {
    case QUODREL_WRITTEN: return "written";
    case QUODREL_REFUSED_UNSAFE_NAME: return "unsafe name";
    case QUODREL_REFUSED_NAME_TOO_LONG: return "name too long";
    case QUODREL_REFUSED_PATH_TOO_LONG: return "path too long";
    case QUODREL_REFUSED_DATA_OUT_OF_RANGE: return "data out of range";
    case QUODREL_REFUSED_DATA_CUT_SHORT: return "data cut short";
    case QUODREL_REFUSED_NAME_CLASH: return "name clash";
    case QUODREL_REFUSED_INSIDE: return "inside a refused folder";
    }
    return "unknown refusal";
}

quodrel_error quodrel_open(const char* path, quodrel_archive** archive) {
    if (!path || !archive)
        return QUODREL_ERROR_ARGUMENT;
    *archive = nullptr;
    try {
        auto opened = std::make_unique<quodrel_archive>();
        if (!open_archive(path, opened->file))
            return QUODREL_ERROR_OPEN;
        read_archive_header(opened->file);
        const TableDamage damage = read_archive_table(opened->file);
        if (damage != TableDamage::none)
            return error_of(damage);
        opened->plan = plan_archive(opened->file);
        const EntryTable& table = opened->file.table;
        opened->path_at.reserve(table.size());
        TreeWalker walk;
        for (std::size_t i = 0; i < table.size(); ++i) {
            walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
            opened->path_at.push_back(opened->paths.size());
            opened->paths.append(walk.entry_path()).push_back('\0');
        }
        for (std::size_t i = 0; i < table.size(); ++i)
            opened->index.emplace(std::string_view(opened->paths.data() + opened->path_at[i]), i);
        *archive = opened.release();
        return QUODREL_OK;
    } catch (const std::bad_alloc&) {
        return QUODREL_ERROR_NO_MEMORY;
    } catch (...) {
        return QUODREL_ERROR_READ;
    }
}

void quodrel_close(quodrel_archive* archive) { delete archive; }

int quodrel_has_magic(const quodrel_archive* archive) {
    return archive && std::memcmp(archive->file.header.magic, kMagic, sizeof kMagic) == 0;
}

size_t quodrel_entry_count(const quodrel_archive* archive) {
    return archive ? archive->file.table.size() : 0;
}

const char* quodrel_entry_path(const quodrel_archive* archive, size_t index) {
    return valid(archive, index) ? archive->paths.data() + archive->path_at[index] : nullptr;
}

int64_t quodrel_entry_size(const quodrel_archive* archive, size_t index) {
    return valid(archive, index) ? archive->file.table[index].record.size : 0;
}

int quodrel_entry_is_folder(const quodrel_archive* archive, size_t index) {
    return valid(archive, index) && archive->file.table[index].record.size == 0;
}

quodrel_refusal quodrel_entry_refusal(const quodrel_archive* archive, size_t index) {
    if (!valid(archive, index))
        return QUODREL_REFUSED_INSIDE;
    const Step& step = archive->plan.steps[index];
    switch (step.action) {
    case Action::make_directory:
    case Action::write_file: return QUODREL_WRITTEN;
    case Action::refuse: return refusal_of(step.fault);
    case Action::skip: break;
    }
    return QUODREL_REFUSED_INSIDE;
}

quodrel_error quodrel_find(const quodrel_archive* archive, const char* path, size_t* index) {
    if (!archive || !path || !index)
        return QUODREL_ERROR_ARGUMENT;
    std::string_view wanted(path);
    if (wanted.size() > 1 && wanted.back() == '/')
        wanted.remove_suffix(1);
    const auto found = archive->index.find(wanted);
    if (found == archive->index.end())
        return QUODREL_ERROR_NOT_FOUND;
    *index = found->second;
    return QUODREL_OK;
}

quodrel_error quodrel_read(const quodrel_archive* archive, size_t index, uint64_t offset,
                           void* buffer, size_t size, size_t* read) {
    if (!valid(archive, index) || !read || (!buffer && size != 0))
        return QUODREL_ERROR_ARGUMENT;
    *read = 0;
    const EntryRecord& record = archive->file.table[index].record;
    if (record.size == 0)
        return QUODREL_ERROR_NOT_A_FILE;
    // The data must lie within the archive, whatever the plan made of the entry (one
    // inside a refused folder was never looked at).
    const std::int64_t begin = std::int64_t{archive->file.header.data_offset} + record.offset;
    if (record.size < 0 || begin < 0 ||
        static_cast<std::uint64_t>(begin) + static_cast<std::uint64_t>(record.size) >
            archive->file.size)
        return QUODREL_ERROR_REFUSED;
    const auto file_size = static_cast<std::uint64_t>(record.size);
    if (offset >= file_size)
        return QUODREL_OK;
    const std::uint64_t left = file_size - offset;
    const std::size_t want = size < left ? size : static_cast<std::size_t>(left);
    const std::uint64_t start = static_cast<std::uint64_t>(begin) + offset;
    auto* to = static_cast<char*>(buffer);
    while (*read < want) {
        const std::int64_t n =
            platform::read_at(archive->file.file, to + *read, want - *read, start + *read);
        if (n <= 0)
            return QUODREL_ERROR_READ; // the archive shrank, or cannot be read
        *read += static_cast<std::size_t>(n);
    }
    return QUODREL_OK;
}

quodrel_error quodrel_extract(const char* archive_path, const char* folder,
                              const char* const* paths, size_t path_count,
                              const quodrel_options* options) {
    if (!archive_path || !folder || (path_count != 0 && !paths))
        return QUODREL_ERROR_ARGUMENT;
    try {
        Reporter out = reporter_for(options);
        std::vector<std::string> chosen;
        for (std::size_t i = 0; i < path_count; ++i) {
            if (!paths[i])
                return QUODREL_ERROR_ARGUMENT;
            chosen.emplace_back(paths[i]);
        }
        const bool ok = extract_archive(archive_path, folder, threads_for(options), out,
                                        path_count != 0 ? &chosen : nullptr);
        return ok ? QUODREL_OK : QUODREL_ERROR_INCOMPLETE;
    } catch (const std::bad_alloc&) {
        return QUODREL_ERROR_NO_MEMORY;
    } catch (...) {
        return QUODREL_ERROR_INCOMPLETE;
    }
}

quodrel_error quodrel_create(const char* folder, const char* archive_path,
                             const quodrel_options* options) {
    if (!folder || !archive_path)
        return QUODREL_ERROR_ARGUMENT;
    try {
        Reporter out = reporter_for(options);
        return create_archive(folder, archive_path, threads_for(options), out)
                   ? QUODREL_OK
                   : QUODREL_ERROR_INCOMPLETE;
    } catch (const std::bad_alloc&) {
        return QUODREL_ERROR_NO_MEMORY;
    } catch (...) {
        return QUODREL_ERROR_INCOMPLETE;
    }
}

} // extern "C"
