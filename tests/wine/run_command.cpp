// Runs a command as Explorer runs a verb of its right-click menu: reads the command
// line a value under HKEY_CURRENT_USER holds, puts ITEM where it says %1, starts it
// with CreateProcessW (its standard handles inherited) and waits for it; exits with
// the command's exit status. Run under Wine by the installer's case (Wine's own
// ShellExecuteExW does not look up a folder's verbs: it opens the folder).
//   run_command.exe KEY VALUE [ITEM]     (VALUE "" for the key's default value)
#include <cstdio>
#include <string>
#include <windows.h>

namespace {

int wait_for(HANDLE process) {
    WaitForSingleObject(process, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process, &status);
    CloseHandle(process);
    return static_cast<int>(status);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4)
        return 126;
    wchar_t value[32768];
    DWORD size = sizeof value;
    const LSTATUS read = RegGetValueW(HKEY_CURRENT_USER, argv[1], *argv[2] ? argv[2] : nullptr,
                                      RRF_RT_REG_SZ, nullptr, value, &size);
    if (read != ERROR_SUCCESS) {
        std::fprintf(stderr, "no such value: %ld\n", static_cast<long>(read));
        return 125;
    }
    std::wstring command = value;
    if (argc == 4) {
        const std::wstring::size_type at = command.find(L"%1");
        if (at == std::wstring::npos) {
            std::fprintf(stderr, "the command has no %%1\n");
            return 125;
        }
        command.replace(at, 2, argv[3]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return 125;
    }
    CloseHandle(started.hThread);
    return wait_for(started.hProcess);
}
