// Writes the short (8.3) name Windows gives a file or folder, its last part only, to a
// file: run under Wine by the Windows cases, to learn the alias a long name has there.
//   short_name.exe PATH OUT
#include <cstdio>
#include <cstring>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    char alias[MAX_PATH];
    const DWORD n = GetShortPathNameA(argv[1], alias, sizeof alias);
    if (n == 0 || n >= sizeof alias)
        return 1;
    const char* last = std::strrchr(alias, '\\');
    FILE* out = std::fopen(argv[2], "wb");
    if (!out)
        return 1;
    std::fputs(last ? last + 1 : alias, out);
    return std::fclose(out) == 0 ? 0 : 1;
}
