// The program's key wait on its own, with the console mode it leaves behind: run
// in a terminal under Wine by key_wait.sh.
#include "app/run_command.h"

#include <cstdio>
#include <windows.h>

namespace {

long console_mode() {
    const HANDLE console =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    const bool ok = console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode);
    if (console != INVALID_HANDLE_VALUE)
        CloseHandle(console);
    return ok ? static_cast<long>(mode) : -1;
}

} // namespace

int main() {
    std::printf("mode before %lx\nwaiting\n", console_mode());
    std::fflush(stdout);
    const int key = quodrel::wait_for_key();
    std::printf("key %d mode after %lx\n", key, console_mode());
    return 0;
}
