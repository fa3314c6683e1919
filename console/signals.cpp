// The slots of the clean-up and the protocol around them. A slot is free, opening (its
// thread is inside the call that creates the file, so whether the file is this run's
// own is not known yet), guarded (the file is this run's and incomplete), or claimed (a
// handler is removing it). Only lock-free atomics are touched from the handlers, so
// this is safe from a signal handler.
#include "console/signals.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace quodrel::console {

// What each system gives the protocol below (posix/signals.inc, win32/signals.inc,
// included at the end).
namespace cleanup {
// Installs the handlers that call sweep(); once per process.
void install_handlers();
// Removes a file from within a handler: `name` in the folder open as `folder`, or the
// path `name` when `folder` is -1.
void remove_now(int folder, const char* name);
// Ends the process at once with `status`, from any thread.
[[noreturn]] void exit_now(int status);
// Sleeps about a millisecond from within a handler.
void nap();
// Blocks the calling thread for good: the process is about to end.
[[noreturn]] void wait_for_the_end();
// Ends the process by `signal` with its default action (POSIX only).
[[noreturn]] void end_by(int signal);
// Removes every guarded output (below).
void sweep();
// For a handler: when the thread it runs on was in the middle of creating an output,
// true once the signal is kept for on_created to act on (`may_return`: the handler may
// return to that thread, which a fault of the thread's own forbids); false when the
// handler is to sweep now.
bool defer_while_this_thread_creates(int signal, bool may_return);
} // namespace cleanup

namespace {

enum State : int { kFree, kOpening, kGuarded, kClaimed };

// Longer names are left unguarded (paths on Windows can be longer still).
constexpr std::size_t kMaxName = 8192;

struct Slot {
    std::atomic<int> state{kFree};
    int folder = -1;     // the folder's handle the name is in, or -1: a whole path
    char name[kMaxName]; // written only while the slot is free or the thread's own
};

// Allocated once, before the handlers that read them are installed, and never freed.
Slot* g_slots = nullptr;
unsigned g_slot_count = 0;
std::atomic<int> g_pending_signal{0};
// Set first thing by a handler: from then on no thread starts another output. A
// thread announces an output (kOpening) before it looks at this, and the handler sets
// this before it looks at the slots, so one of the two always sees the other.
std::atomic<bool> g_ending{false};
std::once_flag g_installed;
// The slot this thread announced its latest output in: a handler, which may run on any
// thread, knows by it whether its own thread was creating a file (a plain integer in
// the program's own thread-local storage, which a handler may read).
thread_local unsigned t_slot = ~0u;

void on_begin(void*, unsigned thread, int folder, const char* name) {
    const std::size_t length = std::strlen(name);
    if (thread >= g_slot_count || length >= kMaxName)
        return; // left unguarded
    Slot& it = g_slots[thread];
    it.folder = folder;
    std::memcpy(it.name, name, length + 1);
    t_slot = thread;
    it.state.store(kOpening);
    if (g_ending.load()) {
        it.state.store(kFree); // the run is ending: this file is never made
        cleanup::wait_for_the_end();
    }
}

void on_created(void*, unsigned thread, int created) {
    if (thread >= g_slot_count)
        return;
    Slot& it = g_slots[thread];
    if (it.state.load() != kOpening)
        return; // not guarded
    it.state.store(created ? kGuarded : kFree);
    if (const int signal = g_pending_signal.load()) {
        // The run was ended while this thread created the file: end it now.
        cleanup::sweep();
        cleanup::end_by(signal);
    }
}

void on_finished(void*, unsigned thread) {
    if (thread >= g_slot_count)
        return;
    int guarded = kGuarded;
    if (g_slots[thread].state.compare_exchange_strong(guarded, kFree))
        return;
    if (g_slots[thread].state.load() == kClaimed)
        cleanup::wait_for_the_end(); // a handler is removing it as the process ends
}

const quodrel_output_hooks kHooks = {on_begin, on_created, on_finished, nullptr};

} // namespace

namespace cleanup {

// Removes every guarded output. Waits (a bounded while) for slots of other threads
// that are in the middle of creating their file.
void sweep() {
    g_ending.store(true);
    for (unsigned i = 0; i < g_slot_count; ++i) {
        Slot& slot = g_slots[i];
        int state = slot.state.load();
        // Another thread is creating this file: it is done in a moment.
        for (int naps = 0; state == kOpening && naps < 2000; ++naps) {
            nap();
            state = slot.state.load();
        }
        int guarded = kGuarded;
        if (slot.state.compare_exchange_strong(guarded, kClaimed))
            remove_now(slot.folder, slot.name);
    }
}

bool defer_while_this_thread_creates(int signal, bool may_return) {
    if (t_slot >= g_slot_count || g_slots[t_slot].state.load() != kOpening)
        return false;
    if (may_return) {
        g_pending_signal.store(signal);
        return true;
    }
    // This thread never goes on to tell whether its file was made: the sweep must not
    // wait for it, and cannot tell whether what is there is this run's own.
    g_slots[t_slot].state.store(kFree);
    return false;
}

} // namespace cleanup

const quodrel_output_hooks* guard_outputs_on_signals(unsigned threads) {
    std::call_once(g_installed, [threads] {
        // One slot per thread, and one for a creation's second temporary archive.
        g_slot_count = threads + 1;
        g_slots = new Slot[g_slot_count];
        cleanup::install_handlers();
    });
    return &kHooks;
}

void end_run(int status) {
    cleanup::sweep();
    cleanup::exit_now(status);
}

} // namespace quodrel::console

#ifdef _WIN32
#include "console/win32/signals.inc"
#else
#include "console/posix/signals.inc"
#endif
