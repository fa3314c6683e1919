#include "platform/cleanup.h"
#include "platform/cleanup_os.h"

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace quodrel::platform {
namespace {

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void end_of_run(int signal) {
    if (cleanup::defer_while_main_creates(signal))
        return;
    cleanup::sweep();
    cleanup::end_by(signal);
}

} // namespace

namespace cleanup {

void install_handlers() {
    for (int signal : kEndingSignals) {
        struct sigaction before;
        if (sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue; // ignored when the program started (nohup, a background job): stays so
        struct sigaction action = {};
        action.sa_handler = end_of_run;
        sigemptyset(&action.sa_mask);
        for (int other : kEndingSignals)
            sigaddset(&action.sa_mask, other);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

void remove_now(const char* path) { unlink(path); }

void nap() {
    const struct timespec millisecond = {0, 1000000};
    nanosleep(&millisecond, nullptr);
}

void wait_for_the_end() {
    for (;;)
        pause();
}

void end_by(int signal) {
    // Default action, then delivered as soon as the handler (if any) returns.
    std::signal(signal, SIG_DFL);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal);
    raise(signal);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    for (;;)
        pause();
}

} // namespace cleanup

void keep_signals_from_this_thread() {
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : kEndingSignals)
        sigaddset(&ending, signal);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
}

} // namespace quodrel::platform
