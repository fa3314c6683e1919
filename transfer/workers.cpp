#include "transfer/workers.h"

#include "platform/threads.h"

namespace quodrel::transfer {
namespace {

// Takes the lock and lets it go: a thread about to sleep on a condition has then
// either seen the change or is asleep and gets the wake-up call.
void pass_through(platform::Mutex& lock) { platform::Lock hold(lock); }

} // namespace

Workers::Workers(unsigned threads, std::size_t window, std::function<void(std::size_t, int)> run)
    : run_(std::move(run)), window_(window), done_(new std::atomic<unsigned char>[window]) {
    for (std::size_t i = 0; i < window; ++i)
        done_[i] = 0;
    // The caller's thread runs jobs too while it waits: one thread fewer to start.
    // Where the system grants fewer threads, fewer do the work, down to the caller's
    // alone: the outcome is the same. Each starts with every asynchronous signal kept
    // from it, which it inherits from this thread's mask while they are started.
    const platform::SignalsKeptFromNewThreads kept;
    for (unsigned i = 1; i < threads; ++i) {
        if (!platform::start_thread(threads_, [this, i] { work(static_cast<int>(i)); }))
            break;
    }
}

Workers::~Workers() {
    // The jobs given are finished, by the caller too, before the threads end.
    while (run_one(0)) {
    }
    {
        platform::Lock hold(lock_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    for (platform::Thread& thread : threads_)
        thread.join();
}

std::size_t Workers::make_room(const std::function<bool(std::size_t)>& report) {
    if (under_way_.size() >= window_)
        report_until(under_way_.front().last, true, report);
    return given_.load();
}

void Workers::give(std::size_t first, std::size_t last) {
    const std::size_t job = given_.load();
    under_way_.push_back({job, first, last});
    done_[job % window_] = 0;
    given_.store(job + 1);
    if (threads_.empty()) {
        run_one(0); // one thread: the job runs now, as it is given
        return;
    }
    if (idle_.load() > 0) {
        pass_through(lock_);
        work_ready_.notify_one();
    }
}

bool Workers::run_one(int slot) {
    std::size_t job = taken_.load();
    do {
        if (job >= given_.load())
            return false;
    } while (!taken_.compare_exchange_weak(job, job + 1));
    run_(job, slot);
    done_[job % window_].store(1);
    if (caller_waiting_.load()) {
        pass_through(lock_);
        job_done_.notify_one();
    }
    return true;
}

void Workers::wait_for(std::size_t job) {
    // Rather than sleep, the caller's thread moves contents itself.
    while (done_[job % window_].load() == 0) {
        if (run_one(0))
            continue;
        platform::UniqueLock hold(lock_);
        caller_waiting_ = true;
        job_done_.wait(hold, [&] { return done_[job % window_].load() != 0; });
        caller_waiting_ = false;
    }
}

bool Workers::report_until(std::size_t limit, bool wait,
                           const std::function<bool(std::size_t)>& report) {
    while (!stopped_ && reported_ < limit) {
        std::size_t until = limit;
        if (!under_way_.empty() && under_way_.front().first <= reported_) {
            const Given front = under_way_.front();
            if (done_[front.job % window_].load() == 0) {
                if (!wait)
                    return true;
                wait_for(front.job);
            }
            under_way_.pop_front();
            until = front.last;
        } else if (!under_way_.empty() && under_way_.front().first < until) {
            until = under_way_.front().first;
        }
        for (; reported_ < until && !stopped_; ++reported_)
            stopped_ = !report(reported_);
    }
    return !stopped_;
}

void Workers::work(int slot) {
    for (;;) {
        if (run_one(slot))
            continue;
        platform::UniqueLock hold(lock_);
        ++idle_;
        work_ready_.wait(hold, [&] { return taken_.load() < given_.load() || stopping_.load(); });
        --idle_;
        if (taken_.load() >= given_.load() && stopping_.load())
            return;
    }
}

} // namespace quodrel::transfer
