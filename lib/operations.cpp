// The operations of the C interface: extract, create, list and check. Each reads its
// options, tells its events, and lets no exception out.
#include "archive/tree.h"
#include "compare/compare.h"
#include "create/create.h"
#include "create/listed.h"
#include "extract/extractor.h"
#include "lib/handle.h"
#include "lib/options.h"
#include "platform/files.h"
#include "platform/guard.h"
#include "platform/sync.h"
#include "reading/stream.h"
#include "update/update.h"
#include "writer/sink.h"

#include <cstddef>
#include <new>
#include <string>
#include <vector>

namespace quodrel {
namespace {

// More threads than this never move contents faster; each costs its block.
constexpr unsigned kMostThreads = 1024;

// The size of the first version's options: anything smaller was never a quodrel_options.
// Fields later versions add are read only where `size` covers them.
constexpr std::size_t kFirstOptionsSize =
    offsetof(quodrel_options, outputs) + sizeof(quodrel_options::outputs);

// Runs an operation, turning what it throws (nothing but a lack of memory is thrown by
// the operations) into an error: no memory is told as an event, if the caller still
// listens.
template <class Run> quodrel_error guarded(Events& events, Run run) {
    return platform::or_no_memory(run, [&events] {
        events.failed(QUODREL_ERROR_NO_MEMORY, 0, std::string_view());
        return QUODREL_ERROR_NO_MEMORY;
    });
}

std::vector<std::string> chosen_paths(const char* const* paths, size_t count) {
    return std::vector<std::string>(paths, paths + count);
}

// The totals -l and -t end with: every entry of the archive.
bool tell_totals(const OpenArchive& archive, Events& events) {
    std::int64_t files = 0, folders = 0, bytes = 0;
    for (std::size_t i = 0; i < archive.table.size(); ++i) {
        const std::int64_t size = archive.table[i].record.size;
        (size == 0 ? folders : files) += 1;
        bytes += size;
    }
    return events.end(files, folders, bytes);
}

// Lists or checks an archive: every entry told in table order, then the totals.
quodrel_error walk_entries(const quodrel_archive* archive, const quodrel_options* options,
                           quodrel_operation operation) {
    const Settings settings = settings_of(options);
    if (!archive || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(operation, settings.on_event, settings.context);
    return guarded(events, [&] {
        // A stream is checked as a file is: to its end, its size known. (Calls on a stream
        // archive run one at a time, so it is this call's to change.)
        if (operation == QUODREL_OPERATION_CHECK)
            settle_stream(const_cast<quodrel_archive*>(archive)->opened);
        const OpenArchive& opened = archive->opened;
        const EntryTable& table = opened.table;
        std::int64_t bytes = 0;
        for (std::size_t i = 0; i < table.size(); ++i)
            bytes += table[i].record.size > 0 ? table[i].record.size : 0;
        if (!events.begin(opened.name, opened.header.entry_count, bytes, opened.header.data_offset))
            return QUODREL_ERROR_CANCELLED;
        TreeWalker walk;
        bool refused = false;
        for (std::size_t i = 0; i < table.size(); ++i) {
            walk.next(static_cast<std::int32_t>(i), table[i].record, table.name(i));
            const std::int64_t size = table[i].record.size;
            const quodrel_refusal refusal = quodrel_entry_refusal(archive, i);
            bool going = true;
            if (operation == QUODREL_OPERATION_CHECK && refusal != QUODREL_WRITTEN) {
                refused = true;
                going = events.refused(i, walk.entry_path(), refusal, size);
            } else {
                going = events.entry(i, walk.entry_path(), size);
            }
            // (At the last entry every entry is told: a cancel there changes nothing.)
            if (!going && i + 1 < table.size())
                return QUODREL_ERROR_CANCELLED;
        }
        tell_totals(opened, events); // (a cancel there comes once all is told)
        return refused ? QUODREL_ERROR_INCOMPLETE : QUODREL_OK;
    });
}

// Extracts an archive opened for this extraction alone (`opened`: what reading its
// table gave), as quodrel_extract does.
quodrel_error extract_opened(OpenArchive& archive, quodrel_error opened, const char* folder,
                             const char* const* paths, size_t path_count, const Settings& settings,
                             Events& events) {
    if (opened != QUODREL_OK) {
        // What the header says is told first, then why nothing more is.
        if (events.begin(archive.name, archive.header.entry_count, 0, archive.header.data_offset))
            events.failed(opened,
                          opened == QUODREL_ERROR_CREATE || opened == QUODREL_ERROR_WRITE
                              ? platform::last_error()
                              : 0,
                          archive.name);
        return events.cancelled() ? QUODREL_ERROR_CANCELLED : opened;
    }
    const std::vector<std::string> chosen = chosen_paths(paths, path_count);
    // The archive is this extraction's alone: its plan is taken, not copied.
    std::vector<Step> steps = std::move(archive.plan.steps);
    return extract_archive(archive, std::move(steps), folder, path_count != 0 ? &chosen : nullptr,
                           settings.crew, events);
}

// Whether chosen paths are given as they must be.
bool valid_paths(const char* const* paths, size_t path_count) {
    if (path_count != 0 && !paths)
        return false;
    for (std::size_t i = 0; i < path_count; ++i)
        if (!paths[i])
            return false;
    return true;
}

quodrel_operation extraction(size_t path_count) {
    return path_count != 0 ? QUODREL_OPERATION_EXTRACT_CHOSEN : QUODREL_OPERATION_EXTRACT;
}

} // namespace

Settings settings_of(const quodrel_options* options) {
    Settings settings;
    unsigned threads = 0;
    if (options) {
        if (options->size < kFirstOptionsSize) {
            settings.valid = false;
            return settings;
        }
        threads = options->threads;
        settings.on_event = options->on_event;
        settings.context = options->context;
        if (options->outputs) {
            settings.crew.watch.on_begin = options->outputs->begin;
            settings.crew.watch.on_created = options->outputs->created;
            settings.crew.watch.on_finished = options->outputs->finished;
            settings.crew.watch.context = options->outputs->context;
        }
    }
    if (threads == 0) {
        const unsigned cores = platform::processor_count();
        threads = cores == 0 ? 1 : cores;
    }
    // Each thread's block is had before anything moves: a number asked for by mistake
    // must not take all the memory there is.
    settings.crew.threads = threads < kMostThreads ? threads : kMostThreads;
    return settings;
}

} // namespace quodrel

using namespace quodrel;

extern "C" {

void quodrel_options_init(quodrel_options* options) {
    if (options)
        *options = quodrel_options QUODREL_OPTIONS_INIT;
}

quodrel_error quodrel_extract(const char* archive_path, const char* folder,
                              const char* const* paths, size_t path_count,
                              const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!archive_path || !folder || !valid_paths(paths, path_count) || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(extraction(path_count), settings.on_event, settings.context);
    return guarded(events, [&] {
        // The archive, a folder and a file: with none to spare, not even the archive is
        // opened (with one or two, extraction says so once the archive is read).
        if (platform::descriptors_left() == 0) {
            events.failed(QUODREL_ERROR_DESCRIPTORS, 0, archive_path);
            return QUODREL_ERROR_DESCRIPTORS;
        }
        int system_error = 0;
        OpenArchive archive;
        archive.bytes = archive_file(archive_path, system_error);
        if (!archive.bytes) {
            events.failed(QUODREL_ERROR_OPEN, system_error, archive_path);
            return QUODREL_ERROR_OPEN;
        }
        archive.name = archive_path;
        // The magic is not asked for: the format never demanded it.
        const quodrel_error opened = read_archive(archive, false);
        return extract_opened(archive, opened, folder, paths, path_count, settings, events);
    });
}

quodrel_error quodrel_extract_stream(quodrel_read_next read_next, void* context, const char* name,
                                     const char* folder, const char* const* paths,
                                     size_t path_count, const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!read_next || !folder || !valid_paths(paths, path_count) || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(extraction(path_count), settings.on_event, settings.context);
    return guarded(events, [&] {
        OpenArchive archive;
        archive.name = name ? name : "archive";
        const quodrel_error opened = read_stream(read_next, context, archive, false);
        return extract_opened(archive, opened, folder, paths, path_count, settings, events);
    });
}

quodrel_error quodrel_extract_archive(const quodrel_archive* archive, const char* folder,
                                      const char* const* paths, size_t path_count,
                                      const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!archive || !folder || (path_count != 0 && !paths) || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    for (std::size_t i = 0; i < path_count; ++i)
        if (!paths[i])
            return QUODREL_ERROR_ARGUMENT;
    Events events(path_count != 0 ? QUODREL_OPERATION_EXTRACT_CHOSEN : QUODREL_OPERATION_EXTRACT,
                  settings.on_event, settings.context);
    return guarded(events, [&] {
        const std::vector<std::string> chosen = chosen_paths(paths, path_count);
        return extract_archive(archive->opened, archive->opened.plan.steps, folder,
                               path_count != 0 ? &chosen : nullptr, settings.crew, events);
    });
}

quodrel_error quodrel_create(const char* folder, const char* archive_path,
                             const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!folder || !archive_path || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(QUODREL_OPERATION_CREATE, settings.on_event, settings.context);
    return guarded(events,
                   [&] { return create_archive(folder, archive_path, settings.crew, events); });
}

quodrel_error quodrel_create_listed(const quodrel_listed_entry* entries, size_t count,
                                    quodrel_read_at read_at, quodrel_write write,
                                    void* write_context, const char* name,
                                    const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if ((count != 0 && !entries) || !read_at || !write || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    for (std::size_t i = 0; i < count; ++i)
        if (!entries[i].path)
            return QUODREL_ERROR_ARGUMENT;
    Events events(QUODREL_OPERATION_CREATE, settings.on_event, settings.context);
    return guarded(events, [&] {
        return create_listed(entries, count, read_at, write, write_context, name ? name : "archive",
                             events);
    });
}

quodrel_error quodrel_create_stream(const char* folder, quodrel_write write, void* write_context,
                                    const char* name, const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!folder || !write || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(QUODREL_OPERATION_CREATE, settings.on_event, settings.context);
    return guarded(events, [&] {
        // A descriptor of the caller's takes files' bytes inside the kernel.
        if (write == quodrel_write_descriptor && write_context) {
            DescriptorSink sink(*static_cast<const int*>(write_context));
            return create_into(folder, sink, name ? name : "archive", settings.crew, events);
        }
        WriterSink sink(write, write_context);
        return create_into(folder, sink, name ? name : "archive", settings.crew, events);
    });
}

quodrel_error quodrel_compare(const quodrel_archive* archive, const char* folder,
                              const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!archive || !folder || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(QUODREL_OPERATION_COMPARE, settings.on_event, settings.context);
    return guarded(events, [&] {
        // Files are compared in the folder's order: a stream is read into a temporary file
        // first. (Calls on a stream archive run one at a time.)
        OpenArchive& opened = const_cast<quodrel_archive*>(archive)->opened;
        const quodrel_error spooled = spool_stream(opened);
        if (spooled != QUODREL_OK) {
            events.failed(spooled, platform::last_error(), opened.name);
            return spooled;
        }
        return compare_archive(opened, folder, settings.crew.threads, events);
    });
}

quodrel_error quodrel_update(const char* archive_path, const char* folder,
                             const quodrel_options* options) {
    const Settings settings = settings_of(options);
    if (!archive_path || !folder || !settings.valid)
        return QUODREL_ERROR_ARGUMENT;
    Events events(QUODREL_OPERATION_UPDATE, settings.on_event, settings.context);
    return guarded(events,
                   [&] { return update_archive(archive_path, folder, settings.crew, events); });
}

quodrel_error quodrel_list(const quodrel_archive* archive, const quodrel_options* options) {
    return walk_entries(archive, options, QUODREL_OPERATION_LIST);
}

quodrel_error quodrel_check(const quodrel_archive* archive, const quodrel_options* options) {
    return walk_entries(archive, options, QUODREL_OPERATION_CHECK);
}

int64_t quodrel_read_descriptor(void* context, void* buffer, size_t size) {
    if (!context || (!buffer && size != 0))
        return -1;
    return platform::read_some(*static_cast<const int*>(context), buffer, size);
}

int quodrel_write_descriptor(void* context, const void* data, size_t size) {
    if (!context || (!data && size != 0))
        return -1;
    if (platform::write_all(*static_cast<const int*>(context), data, size))
        return 0;
    const int error = platform::last_error();
    return error != 0 ? error : -1;
}

} // extern "C"
