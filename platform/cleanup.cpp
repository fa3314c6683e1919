// The slots of the clean-up and the protocol around them. A slot is free, opening
// (its thread is inside the call that creates the file, so whether the file is this
// run's own is not known yet), guarded (the file is this run's and incomplete), or
// claimed (a handler is removing it). Only lock-free atomics are touched from the
// handlers, so this is safe from a signal handler.
#include "platform/cleanup.h"

#include "platform/files.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace quodrel::platform {

// What each system gives the protocol below (posix/cleanup.inc, win32/cleanup.inc,
// included at the end).
namespace cleanup {
// Installs the handlers that call sweep(); once per process.
void install_handlers();
// Removes a file from within a handler: `name` in the folder open as `folder`, or the
// path `name` when `folder` is -1.
void remove_now(int folder, const char* name);
// Whether outputs in a folder are removed by the folder's handle and their name
// (rather than by their whole path).
bool by_handle();
// Ends the process at once with `status`, from any thread.
[[noreturn]] void exit_now(int status);
// Sleeps about a millisecond from within a handler.
void nap();
// Blocks the calling thread for good: the process is about to end.
[[noreturn]] void wait_for_the_end();
// Ends the process by `signal` with its default action (POSIX only).
[[noreturn]] void end_by(int signal);
} // namespace cleanup

namespace {

enum State : int { kFree, kOpening, kGuarded, kClaimed };

constexpr std::size_t kMaxPath = 8192;

struct Slot {
    std::atomic<int> state{kFree};
    int folder = -1;     // the folder's handle the name is in, or -1: a whole path
    char name[kMaxPath]; // written only while the slot is free or the thread's own
};

Slot g_slots[kCleanupSlots];
std::atomic<int> g_pending_signal{0};
// Set first thing by a handler: from then on no thread starts another output. A
// thread announces an output (kOpening) before it looks at this, and the handler sets
// this before it looks at the slots, so one of the two always sees the other.
std::atomic<bool> g_ending{false};
std::once_flag g_installed;
// Only a program that asks for it guards its outputs: a library installs no handlers.
std::atomic<bool> g_guarding{false};

} // namespace

namespace cleanup {

// Removes every guarded output. Waits (a bounded while) for slots of other threads
// that are in the middle of creating their file.
void sweep() {
    g_ending.store(true);
    for (Slot& slot : g_slots) {
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

// For a POSIX handler on the main thread: when the main thread itself was in the
// middle of creating an output, the signal is kept for output_created to act on,
// and true is returned.
bool defer_while_main_creates(int signal) {
    if (g_slots[0].state.load() != kOpening)
        return false;
    g_pending_signal.store(signal);
    return true;
}

} // namespace cleanup

namespace {

void guard(int slot, int folder, const std::string& name) {
    if (!g_guarding.load(std::memory_order_relaxed) || name.size() >= kMaxPath)
        return; // too long to keep: left unguarded
    Slot& it = g_slots[slot];
    it.folder = folder;
    std::memcpy(it.name, name.c_str(), name.size() + 1);
    it.state.store(kOpening);
    if (g_ending.load()) {
        it.state.store(kFree); // the run is ending: this file is never made
        cleanup::wait_for_the_end();
    }
}

} // namespace

void begin_output(int slot, const std::string& path) { guard(slot, -1, path); }

void begin_output(int slot, const Folder& folder, const std::string& name) {
    if (cleanup::by_handle())
        guard(slot, folder.handle, name);
    else
        guard(slot, -1, folder.path + "/" + name);
}

void guard_outputs_on_signals() {
    std::call_once(g_installed, cleanup::install_handlers);
    g_guarding = true;
}

void end_run(int status) {
    cleanup::sweep();
    cleanup::exit_now(status);
}

void output_created(int slot, bool created) {
    Slot& it = g_slots[slot];
    if (it.state.load() != kOpening)
        return; // not guarded
    it.state.store(created ? kGuarded : kFree);
    if (const int signal = g_pending_signal.load()) {
        // The run was ended while this thread created the file: end it now.
        cleanup::sweep();
        cleanup::end_by(signal);
    }
}

void output_finished(int slot) {
    int guarded = kGuarded;
    if (g_slots[slot].state.compare_exchange_strong(guarded, kFree))
        return;
    if (g_slots[slot].state.load() == kClaimed)
        cleanup::wait_for_the_end(); // a handler is removing it as the process ends
}

} // namespace quodrel::platform

#ifdef _WIN32
#include "platform/win32/cleanup.inc"
#else
#include "platform/posix/cleanup.inc"
#endif
