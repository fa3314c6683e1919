// What the library's own threads ask of the system.
#pragma once

#include <cstdint>

namespace quodrel::platform {

// While it lives, every asynchronous signal (an interrupt, termination, a timer, a
// closed pipe) is kept from the calling thread and from every thread it starts, which
// keep that mask for good: so the host's handlers run on the host's own threads only,
// from the first instruction of a library thread on. The calling thread's own mask is
// as it was afterwards.
class SignalsKeptFromNewThreads {
public:
    SignalsKeptFromNewThreads();
    ~SignalsKeptFromNewThreads();
    SignalsKeptFromNewThreads(const SignalsKeptFromNewThreads&) = delete;
    SignalsKeptFromNewThreads& operator=(const SignalsKeptFromNewThreads&) = delete;

private:
    std::uint64_t saved_[16]; // the calling thread's mask before (a sigset_t where there is one)
};

} // namespace quodrel::platform
