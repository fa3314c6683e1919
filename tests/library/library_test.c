/* The library through its C header alone, from C: opening, entries, refusals,
 * finding, reading ranges from many threads, extracting chosen entries, creating,
 * and errors as values. Prints "N passed, N failed". */
#include "quodrel/quodrel.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int passed, failed;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (condition) {                                                                           \
            ++passed;                                                                              \
        } else {                                                                                   \
            ++failed;                                                                              \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition);                         \
        }                                                                                          \
    } while (0)

static void write_file(const char* path, const char* data, size_t size) {
    FILE* file = fopen(path, "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(2);
    }
}

static char told[4096];
static void collect(void* context, const char* text, size_t length) {
    size_t* at = (size_t*)context;
    if (*at + length < sizeof told) {
        memcpy(told + *at, text, length);
        *at += length;
        told[*at] = 0;
    }
}

struct reader {
    const quodrel_archive* archive;
    size_t index;
    int ok;
};

/* Reads the big file in odd pieces and checks every byte. */
static void* read_pieces(void* argument) {
    struct reader* reader = (struct reader*)argument;
    char buffer[777];
    uint64_t at = 0;
    reader->ok = 1;
    for (;;) {
        size_t got = 0;
        if (quodrel_read(reader->archive, reader->index, at, buffer, sizeof buffer, &got) !=
            QUODREL_OK) {
            reader->ok = 0;
            break;
        }
        if (got == 0)
            break;
        for (size_t i = 0; i < got; ++i)
            if (buffer[i] != (char)('a' + (at + i) % 26))
                reader->ok = 0;
        at += got;
    }
    if (at != 200000)
        reader->ok = 0;
    return NULL;
}

