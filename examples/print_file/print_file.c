/* Prints one file of a .dat archive on standard output, through the quodrel library:
 *     print_file ARCHIVE PATH
 * Build it with pkg-config:
 *     cc print_file.c $(pkg-config --cflags --libs quodrel) -o print_file
 * or with CMake (CMakeLists.txt beside this file: find_package(Quodrel)). */
#include <quodrel/quodrel.h>

#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s ARCHIVE PATH\n", argv[0]);
        return 2;
    }
    quodrel_archive* archive = NULL;
    quodrel_error error = quodrel_open(argv[1], &archive);
    size_t index = 0;
    if (error == QUODREL_OK)
        error = quodrel_find(archive, argv[2], &index);
    char buffer[65536];
    for (uint64_t at = 0; error == QUODREL_OK;) {
        size_t got = 0;
        error = quodrel_read(archive, index, at, buffer, sizeof buffer, &got);
        if (error != QUODREL_OK || got == 0)
            break;
        if (fwrite(buffer, 1, got, stdout) != got)
            return 1;
        at += got;
    }
    quodrel_close(archive);
    if (error != QUODREL_OK) {
        fprintf(stderr, "%s: %s\n", argv[2], quodrel_error_text(error));
        return 1;
    }
    return 0;
}
