// Holds a file open until a second file appears (or a minute passes): run under Wine
// by the Windows cases. With share mode 0, as a running game holds its save; with
// "lock", as a quodrel run that replaces an archive holds it (shared for reading and
// for renaming over it, one byte past its end locked).
//   hold_file.exe FILE READY RELEASE [lock]
#include <cstdio>
#include <cstring>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5)
        return 2;
    const bool lock = argc == 5 && std::strcmp(argv[4], "lock") == 0;
    const HANDLE held =
        lock ? CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
             : CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    if (lock) {
        OVERLAPPED past_the_end = {};
        past_the_end.OffsetHigh = 1u << 30; // byte 2^62
        if (!LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &past_the_end))
            return 1;
    }
    if (FILE* ready = std::fopen(argv[2], "w"))
        std::fclose(ready);
    for (int i = 0; i < 600 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    CloseHandle(held);
    return 0;
}