int main(void) {
    char dir[] = "/tmp/quodrel-library-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 2;
    /* A tree to pack. */
    mkdir("src", 0777);
    mkdir("src/maps", 0777);
    write_file("src/maps/level1.map", "one", 3);
    write_file("src/maps/a#b", "colon", 5);
    static char big[200000];
    for (size_t i = 0; i < sizeof big; ++i)
        big[i] = (char)('a' + i % 26);
    write_file("src/big.bin", big, sizeof big);

    size_t at = 0;
    quodrel_options options;
    memset(&options, 0, sizeof options);
    options.threads = 2;
    options.on_text = collect;
    options.context = &at;
    CHECK(quodrel_create("src", "a.dat", &options) == QUODREL_OK);
    CHECK(strcmp(told, "Creating a.dat (4 files)\n....\nDone\n") == 0);

    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("a.dat", &archive) == QUODREL_OK);
    CHECK(quodrel_has_magic(archive) == 1);
    CHECK(quodrel_entry_count(archive) == 4);
    /* Archive order: big.bin, maps, maps/a#b (stored as a:b), maps/level1.map. */
    CHECK(strcmp(quodrel_entry_path(archive, 0), "big.bin") == 0);
    CHECK(strcmp(quodrel_entry_path(archive, 1), "maps") == 0);
    CHECK(strcmp(quodrel_entry_path(archive, 2), "maps/a#b") == 0);
    CHECK(quodrel_entry_path(archive, 4) == NULL);
    CHECK(quodrel_entry_is_folder(archive, 1) == 1 && quodrel_entry_is_folder(archive, 0) == 0);
    CHECK(quodrel_entry_size(archive, 0) == 200000 && quodrel_entry_size(archive, 1) == 0);
    CHECK(quodrel_entry_refusal(archive, 3) == QUODREL_WRITTEN);

    size_t index = 99;
    CHECK(quodrel_find(archive, "maps/level1.map", &index) == QUODREL_OK && index == 3);
    CHECK(quodrel_find(archive, "maps/", &index) == QUODREL_OK && index == 1);
    CHECK(quodrel_find(archive, "maps/none", &index) == QUODREL_ERROR_NOT_FOUND);

    char buffer[8] = {0};
    size_t got = 0;
    CHECK(quodrel_read(archive, 3, 1, buffer, sizeof buffer, &got) == QUODREL_OK && got == 2 &&
          memcmp(buffer, "ne", 2) == 0);
    CHECK(quodrel_read(archive, 3, 3, buffer, sizeof buffer, &got) == QUODREL_OK && got == 0);
    CHECK(quodrel_read(archive, 3, 1000, buffer, sizeof buffer, &got) == QUODREL_OK && got == 0);
    CHECK(quodrel_read(archive, 1, 0, buffer, sizeof buffer, &got) == QUODREL_ERROR_NOT_A_FILE);
    CHECK(quodrel_read(archive, 9, 0, buffer, sizeof buffer, &got) == QUODREL_ERROR_ARGUMENT);

    /* Many threads read the same file at once. */
    pthread_t threads[8];
    struct reader readers[8];
    for (int i = 0; i < 8; ++i) {
        readers[i].archive = archive;
        readers[i].index = 0;
        pthread_create(&threads[i], NULL, read_pieces, &readers[i]);
    }
    for (int i = 0; i < 8; ++i) {
        pthread_join(threads[i], NULL);
        CHECK(readers[i].ok);
    }
    /* The archive replaced meanwhile by a new creation still reads as it was. */
    CHECK(quodrel_create("src/maps", "a.dat", NULL) == QUODREL_OK);
    CHECK(quodrel_read(archive, 3, 0, buffer, 3, &got) == QUODREL_OK && got == 3 &&
          memcmp(buffer, "one", 3) == 0);
    quodrel_close(archive);
    quodrel_close(NULL);
    CHECK(quodrel_create("src", "a.dat", NULL) == QUODREL_OK);

    /* Chosen entries into a folder, with the program's texts. */
    at = 0;
    const char* chosen[] = {"maps/*.map", "nowhere"};
    CHECK(quodrel_extract("a.dat", "out", chosen, 2, &options) == QUODREL_ERROR_INCOMPLETE);
    CHECK(strcmp(told, "ERROR! Not in the archive nowhere\n1 files, 1 directories, 3 bytes\n") == 0);
    struct stat st;
    CHECK(stat("out/maps/level1.map", &st) == 0 && st.st_size == 3);
    CHECK(stat("out/big.bin", &st) != 0);

    /* A hostile archive: its refusals are told, nothing of it escapes. */
    static const unsigned char hostile[] = {
        'C', 'H', 'E', 'L', 'A', 'L', 'I', 'C', 2, 0, 0, 0, 72, 0, 0, 0,
        /* "..": a folder holding one entry */
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, '.', '.', 0, 0,
        /* "x": one byte of data */
        0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 'x', 0, 0, 0, 'X'};
    write_file("h.dat", (const char*)hostile, sizeof hostile);
    CHECK(quodrel_open("h.dat", &archive) == QUODREL_OK);
    CHECK(quodrel_entry_refusal(archive, 0) == QUODREL_REFUSED_UNSAFE_NAME);
    CHECK(quodrel_entry_refusal(archive, 1) == QUODREL_REFUSED_INSIDE);
    CHECK(strcmp(quodrel_entry_path(archive, 1), "../x") == 0);
    CHECK(strcmp(quodrel_refusal_text(QUODREL_REFUSED_UNSAFE_NAME), "unsafe name") == 0);
    quodrel_close(archive);
    CHECK(quodrel_extract("h.dat", "hostile", NULL, 0, NULL) == QUODREL_ERROR_INCOMPLETE);
    CHECK(stat("x", &st) != 0);

    /* Errors are values. */
    write_file("short.dat", (const char*)hostile, 30);
    CHECK(quodrel_open("short.dat", &archive) == QUODREL_ERROR_TABLE_CUT_SHORT && archive == NULL);
    CHECK(quodrel_open("missing.dat", &archive) == QUODREL_ERROR_OPEN);
    CHECK(quodrel_open(NULL, &archive) == QUODREL_ERROR_ARGUMENT);
    CHECK(strcmp(quodrel_error_text(QUODREL_ERROR_OPEN), "cannot open the archive") == 0);

    if (chdir("/") == 0) {
        char command[256];
        snprintf(command, sizeof command, "rm -rf '%s'", dir);
        if (system(command) != 0)
            fprintf(stderr, "cannot remove %s\n", dir);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
