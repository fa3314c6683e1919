// Jobs that read one stream take turns: each reads after the one numbered before it has
// read, whatever thread runs it, so that the stream is read in order while the jobs'
// other work (writing files) goes on side by side. With one thread there is nothing to
// wait for: jobs run in order.
#pragma once

#include "platform/sync.h"

#include <cstddef>

namespace quodrel::transfer {

class Turns {
public:
    // Waits until job number `job` may read.
    void wait(std::size_t job) {
        platform::UniqueLock hold(lock_);
        passed_.wait(hold, [&] { return next_ == job; });
    }
    // Job number `job` has read what it reads: the next one may.
    void pass(std::size_t job) {
        {
            platform::Lock hold(lock_);
            next_ = job + 1;
        }
        passed_.notify_all();
    }

private:
    platform::Mutex lock_;
    platform::ConditionVariable passed_;
    std::size_t next_ = 0;
};

// A job's turn, had for as long as it lives or until it is passed (none without turns).
class Turn {
public:
    Turn(Turns* turns, std::size_t job) : turns_(turns), job_(job) {
        if (turns_)
            turns_->wait(job_);
    }
    ~Turn() { pass(); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    void pass() {
        if (turns_)
            turns_->pass(job_);
        turns_ = nullptr;
    }

private:
    Turns* turns_;
    std::size_t job_;
};

} // namespace quodrel::transfer
