// The threads, locks and waits the library's own threads need. Where the system runs
// one thread alone (WebAssembly for WASI), the same names stand for what one thread
// needs: a lock no one else takes, a wait that never comes (the pool gets no thread
// besides the caller's, which runs every job as it is given), a once that is a flag.
#pragma once

#if defined(__wasi__)
#define QUODREL_ONE_THREAD 1
#endif

#include <functional>
#include <vector>

#ifdef QUODREL_ONE_THREAD

namespace quodrel::platform {

struct Mutex {
    void lock() {}
    void unlock() {}
};

struct Lock {
    explicit Lock(Mutex&) {}
};

struct UniqueLock {
    explicit UniqueLock(Mutex&) {}
};

struct ConditionVariable {
    void notify_one() {}
    void notify_all() {}
    template <class Ready> void wait(UniqueLock&, Ready) {}
};

struct Thread {
    void join() {}
};

struct OnceFlag {
    bool done = false;
};

template <class Run, class... Arguments>
void call_once(OnceFlag& once, Run&& run, Arguments&&... arguments) {
    if (!once.done) {
        once.done = true;
        run(arguments...);
    }
}

// No thread can be started: the caller's does the work.
inline bool start_thread(std::vector<Thread>&, std::function<void()>) { return false; }

inline unsigned processor_count() { return 1; }

} // namespace quodrel::platform

#else

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace quodrel::platform {

using Mutex = std::mutex;
using Lock = std::lock_guard<std::mutex>;
using UniqueLock = std::unique_lock<std::mutex>;
using ConditionVariable = std::condition_variable;
using Thread = std::thread;
using OnceFlag = std::once_flag;
using std::call_once;

// Starts a thread that runs `run` into `threads`; false where the system grants none.
inline bool start_thread(std::vector<Thread>& threads, std::function<void()> run) {
    try {
        threads.emplace_back(std::move(run));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// The processor cores, 0 when the system does not tell.
inline unsigned processor_count() { return std::thread::hardware_concurrency(); }

} // namespace quodrel::platform

#endif
