#include "events/events.h"

namespace quodrel {

Events::Events(quodrel_operation operation, quodrel_on_event on_event, void* context)
    : operation_(operation), on_event_(on_event), context_(context) {}

quodrel_event Events::make(quodrel_event_kind kind) const {
    quodrel_event event = {};
    event.size = sizeof event;
    event.kind = kind;
    event.operation = operation_;
    event.index = QUODREL_NO_INDEX;
    event.entries_total = entries_total_;
    event.bytes_total = bytes_total_;
    return event;
}

bool Events::tell(quodrel_event& event, std::string_view path) {
    if (cancelled())
        return false;
    if (!on_event_)
        return true;
    path_.assign(path);
    event.path = path_.c_str();
    if (on_event_(context_, &event) != 0) {
        cancelled_.store(true);
        return false;
    }
    return true;
}

bool Events::begin(std::string_view archive, std::int64_t entries, std::int64_t bytes,
                   std::int64_t data_offset) {
    entries_total_ = entries;
    bytes_total_ = bytes;
    quodrel_event event = make(QUODREL_EVENT_BEGIN);
    event.data_offset = data_offset;
    return tell(event, archive);
}

bool Events::progress(std::int64_t entries_done, std::int64_t bytes_done) {
    quodrel_event event = make(QUODREL_EVENT_PROGRESS);
    event.entries_done = entries_done;
    event.bytes_done = bytes_done;
    return tell(event, std::string_view());
}

bool Events::entry(std::size_t index, std::string_view path, std::int64_t bytes) {
    quodrel_event event = make(QUODREL_EVENT_ENTRY);
    event.index = index;
    event.bytes = bytes;
    event.folder = folder_.empty() ? nullptr : folder_.c_str();
    return tell(event, path);
}

bool Events::refused(std::size_t index, std::string_view path, quodrel_refusal refusal,
                     std::int64_t bytes) {
    incomplete_ = true;
    quodrel_event event = make(QUODREL_EVENT_REFUSED);
    event.index = index;
    event.bytes = bytes;
    event.refusal = refusal;
    event.folder = folder_.empty() ? nullptr : folder_.c_str();
    return tell(event, path);
}

bool Events::failed(quodrel_error error, int system_error, std::string_view path) {
    incomplete_ = true;
    quodrel_event event = make(QUODREL_EVENT_FAILED);
    event.error = error;
    event.system_error = system_error;
    return tell(event, path);
}

bool Events::failed_entry(quodrel_error error, int system_error, std::size_t index,
                          std::string_view path, std::int64_t bytes) {
    incomplete_ = true;
    quodrel_event event = make(QUODREL_EVENT_FAILED);
    event.error = error;
    event.system_error = system_error;
    event.index = index;
    event.bytes = bytes;
    event.folder = folder_.empty() ? nullptr : folder_.c_str();
    return tell(event, path);
}

bool Events::difference(quodrel_difference kind, std::size_t index, std::string_view path,
                        std::int64_t bytes) {
    quodrel_event event = make(QUODREL_EVENT_DIFFERENCE);
    event.difference = kind;
    event.index = index;
    event.bytes = bytes;
    return tell(event, path);
}

bool Events::end(std::int64_t files, std::int64_t folders, std::int64_t bytes,
                 std::int64_t differences) {
    quodrel_event event = make(QUODREL_EVENT_END);
    event.entries_done = entries_total_;
    event.files = files;
    event.folders = folders;
    event.bytes_done = bytes;
    event.differences = differences;
    return tell(event, std::string_view());
}

bool Events::commit(std::string_view archive) {
    quodrel_event event = make(QUODREL_EVENT_COMMIT);
    return tell(event, archive);
}

quodrel_refusal refusal_of(Limit limit) {
    switch (limit) {
    case Limit::none: break;
    case Limit::name_too_long: return QUODREL_REFUSED_NAME_TOO_LONG;
    case Limit::path_too_long: return QUODREL_REFUSED_PATH_TOO_LONG;
    case Limit::file_too_large: return QUODREL_REFUSED_FILE_TOO_LARGE;
    }
    return QUODREL_WRITTEN;
}

} // namespace quodrel
