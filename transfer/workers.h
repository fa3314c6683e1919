// A few threads that run numbered jobs while the caller's thread keeps the order of
// everything the user sees. With one thread there are no workers: each job runs at
// once on the caller's thread, as it is given.
#pragma once

#include "platform/sync.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace quodrel::transfer {

class Workers {
public:
    // `run(job, slot)` does job number `job` (0, 1, 2, ... in the order given) on
    // thread number `slot` (0 is the caller's; `threads` in all). At most `window`
    // jobs are under way; a job's data may live in place job % window until it is
    // reported.
    Workers(unsigned threads, std::size_t window, std::function<void(std::size_t, int)> run);
    ~Workers(); // waits for the jobs given, then ends the threads
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Makes room for one more job (when `window` jobs are under way, the oldest is
    // waited for and reported) and returns the number the next job gets: its data
    // may go into place job % window now.
    std::size_t make_room(const std::function<bool(std::size_t)>& report);

    // Hands over the next job, which covers entries [first, last) of the caller's
    // table; entries between jobs need none. Entries come in order.
    void give(std::size_t first, std::size_t last);

    // Calls `report(entry)` for every entry before `limit` not reported yet, in order,
    // each once the job that covers it is done: waiting for jobs when `wait` is set,
    // else stopping at the first one not done. Once `report` returns false, nothing
    // more is reported, now or later, and false is returned.
    bool report_until(std::size_t limit, bool wait, const std::function<bool(std::size_t)>& report);

private:
    void work(int slot);
    // Runs the next job not taken yet on the calling thread; false when none is left.
    bool run_one(int slot);
    void wait_for(std::size_t job);

    struct Given {
        std::size_t job, first, last;
    };

    std::function<void(std::size_t, int)> run_;
    std::size_t window_;
    std::unique_ptr<std::atomic<unsigned char>[]> done_; // by job number modulo the window
    std::atomic<std::size_t> given_{0};
    std::atomic<std::size_t> taken_{0};
    std::atomic<bool> stopping_{false};
    // Threads asleep: only they need a wake-up call, so a busy pool makes none.
    std::atomic<unsigned> idle_{0};
    std::atomic<bool> caller_waiting_{false};
    platform::Mutex lock_;
    platform::ConditionVariable work_ready_;
    platform::ConditionVariable job_done_;
    std::vector<platform::Thread> threads_;
    std::deque<Given> under_way_; // the caller's own record, in order
    std::size_t reported_ = 0;    // entries before this one are reported
    bool stopped_ = false;
};

} // namespace quodrel::transfer
