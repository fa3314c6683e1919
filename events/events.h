// What an operation tells its caller: one quodrel_event at a time, in order, on the
// calling thread, through the caller's callback, which may cancel. Nothing is built
// when no one listens.
#pragma once

#include "archive/format.h"
#include "quodrel/quodrel.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace quodrel {

class Events {
public:
    // Tells `on_event(context, event)`; NULL tells no one.
    Events(quodrel_operation operation, quodrel_on_event on_event, void* context);
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    // The folder the caller gave that entries' paths lie below on disk (the
    // destination, the folder packed): events about entries name it.
    void set_folder(std::string folder) { folder_ = std::move(folder); }

    // Each tells one event and returns false once the caller has cancelled; from then
    // on nothing more is told.
    bool begin(std::string_view archive, std::int64_t entries, std::int64_t bytes,
               std::int64_t data_offset = 0);
    bool progress(std::int64_t entries_done, std::int64_t bytes_done);
    bool entry(std::size_t index, std::string_view path, std::int64_t bytes);
    bool refused(std::size_t index, std::string_view path, quodrel_refusal refusal,
                 std::int64_t bytes);
    // Something about a path the caller gave (the archive, a folder, a chosen path).
    bool failed(quodrel_error error, int system_error, std::string_view path);
    // Something about an entry: `index` may be QUODREL_NO_INDEX for what the tree held
    // but no archive will (a file left out).
    bool failed_entry(quodrel_error error, int system_error, std::size_t index,
                      std::string_view path, std::int64_t bytes);
    // A path where an archive and a folder differ (compare).
    bool difference(quodrel_difference kind, std::size_t index, std::string_view path,
                    std::int64_t bytes);
    bool end(std::int64_t files, std::int64_t folders, std::int64_t bytes,
             std::int64_t differences = 0);
    // The archive at `archive` is about to be put in place.
    bool commit(std::string_view archive);

    // Whether anyone listens: what only an event needs need not be made otherwise.
    bool listening() const { return on_event_ != nullptr; }

    // Whether the caller asked to stop; threads of the operation may watch it.
    bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }
    const std::atomic<bool>& cancel_flag() const { return cancelled_; }
    // Whether anything was refused, left out or not done (a REFUSED or FAILED event).
    bool incomplete() const { return incomplete_; }

private:
    quodrel_event make(quodrel_event_kind kind) const;
    bool tell(quodrel_event& event, std::string_view path);

    quodrel_operation operation_;
    quodrel_on_event on_event_;
    void* context_;
    std::string folder_;
    std::string path_; // the event's path, NUL-terminated
    std::int64_t entries_total_ = 0;
    std::int64_t bytes_total_ = 0;
    std::atomic<bool> cancelled_{false};
    bool incomplete_ = false;
};

// The refusal of an entry that breaks a limit of the format.
quodrel_refusal refusal_of(Limit limit);

} // namespace quodrel
