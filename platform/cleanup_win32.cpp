#include "platform/cleanup.h"
#include "platform/cleanup_os.h"
#include "platform/windows_text.h"

#include <windows.h>

namespace quodrel::platform {
namespace {

// Runs on a thread of its own while the program's threads go on.
BOOL WINAPI end_of_run(DWORD) {
    cleanup::sweep(); // files are shared for deletion: gone once the process ends
    return FALSE;     // let the default handler end the process
}

} // namespace

namespace cleanup {

void install_handlers() { SetConsoleCtrlHandler(end_of_run, TRUE); }

void remove_now(const char* path) { DeleteFileW(native_path(path).c_str()); }

void nap() { Sleep(1); }

void wait_for_the_end() {
    for (;;)
        Sleep(INFINITE);
}

void end_by(int signal) { ExitProcess(128 + static_cast<UINT>(signal)); }

} // namespace cleanup

void keep_signals_from_this_thread() {} // console events come on a thread of their own

} // namespace quodrel::platform
