// The console on Windows: the key wait reads CONIN$ in mode 0.
#include "platform/terminal.h"

#include "platform/console_keys.h"
#include "platform/windows_paths.h"
#include "platform/windows_text.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace quodrel::platform {
namespace {

// The console being waited on, for the handler below; only set and cleared whole by
// the waiting thread under the lock.
CRITICAL_SECTION g_lock;
HANDLE g_console = INVALID_HANDLE_VALUE;
DWORD g_saved_mode = 0;

// During the key wait Ctrl+C is a key like any other. With the console in mode 0 it
// arrives as one; where it comes as an event all the same (a console on a
// terminal), it is passed on to the wait as the key it was. Any other ending event
// puts the console mode back before the process ends.
BOOL WINAPI during_wait(DWORD event) {
    EnterCriticalSection(&g_lock);
    if (g_console != INVALID_HANDLE_VALUE && event == CTRL_C_EVENT) {
        INPUT_RECORD record = {};
        record.EventType = KEY_EVENT;
        record.Event.KeyEvent.bKeyDown = TRUE;
        record.Event.KeyEvent.wRepeatCount = 1;
        record.Event.KeyEvent.wVirtualKeyCode = 'C';
        record.Event.KeyEvent.uChar.AsciiChar = 3;
        record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
        DWORD written = 0;
        const bool passed_on = WriteConsoleInputA(g_console, &record, 1, &written) && written == 1;
        if (passed_on) {
            LeaveCriticalSection(&g_lock);
            return TRUE;
        }
    }
    if (g_console != INVALID_HANDLE_VALUE)
        SetConsoleMode(g_console, g_saved_mode);
    LeaveCriticalSection(&g_lock);
    return FALSE; // on to the next handler, then the default one
}

} // namespace

namespace {

UINT g_saved_code_page = 0; // of the console standard output writes to; 0: none changed

void restore_code_page() {
    std::fflush(stdout); // what is still buffered is shown in the code page it was written for
    if (g_saved_code_page != 0)
        SetConsoleOutputCP(g_saved_code_page);
}

BOOL WINAPI restore_code_page_on_end(DWORD) {
    std::fflush(stdout);
    restore_code_page();
    return FALSE;
}

} // namespace

std::vector<std::string> arguments(int, char**) {
    return split_command_line(to_utf8(GetCommandLineW()));
}

void prepare_standard_output() {
    // Every byte as written: "\n" stays "\n", as on every other platform.
    _setmode(_fileno(stdout), _O_BINARY);
    // The program writes UTF-8; a console shows it right only in that code page.
    // Redirected output is left alone: it gets the very bytes.
    DWORD mode;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        return;
    const UINT before = GetConsoleOutputCP();
    if (before == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8))
        return;
    g_saved_code_page = before;
    std::atexit(restore_code_page);
    SetConsoleCtrlHandler(restore_code_page_on_end, TRUE);
}

int read_console_key() {
    // The console itself, whatever standard input is redirected from.
    const HANDLE console =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return -1; // no console
    DWORD saved_mode;
    if (!GetConsoleMode(console, &saved_mode)) {
        CloseHandle(console);
        return -1;
    }
    static bool lock_ready = false;
    if (!lock_ready) {
        InitializeCriticalSection(&g_lock);
        lock_ready = true;
    }
    EnterCriticalSection(&g_lock);
    g_console = console;
    g_saved_mode = saved_mode;
    LeaveCriticalSection(&g_lock);
    SetConsoleCtrlHandler(during_wait, TRUE);
    // Mode 0: no echo, no line editing, Ctrl+C arrives as a key like any other.
    int key = -1;
    if (SetConsoleMode(console, 0)) {
        for (;;) {
            INPUT_RECORD record;
            DWORD read = 0;
            if (!ReadConsoleInputA(console, &record, 1, &read) || read == 0)
                break;
            if (record.EventType != KEY_EVENT)
                continue; // mouse, window size, focus and menu events
            const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
            const auto character = static_cast<unsigned char>(event.uChar.AsciiChar);
            if (key_ends_wait(event.bKeyDown != 0, event.wVirtualKeyCode, character)) {
                key = character != 0 ? character : 0x100 + event.wVirtualKeyCode;
                break;
            }
        }
    }
    EnterCriticalSection(&g_lock);
    SetConsoleMode(console, saved_mode);
    g_console = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&g_lock);
    SetConsoleCtrlHandler(during_wait, FALSE);
    CloseHandle(console);
    return key;
}

} // namespace quodrel::platform
