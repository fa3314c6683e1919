/* Prints one file of a .dat archive on standard output, through the quodrel library:
 *     print_file ARCHIVE PATH
 * Only what extraction would write at PATH is printed: an entry the archive holds
 * but extraction refuses (an unsafe name, one inside a refused folder) is not.
 * Build it with pkg-config:
 *     cc print_file.c $(pkg-config --cflags --libs quodrel) -o print_file
 * or with CMake (CMakeLists.txt beside this file: find_package(Quodrel)).
 * On Windows the library takes paths in UTF-8, as everywhere, while a program's argv
 * is in the ANSI code page (where a name with an accent is not UTF-8, and a Japanese
 * one cannot be spelled at all): so this program takes its arguments in UTF-16
 * through wmain (mingw-w64 builds it with -municode) and hands them over in UTF-8.
 * In the folder of quodrel's Windows zip, against quodrel.dll, or all static:
 *     gcc -municode -DQUODREL_SHARED -Iinclude examples/print_file/print_file.c -Llib
 *         -lquodrel -o print_file.exe
 *     gcc -municode -Iinclude examples/print_file/print_file.c -Llib -l:libquodrel.a
 *         -static -lstdc++ -lpthread -o print_file.exe */
#include <quodrel/quodrel.h>

#include <stdio.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#endif

static int print_file(const char* archive_path, const char* path) {
    quodrel_archive* archive = NULL;
    quodrel_error error = quodrel_open(archive_path, 0, &archive);
    if (error != QUODREL_OK) {
        fprintf(stderr, "%s: %s\n", archive_path, quodrel_error_text(error));
        return 1;
    }
    size_t index = 0;
    error = quodrel_find(archive, path, &index);
    if (error == QUODREL_ERROR_REFUSED)
        fprintf(stderr, "%s: %s\n", path,
                quodrel_refusal_text(quodrel_entry_refusal(archive, index)));
    char buffer[65536];
    for (uint64_t at = 0; error == QUODREL_OK;) {
        size_t got = 0;
        error = quodrel_read(archive, index, at, buffer, sizeof buffer, &got);
        if (error != QUODREL_OK || got == 0)
            break;
        if (fwrite(buffer, 1, got, stdout) != got) {
            quodrel_close(archive);
            return 1;
        }
        at += got;
    }
    quodrel_close(archive);
    if (error == QUODREL_ERROR_REFUSED)
        return 1;
    if (error != QUODREL_OK) {
        fprintf(stderr, "%s: %s\n", path, quodrel_error_text(error));
        return 1;
    }
    return 0;
}

#ifdef _WIN32
/* `text` in UTF-8, in memory of its own (free it), or NULL. */
static char* utf8_of(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char* utf8 = size > 0 ? malloc((size_t)size) : NULL;
    if (utf8 && WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, NULL, NULL) != size) {
        free(utf8);
        utf8 = NULL;
    }
    return utf8;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: %ls ARCHIVE PATH\n", argv[0]);
        return 2;
    }
    /* The file's bytes as they are: no "\r" put before each "\n". */
    _setmode(_fileno(stdout), _O_BINARY);
    char* archive_path = utf8_of(argv[1]);
    char* path = utf8_of(argv[2]);
    int status = 1;
    if (archive_path && path)
        status = print_file(archive_path, path);
    else
        fputs("print_file: out of memory\n", stderr);
    free(archive_path);
    free(path);
    return status;
}
#else
int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s ARCHIVE PATH\n", argv[0]);
        return 2;
    }
    return print_file(argv[1], argv[2]);
}
#endif
