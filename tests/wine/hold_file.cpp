// Holds a file open with share mode 0, as a running game holds its save, until a
// second file appears (or a minute passes): run under Wine by the Windows cases.
//   hold_file.exe FILE READY RELEASE
#include <cstdio>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const HANDLE held = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    if (FILE* ready = std::fopen(argv[2], "w"))
        std::fclose(ready);
    for (int i = 0; i < 600 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    CloseHandle(held);
    return 0;
}
