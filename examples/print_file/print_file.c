/* Prints one file of a .dat archive on standard output, through the quodrel library:
 *     print_file ARCHIVE PATH
 * Only what extraction would write at PATH is printed: an entry the archive holds
 * but extraction refuses (an unsafe name, one inside a refused folder) is not.
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
    quodrel_error error = quodrel_open(argv[1], 0, &archive);
    if (error != QUODREL_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], quodrel_error_text(error));
        return 1;
    }
    size_t index = 0;
    error = quodrel_find(archive, argv[2], &index);
    if (error == QUODREL_ERROR_REFUSED)
        fprintf(stderr, "%s: %s\n", argv[2],
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
        fprintf(stderr, "%s: %s\n", argv[2], quodrel_error_text(error));
        return 1;
    }
    return 0;
}
