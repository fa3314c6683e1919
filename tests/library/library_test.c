/* The library through its C header alone, from C: opening a file, bytes in memory
 * and a reader; entries, refusals, finding, reading ranges from many threads;
 * extracting and creating with events, their words, and cancelling; errors as
 * values, and what each out-parameter holds then. Prints "N passed, N failed". */
#include "quodrel/quodrel.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

static void write_file(const char* path, const void* data, size_t size) {
    FILE* file = fopen(path, "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(2);
    }
}

static long file_size(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

static char* read_whole(const char* path, size_t* size) {
    FILE* file = fopen(path, "rb");
    char* bytes = malloc(1 << 20);
    *size = file ? fread(bytes, 1, 1 << 20, file) : 0;
    if (file)
        fclose(file);
    return bytes;
}

/* What an operation told: its words as the program prints them, how many events of
 * each kind, and the progress seen; it cancels at the event numbered `cancel_at`. */
struct told {
    char text[8192];
    size_t length;
    int kinds[16];
    int events;
    int cancel_at;
    int64_t last_done;
    int progress_in_order;
    int bad_index; /* an entry event whose index is not that of its path */
    int commit_before_end;
    const quodrel_archive* archive;
    int64_t begin_entries, begin_bytes, begin_offset; /* what BEGIN carried */
    int system_error;                                 /* the last FAILED event's */
};

static int collect(void* context, const quodrel_event* event) {
    struct told* told = (struct told*)context;
    char words[1024];
    const size_t n = quodrel_event_text(event, words, sizeof words);
    if (n < sizeof words && told->length + n < sizeof told->text) {
        memcpy(told->text + told->length, words, n + 1);
        told->length += n;
    }
    if (event->kind > 0 && event->kind < 16)
        ++told->kinds[event->kind];
    if (event->kind == QUODREL_EVENT_BEGIN) {
        told->begin_entries = event->entries_total;
        told->begin_bytes = event->bytes_total;
        told->begin_offset = event->data_offset;
    }
    if (event->kind == QUODREL_EVENT_FAILED)
        told->system_error = event->system_error;
    if (event->kind == QUODREL_EVENT_COMMIT && told->kinds[QUODREL_EVENT_END] == 0)
        told->commit_before_end = 1;
    if (event->kind == QUODREL_EVENT_PROGRESS) {
        if (event->entries_done < told->last_done)
            told->progress_in_order = 0;
        told->last_done = event->entries_done;
    }
    if (told->archive && event->kind == QUODREL_EVENT_ENTRY) {
        char path[512];
        quodrel_entry_path(told->archive, event->index, path, sizeof path);
        if (strcmp(path, event->path) != 0)
            told->bad_index = 1;
    }
    ++told->events;
    return told->cancel_at != 0 && told->events >= told->cancel_at;
}

static quodrel_options options_for(struct told* told, unsigned threads) {
    quodrel_options options = QUODREL_OPTIONS_INIT;
    memset(told, 0, sizeof *told);
    told->progress_in_order = 1;
    options.threads = threads;
    options.on_event = collect;
    options.context = told;
    return options;
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

/* A reader over bytes in memory, counting its calls; `fail` 1 makes every read fail,
 * 2 makes every read claim one byte more than asked, 3 fails every read that reaches
 * the byte at g_bad_byte. */
struct source {
    const char* bytes;
    size_t size;
    int calls;
    int fail;
};
static uint64_t g_bad_byte;

static int64_t read_source(void* context, void* buffer, size_t size, uint64_t offset) {
    struct source* source = (struct source*)context;
    __atomic_add_fetch(&source->calls, 1, __ATOMIC_RELAXED);
    if (source->fail == 1)
        return -1;
    if (source->fail == 2)
        return (int64_t)size + 1;
    if (source->fail == 3 && offset <= g_bad_byte && g_bad_byte - offset < size)
        return -1;
    if (offset >= source->size)
        return 0;
    if (size > source->size - offset)
        size = source->size - offset;
    memcpy(buffer, source->bytes + offset, size);
    return (int64_t)size;
}

static void test_create_open_and_read(void) {
    struct told told;
    quodrel_options options = options_for(&told, 2);
    CHECK(quodrel_create("src", "a.dat", &options) == QUODREL_OK);
    CHECK(strcmp(told.text, "Creating a.dat (4 files)\n....\nDone\n") == 0);
    CHECK(told.kinds[QUODREL_EVENT_BEGIN] == 1 && told.kinds[QUODREL_EVENT_ENTRY] == 4 &&
          told.kinds[QUODREL_EVENT_PROGRESS] == 5 && told.kinds[QUODREL_EVENT_END] == 1);
    CHECK(told.progress_in_order && told.last_done == 4);
    CHECK(told.begin_entries == 4 && told.begin_bytes == 200008 && told.begin_offset == 128);

    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("a.dat", 0, &archive) == QUODREL_OK);
    CHECK(quodrel_has_magic(archive) == 1);
    CHECK(quodrel_entry_count(archive) == 4);
    /* Archive order: big.bin, maps, maps/a#b (stored as a:b), maps/level1.map. */
    const char* paths[] = {"big.bin", "maps", "maps/a#b", "maps/level1.map"};
    char path[64];
    for (size_t i = 0; i < 4; ++i) {
        CHECK(quodrel_entry_path(archive, i, path, sizeof path) == strlen(paths[i]));
        CHECK(strcmp(path, paths[i]) == 0);
    }
    /* snprintf's contract: cut short, NUL-terminated, the whole length returned. */
    CHECK(quodrel_entry_path(archive, 3, path, 5) == 15 && strcmp(path, "maps") == 0);
    CHECK(quodrel_entry_path(archive, 3, NULL, 0) == 15);
    CHECK(quodrel_entry_is_folder(archive, 1) == 1 && quodrel_entry_is_folder(archive, 0) == 0);
    CHECK(quodrel_entry_size(archive, 0) == 200000 && quodrel_entry_size(archive, 1) == 0);
    CHECK(quodrel_entry_refusal(archive, 3) == QUODREL_WRITTEN);

    size_t index = 99;
    CHECK(quodrel_find(archive, "maps/level1.map", &index) == QUODREL_OK && index == 3);
    CHECK(quodrel_find(archive, "maps/", &index) == QUODREL_OK && index == 1);
    CHECK(quodrel_find(archive, "big.bin/", &index) == QUODREL_ERROR_NOT_FOUND &&
          index == QUODREL_NO_INDEX); /* a trailing "/" finds only a folder */
    CHECK(quodrel_find(archive, "maps/none", &index) == QUODREL_ERROR_NOT_FOUND);

    char buffer[8] = {0};
    size_t got = 0;
    CHECK(quodrel_read(archive, 3, 1, buffer, sizeof buffer, &got) == QUODREL_OK && got == 2 &&
          memcmp(buffer, "ne", 2) == 0);
    CHECK(quodrel_read(archive, 3, 3, buffer, sizeof buffer, &got) == QUODREL_OK && got == 0);
    CHECK(quodrel_read(archive, 3, 1000, buffer, sizeof buffer, &got) == QUODREL_OK && got == 0);
    CHECK(quodrel_read(archive, 1, 0, buffer, sizeof buffer, &got) == QUODREL_ERROR_NOT_A_FILE &&
          got == 0);
    uint64_t at = 9;
    CHECK(quodrel_entry_data_offset(archive, 1, &at) == QUODREL_ERROR_NOT_A_FILE && at == 0);
    CHECK(quodrel_entry_data_offset(archive, 4, &at) == QUODREL_ERROR_ARGUMENT && at == 0);
    CHECK(quodrel_entry_data_offset(archive, 3, NULL) == QUODREL_ERROR_ARGUMENT);

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
    /* -l and -t in the program's words. */
    /* BEGIN carries what the header says: the entries, the files' bytes, where the data
     * starts. */
    quodrel_error (*const walks[])(const quodrel_archive*, const quodrel_options*) = {
        quodrel_list, quodrel_check};
    for (size_t i = 0; i < 2; ++i) {
        options = options_for(&told, 1);
        CHECK(walks[i](archive, &options) == QUODREL_OK);
        CHECK(told.begin_entries == 4 && told.begin_bytes == 200008 && told.begin_offset == 128);
    }
    options = options_for(&told, 1);
    CHECK(quodrel_compare(archive, "src", &options) == QUODREL_OK);
    CHECK(told.begin_entries == 4 && told.begin_bytes == 200008 && told.begin_offset == 128);
    options = options_for(&told, 1);
    CHECK(quodrel_list(archive, &options) == QUODREL_OK);
    CHECK(strcmp(told.text, "    200000 big.bin\n         0 maps/\n         5 maps/a#b\n"
                            "         3 maps/level1.map\n3 files, 1 directories, 200008 bytes\n") ==
          0);
    options = options_for(&told, 1);
    CHECK(quodrel_check(archive, &options) == QUODREL_OK);
    CHECK(strcmp(told.text, "3 files, 1 directories, 200008 bytes\n") == 0);
    /* The archive renamed over by a new creation still reads as it was. */
    CHECK(quodrel_create("src/maps", "a.dat", NULL) == QUODREL_OK);
    CHECK(quodrel_read(archive, 3, 0, buffer, 3, &got) == QUODREL_OK && got == 3 &&
          memcmp(buffer, "one", 3) == 0);
    quodrel_close(archive);
    quodrel_close(NULL);
    CHECK(quodrel_create("src", "a.dat", NULL) == QUODREL_OK);
}

static void test_memory_and_reader(void) {
    size_t size = 0;
    char* bytes = read_whole("a.dat", &size);
    struct source source = {bytes, size, 0, 0};
    quodrel_archive* in_memory = NULL;
    quodrel_archive* by_reader = NULL;
    CHECK(quodrel_open_memory(bytes, size, "maps.dat", 0, &in_memory) == QUODREL_OK);
    CHECK(quodrel_open_reader(read_source, size, &source, NULL, 0, &by_reader) == QUODREL_OK);
    CHECK(source.calls > 0);
    char a[64], b[64];
    for (size_t i = 0; i < 4; ++i) {
        quodrel_entry_path(in_memory, i, a, sizeof a);
        quodrel_entry_path(by_reader, i, b, sizeof b);
        CHECK(strcmp(a, b) == 0);
        CHECK(quodrel_entry_size(in_memory, i) == quodrel_entry_size(by_reader, i));
    }
    /* The same reads from many threads, through the reader. */
    pthread_t threads[4];
    struct reader readers[4];
    for (int i = 0; i < 4; ++i) {
        readers[i].archive = by_reader;
        readers[i].index = 0;
        pthread_create(&threads[i], NULL, read_pieces, &readers[i]);
    }
    for (int i = 0; i < 4; ++i) {
        pthread_join(threads[i], NULL);
        CHECK(readers[i].ok);
    }
    /* Extracting from memory and from the reader gives the files; texts name the
     * archive as the caller did. */
    struct told told;
    quodrel_options options = options_for(&told, 2);
    told.archive = in_memory;
    CHECK(quodrel_extract_archive(in_memory, "from-memory", NULL, 0, &options) == QUODREL_OK);
    CHECK(strcmp(told.text, "Extracting maps.dat\n4 files, data offset 128\n....\nDone\n") == 0);
    CHECK(!told.bad_index);
    CHECK(file_size("from-memory/big.bin") == 200000);
    options = options_for(&told, 3);
    CHECK(quodrel_extract_archive(by_reader, "from-reader", NULL, 0, &options) == QUODREL_OK);
    CHECK(strncmp(told.text, "Extracting archive\n", 19) == 0);
    CHECK(file_size("from-reader/maps/level1.map") == 3);
    /* A reader that fails: nothing half-written, and the entry named. */
    source.fail = 1;
    options = options_for(&told, 1);
    CHECK(quodrel_extract_archive(by_reader, "failing", NULL, 0, &options) ==
          QUODREL_ERROR_INCOMPLETE);
    CHECK(strstr(told.text, "ERROR! Data cut short for failing/big.bin\n") != NULL);
    CHECK(file_size("failing/big.bin") == -1);
    char buffer[8];
    size_t got = 7;
    CHECK(quodrel_read(by_reader, 3, 0, buffer, sizeof buffer, &got) == QUODREL_ERROR_READ &&
          got == 0);
    quodrel_close(in_memory);
    quodrel_close(by_reader);
    /* A reader that cannot read, or says it read more than it was asked to: an archive
     * that cannot be read, not an empty one. */
    for (source.fail = 1; source.fail <= 2; ++source.fail) {
        CHECK(quodrel_open_reader(read_source, size, &source, NULL, 0, &by_reader) ==
                  QUODREL_ERROR_READ &&
              by_reader == NULL);
    }
    /* One byte of file data past the table that cannot be read: the table reads fine,
     * and only that file fails. */
    source.fail = 3;
    g_bad_byte = 128 + 1000; /* in big.bin, whose data starts where the table ends */
    CHECK(quodrel_open_reader(read_source, size, &source, NULL, 0, &by_reader) == QUODREL_OK);
    if (by_reader) {
        CHECK(quodrel_entry_count(by_reader) == 4);
        CHECK(quodrel_read(by_reader, 3, 0, buffer, 3, &got) == QUODREL_OK && got == 3 &&
              memcmp(buffer, "one", 3) == 0);
        CHECK(quodrel_read(by_reader, 0, 996, buffer, 8, &got) == QUODREL_ERROR_READ);
        quodrel_close(by_reader);
    }
    /* Bytes that are no archive: opened only when the magic is not asked for. */
    static const char zeros[16] = {0};
    CHECK(quodrel_open_memory(zeros, sizeof zeros, NULL, 0, &in_memory) == QUODREL_OK);
    CHECK(quodrel_has_magic(in_memory) == 0 && quodrel_entry_count(in_memory) == 0);
    quodrel_close(in_memory);
    CHECK(quodrel_open_memory(zeros, sizeof zeros, NULL, QUODREL_OPEN_REQUIRE_MAGIC, &in_memory) ==
              QUODREL_ERROR_NOT_AN_ARCHIVE &&
          in_memory == NULL);
    CHECK(quodrel_open_memory(bytes, 30, NULL, QUODREL_OPEN_REQUIRE_MAGIC, &in_memory) ==
          QUODREL_ERROR_TABLE_CUT_SHORT);
    free(bytes);
}

/* A hostile archive: a refused ".." folder holding "evil", a refused name that reads
 * like a path ("cfg/run.sh") before the real cfg/run.sh, and a second "x". */
static void test_hostile_and_finding(void) {
    static const unsigned char hostile[] = {
        'C', 'H', 'E', 'L', 'A', 'L', 'I', 'C', 6, 0, 0, 0, 176, 0, 0, 0,
        /* "..": a folder holding one entry */
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, '.', '.', 0, 0,
        /* "evil": 1 byte at 0 */
        0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 'e', 'v', 'i', 'l', 0, 0, 0, 0,
        /* "cfg/run.sh": 3 bytes at 1, refused */
        1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 'c', 'f', 'g', '/', 'r', 'u',
        'n', '.', 's', 'h', 0, 0,
        /* "cfg": a folder holding one entry */
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 'c', 'f', 'g', 0,
        /* "run.sh": 4 bytes at 4 */
        4, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 'r', 'u', 'n', '.', 's', 'h', 0,
        0,
        /* "cfg" again, a file: 1 byte at 8, a name clash */
        8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 'c', 'f', 'g', 0,
        /* the data */
        'E', 'B', 'A', 'D', 'G', 'O', 'O', 'D', 'X'};
    write_file("h.dat", hostile, sizeof hostile);
    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("h.dat", 0, &archive) == QUODREL_OK);
    CHECK(quodrel_entry_refusal(archive, 0) == QUODREL_REFUSED_UNSAFE_NAME);
    CHECK(quodrel_entry_refusal(archive, 1) == QUODREL_REFUSED_INSIDE);
    CHECK(quodrel_entry_refusal(archive, 2) == QUODREL_REFUSED_UNSAFE_NAME);
    CHECK(quodrel_entry_refusal(archive, 4) == QUODREL_WRITTEN);
    CHECK(quodrel_entry_refusal(archive, 5) == QUODREL_REFUSED_NAME_CLASH);
    /* Past the last entry: said, not a refusal of some entry. */
    CHECK(quodrel_entry_refusal(archive, 6) == QUODREL_NO_SUCH_ENTRY);
    CHECK(quodrel_entry_size(archive, 6) == 0 && quodrel_entry_is_folder(archive, 6) == 0);
    char path[16] = "x";
    CHECK(quodrel_entry_path(archive, 6, path, sizeof path) == 0 && path[0] == 0);
    size_t got = 5;
    char buffer[8];
    CHECK(quodrel_read(archive, 6, 0, buffer, 1, &got) == QUODREL_ERROR_ARGUMENT && got == 0);

    /* Finding a path gives what extraction writes there, never a refused entry's bytes. */
    const struct {
        const char* path;
        quodrel_error error;
        size_t index;
    } finds[] = {
        {"cfg/run.sh", QUODREL_OK, 4},          /* the real one, not the refused name */
        {"cfg", QUODREL_OK, 3},                 /* the folder, not the clashing file */
        {"cfg/", QUODREL_OK, 3},
        {"../evil", QUODREL_ERROR_REFUSED, 0},  /* told by its refused folder */
        {"..", QUODREL_ERROR_REFUSED, 0},
        {"../evil/", QUODREL_ERROR_NOT_FOUND, QUODREL_NO_INDEX}, /* a file, asked as a folder */
        {"evil", QUODREL_ERROR_NOT_FOUND, QUODREL_NO_INDEX},
    };
    for (size_t i = 0; i < sizeof finds / sizeof finds[0]; ++i) {
        size_t index = 77;
        const quodrel_error error = quodrel_find(archive, finds[i].path, &index);
        CHECK(error == finds[i].error);
        CHECK(index == finds[i].index);
        if (error != finds[i].error || index != finds[i].index)
            fprintf(stderr, "  finding %s\n", finds[i].path);
    }
    size_t index = 0;
    CHECK(quodrel_find(archive, "cfg/run.sh", &index) == QUODREL_OK &&
          quodrel_read(archive, index, 0, buffer, sizeof buffer, &got) == QUODREL_OK && got == 4 &&
          memcmp(buffer, "GOOD", 4) == 0);
    /* -t's words for it. */
    struct told told;
    quodrel_options options = options_for(&told, 1);
    CHECK(quodrel_check(archive, &options) == QUODREL_ERROR_INCOMPLETE);
    CHECK(strcmp(told.text, "ERROR! Unsafe name ..\nERROR! Unsafe name cfg/run.sh\n"
                            "ERROR! Name clash cfg\n4 files, 2 directories, 9 bytes\n") == 0);
    CHECK(told.kinds[QUODREL_EVENT_REFUSED] == 4); /* the one inside too, without words */
    quodrel_close(archive);

    options = options_for(&told, 2);
    CHECK(quodrel_extract("h.dat", "hostile", NULL, 0, &options) == QUODREL_ERROR_INCOMPLETE);
    CHECK(strcmp(told.text, "Extracting h.dat\n6 files, data offset 176\n"
                            ".ERROR! Unsafe name hostile/..\n"
                            "..ERROR! Unsafe name hostile/cfg/run.sh\n"
                            "...ERROR! Name clash hostile/cfg\n\nDone\n") == 0);
    struct stat st;
    CHECK(stat("evil", &st) != 0 && stat("hostile/cfg/run.sh", &st) == 0 && st.st_size == 4);
}

/* Data that does not lie within the archive is never read, whatever its entry. */
static void test_refused_reads(void) {
    /* One file "f" whose record says where its data is: at `offset`, `size` bytes; the
     * archive holds 4 bytes of data. */
    const struct {
        int32_t offset, size;
        quodrel_refusal refusal;
        quodrel_error read;
    } rows[] = {
        {0, 4, QUODREL_WRITTEN, QUODREL_OK},
        {1, 4, QUODREL_REFUSED_DATA_CUT_SHORT, QUODREL_ERROR_REFUSED},
        {0, 0x7fffffff, QUODREL_REFUSED_DATA_CUT_SHORT, QUODREL_ERROR_REFUSED},
        {-41, 4, QUODREL_REFUSED_DATA_OUT_OF_RANGE, QUODREL_ERROR_REFUSED},
        {0, -1, QUODREL_REFUSED_DATA_OUT_OF_RANGE, QUODREL_ERROR_REFUSED},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        unsigned char bytes[44] = {'C', 'H', 'E', 'L', 'A', 'L', 'I', 'C', 1, 0, 0, 0, 40, 0, 0, 0};
        const int32_t fields[5] = {rows[i].offset, rows[i].size, 0, 0, 4};
        for (int k = 0; k < 5; ++k)
            for (int b = 0; b < 4; ++b)
                bytes[16 + 4 * k + b] = (unsigned char)((uint32_t)fields[k] >> (8 * b));
        memcpy(bytes + 36, "f\0\0\0DATA", 8);
        quodrel_archive* archive = NULL;
        CHECK(quodrel_open_memory(bytes, sizeof bytes, NULL, 0, &archive) == QUODREL_OK);
        CHECK(quodrel_entry_refusal(archive, 0) == rows[i].refusal);
        char buffer[8] = "-------";
        size_t got = 9;
        CHECK(quodrel_read(archive, 0, 0, buffer, sizeof buffer, &got) == rows[i].read);
        CHECK(rows[i].read == QUODREL_OK ? got == 4 && memcmp(buffer, "DATA", 4) == 0
                                         : got == 0 && memcmp(buffer, "-------", 8) == 0);
        /* Where the bytes lie: given only where quodrel_read would read them. */
        uint64_t at = 9;
        CHECK(quodrel_entry_data_offset(archive, 0, &at) == rows[i].read);
        CHECK(at == (rows[i].read == QUODREL_OK ? 40 : 0));
        size_t index = 0;
        CHECK(quodrel_find(archive, "f", &index) ==
              (rows[i].read == QUODREL_OK ? QUODREL_OK : QUODREL_ERROR_REFUSED));
        quodrel_close(archive);
    }
}

static void test_errors_are_values(void) {
    quodrel_archive* archive = (quodrel_archive*)1;
    static const char cut[30] = "CHELALIC\x02";
    write_file("short.dat", cut, sizeof cut);
    CHECK(quodrel_open("short.dat", 0, &archive) == QUODREL_ERROR_TABLE_CUT_SHORT &&
          archive == NULL);
    CHECK(quodrel_open("missing.dat", 0, &archive) == QUODREL_ERROR_OPEN);
    CHECK(quodrel_open(".", 0, &archive) == QUODREL_ERROR_OPEN); /* a folder is no archive */
    CHECK(quodrel_open(NULL, 0, &archive) == QUODREL_ERROR_ARGUMENT);
    CHECK(quodrel_open_reader(NULL, 0, NULL, NULL, 0, &archive) == QUODREL_ERROR_ARGUMENT);
    CHECK(strcmp(quodrel_error_text(QUODREL_ERROR_OPEN), "cannot open") == 0);
    CHECK(strcmp(quodrel_refusal_text(QUODREL_NO_SUCH_ENTRY), "no such entry") == 0);
    CHECK(quodrel_version() == QUODREL_VERSION_NUMBER && QUODREL_VERSION_MAJOR == 2);

    /* Extraction says which failure it was, not only that something failed. */
    struct told told;
    quodrel_options options = options_for(&told, 1);
    CHECK(quodrel_extract("missing.dat", "out", NULL, 0, &options) == QUODREL_ERROR_OPEN);
    CHECK(strcmp(told.text, "ERROR! Cannot open missing.dat\n") == 0);
    options = options_for(&told, 1);
    CHECK(quodrel_extract("short.dat", "out", NULL, 0, &options) == QUODREL_ERROR_TABLE_CUT_SHORT);
    CHECK(strcmp(told.text, "Extracting short.dat\n2 files, data offset 0\n"
                            "ERROR! Entry table cut short in short.dat\n") == 0);
    write_file("in-the-way", "x", 1);
    options = options_for(&told, 1);
    CHECK(quodrel_extract("a.dat", "in-the-way", NULL, 0, &options) == QUODREL_ERROR_DESTINATION);
    CHECK(strstr(told.text, "ERROR! Cannot create in-the-way\n") != NULL);
    CHECK(quodrel_create("no-such-folder", "n.dat", NULL) == QUODREL_ERROR_OPEN);
    CHECK(file_size("n.dat") == -1);
    /* A header that says -5 entries: BEGIN tells what it says. */
    static const unsigned char negative[16] = {'C', 'H', 'E', 'L', 'A', 'L', 'I', 'C',
                                               0xfb, 0xff, 0xff, 0xff, 16, 0, 0, 0};
    CHECK(quodrel_open_memory(negative, sizeof negative, "odd", 0, &archive) == QUODREL_OK);
    options = options_for(&told, 1);
    CHECK(quodrel_list(archive, &options) == QUODREL_OK && told.begin_entries == -5 &&
          told.begin_offset == 16);
    quodrel_close(archive);
    /* An archive path that is no file: the system's reason, never a stale errno. */
    mkfifo("fifo.dat", 0600);
    mkdir("folder.dat", 0777);
    const struct {
        int update;
        const char* path;
        quodrel_error error;
        int system_error;
    } not_files[] = {
        {0, "fifo.dat", QUODREL_ERROR_CREATE, 0},
        {1, "fifo.dat", QUODREL_ERROR_OPEN, 0},
        {1, "folder.dat", QUODREL_ERROR_OPEN, EISDIR},
        {0, "folder.dat", QUODREL_ERROR_CREATE, EISDIR},
    };
    for (size_t i = 0; i < sizeof not_files / sizeof not_files[0]; ++i) {
        options = options_for(&told, 1);
        errno = EAGAIN;
        const quodrel_error error = not_files[i].update
                                        ? quodrel_update(not_files[i].path, "src", &options)
                                        : quodrel_create("src", not_files[i].path, &options);
        CHECK(error == not_files[i].error && told.system_error == not_files[i].system_error);
    }
    remove("fifo.dat");
    rmdir("folder.dat");
    /* An options struct too small to be any version's is refused, not read past. */
    options = options_for(&told, 1);
    options.size = sizeof(size_t);
    CHECK(quodrel_extract("a.dat", "out", NULL, 0, &options) == QUODREL_ERROR_ARGUMENT);
    CHECK(told.events == 0);
}

/* A thread count asked for by mistake is capped, and changes nothing. */
static void test_threads_asked_for(void) {
    struct told one, many;
    quodrel_options options = options_for(&one, 1);
    CHECK(quodrel_extract("a.dat", "one-thread", NULL, 0, &options) == QUODREL_OK);
    options = options_for(&many, UINT_MAX);
    CHECK(quodrel_extract("a.dat", "all-threads", NULL, 0, &options) == QUODREL_OK);
    CHECK(strcmp(one.text, many.text) == 0);
    CHECK(file_size("all-threads/big.bin") == 200000);
}

/* The host's handler of a signal sent to the process runs on the host's threads only,
 * never on one the library started, from its first instruction on. */
static pthread_t g_host_threads[2];
static volatile sig_atomic_t g_on_library_thread;
static volatile sig_atomic_t g_stop_sending;

static void on_signal(int signal) {
    (void)signal;
    const pthread_t self = pthread_self();
    if (!pthread_equal(self, g_host_threads[0]) && !pthread_equal(self, g_host_threads[1]))
        g_on_library_thread = 1;
}

static void* send_signals(void* unused) {
    (void)unused;
    while (!g_stop_sending) {
        kill(getpid(), SIGUSR1);
        usleep(50);
    }
    return NULL;
}

static void test_signals_stay_with_the_host(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigaction(SIGUSR1, &action, NULL);
    g_host_threads[0] = pthread_self();
    pthread_create(&g_host_threads[1], NULL, send_signals, NULL);
    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("a.dat", 0, &archive) == QUODREL_OK);
    quodrel_options options = QUODREL_OPTIONS_INIT;
    options.threads = 8;
    int extracted = 1;
    for (int run = 0; run < 40; ++run) {
        char folder[32];
        snprintf(folder, sizeof folder, "signalled%d", run);
        extracted = extracted && quodrel_extract_archive(archive, folder, NULL, 0, &options) ==
                                     QUODREL_OK;
    }
    g_stop_sending = 1;
    pthread_join(g_host_threads[1], NULL);
    quodrel_close(archive);
    signal(SIGUSR1, SIG_IGN);
    CHECK(extracted);
    CHECK(!g_on_library_thread);
}

static void test_cancelling(void) {
    /* Cancelled at its fifth event, an extraction stops there: what is written is
     * whole, nothing more is told, and no temporary file is left. */
    struct told told;
    quodrel_options options = options_for(&told, 2);
    told.cancel_at = 5;
    CHECK(quodrel_extract("a.dat", "cancelled", NULL, 0, &options) == QUODREL_ERROR_CANCELLED);
    CHECK(told.events == 5 && told.kinds[QUODREL_EVENT_END] == 0);
    const long big = file_size("cancelled/big.bin");
    CHECK(big == -1 || big == 200000);
    CHECK(system("test -z \"$(find cancelled -name '.quodrel-*')\"") == 0);
    /* A cancelled creation keeps the archive that was there. */
    const long before = file_size("a.dat");
    options = options_for(&told, 2);
    told.cancel_at = 3;
    CHECK(quodrel_create("src/maps", "a.dat", &options) == QUODREL_ERROR_CANCELLED);
    CHECK(file_size("a.dat") == before);
    CHECK(system("test -z \"$(ls -a | grep quodrel-)\"") == 0);
    /* Once the work is done, a cancel changes nothing: at an extraction's last entry,
     * at a list's totals. */
    options = options_for(&told, 2);
    told.cancel_at = 9; /* begin, then progress and entry for each of 4 entries */
    CHECK(quodrel_extract("a.dat", "done-at-last", NULL, 0, &options) == QUODREL_OK);
    CHECK(told.events == 9 && file_size("done-at-last/maps/level1.map") == 3);
    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("a.dat", 0, &archive) == QUODREL_OK);
    const struct {
        quodrel_error (*call)(const quodrel_archive*, const quodrel_options*);
        int cancel_at; /* begin, 4 entries, the totals */
    } late[] = {{quodrel_list, 6}, {quodrel_list, 5}, {quodrel_check, 6}, {quodrel_check, 5}};
    for (size_t i = 0; i < sizeof late / sizeof late[0]; ++i) {
        options = options_for(&told, 1);
        told.cancel_at = late[i].cancel_at;
        CHECK(late[i].call(archive, &options) == QUODREL_OK && told.events == late[i].cancel_at);
    }
    options = options_for(&told, 1);
    told.cancel_at = 4; /* before the last entry: cancelled */
    CHECK(quodrel_check(archive, &options) == QUODREL_ERROR_CANCELLED && told.events == 4);
    quodrel_close(archive);
}

/* Each call in a child whose open files are the standard three (and what the call
 * reads or writes, opened first) with `spare` more allowed: its result. */
enum limited_call {
    EXTRACT,
    EXTRACT_ARCHIVE,
    EXTRACT_STREAM,
    CREATE,
    CREATE_STREAM,
    COMPARE,
    UPDATE
};

static int call_with_spare(enum limited_call call, int spare) {
    const pid_t child = fork();
    if (child == 0) {
        for (int descriptor = 3; descriptor < 1024; ++descriptor)
            close(descriptor);
        quodrel_archive* archive = NULL;
        int stream = -1;
        if (call == EXTRACT_ARCHIVE || call == COMPARE)
            quodrel_open("a.dat", 0, &archive);
        if (call == EXTRACT_STREAM)
            stream = open("a.dat", O_RDONLY);
        if (call == CREATE_STREAM)
            stream = open("/dev/null", O_WRONLY);
        /* Those open take the lowest numbers: the limit is their count plus the spare. */
        int open_now = 3 + (archive != NULL) + (stream >= 0);
        struct rlimit limit = {(rlim_t)(open_now + spare), (rlim_t)(open_now + spare)};
        setrlimit(RLIMIT_NOFILE, &limit);
        quodrel_error error = QUODREL_ERROR_ARGUMENT;
        switch (call) {
        case EXTRACT: error = quodrel_extract("a.dat", "limited", NULL, 0, NULL); break;
        case EXTRACT_ARCHIVE:
            error = quodrel_extract_archive(archive, "limited", NULL, 0, NULL);
            break;
        case EXTRACT_STREAM:
            error = quodrel_extract_stream(quodrel_read_descriptor, &stream, NULL, "limited", NULL,
                                           0, NULL);
            break;
        case CREATE: error = quodrel_create("src", "limited.dat", NULL); break;
        case CREATE_STREAM:
            error = quodrel_create_stream("src", quodrel_write_descriptor, &stream, NULL, NULL);
            break;
        case COMPARE: error = quodrel_compare(archive, "src", NULL); break;
        case UPDATE: error = quodrel_update("limited.dat", "src", NULL); break;
        }
        _exit((int)error);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* QUODREL_ERROR_DESCRIPTORS below the threshold the header states for each call, with
 * nothing made; at it, the call goes through. */
static void test_too_few_descriptors(void) {
    const struct {
        enum limited_call call;
        int threshold;
    } rows[] = {{EXTRACT, 3}, {EXTRACT_ARCHIVE, 2}, {EXTRACT_STREAM, 2}, {CREATE, 3},
                {CREATE_STREAM, 3}, {COMPARE, 3}, {UPDATE, 6}};
    /* (The sanitizers check memory through a pipe of their own: with fewer than two
     * descriptors to spare they report faults that are not there.) */
    const int least = getenv("UBSAN_OPTIONS") ? 2 : 0;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        for (int spare = least; spare <= rows[i].threshold; ++spare) {
            CHECK(system("rm -rf limited limited.dat") == 0);
            if (rows[i].call == UPDATE)
                CHECK(quodrel_create("src", "limited.dat", NULL) == QUODREL_OK);
            const long before = file_size("limited.dat");
            const int error = call_with_spare(rows[i].call, spare);
            if (spare < rows[i].threshold) {
                if (error != QUODREL_ERROR_DESCRIPTORS)
                    fprintf(stderr, "call %d with %d to spare: %d\n", (int)rows[i].call, spare,
                            error);
                CHECK(error == QUODREL_ERROR_DESCRIPTORS);
                CHECK(file_size("limited") == -1 && file_size("limited.dat") == before);
                CHECK(system("test -z \"$(ls -a | grep quodrel-)\"") == 0);
            } else {
                CHECK(error == QUODREL_OK);
            }
        }
    }
    CHECK(system("rm -rf limited limited.dat") == 0);
}

/* What the output hooks are told: a `finished` with no `begin` before it on its thread
 * would have a caller remove a file that is not the operation's. */
struct hooks_seen {
    int open[64];
    int begun, finished, unmatched;
};

static void hook_begin(void* context, unsigned thread, int folder, const char* name) {
    struct hooks_seen* seen = (struct hooks_seen*)context;
    (void)folder;
    (void)name;
    ++seen->begun;
    seen->open[thread % 64] = 1;
}

static void hook_created(void* context, unsigned thread, int created) {
    struct hooks_seen* seen = (struct hooks_seen*)context;
    if (!seen->open[thread % 64])
        ++seen->unmatched;
    (void)created;
}

static void hook_finished(void* context, unsigned thread) {
    struct hooks_seen* seen = (struct hooks_seen*)context;
    ++seen->finished;
    if (!seen->open[thread % 64])
        ++seen->unmatched;
    seen->open[thread % 64] = 0;
}

static void test_output_hooks(void) {
    /* A new archive, and one over an archive already there. */
    const char* archives[] = {"hooked.dat", "hooked.dat"};
    for (size_t i = 0; i < 2; ++i) {
        struct hooks_seen seen;
        memset(&seen, 0, sizeof seen);
        quodrel_output_hooks hooks = {hook_begin, hook_created, hook_finished, &seen};
        quodrel_options options = QUODREL_OPTIONS_INIT;
        options.outputs = &hooks;
        CHECK(quodrel_create("src", archives[i], &options) == QUODREL_OK);
        CHECK(seen.unmatched == 0 && seen.begun == seen.finished);
        /* Extraction tells a begin and a finished for each new file. */
        memset(&seen, 0, sizeof seen);
        CHECK(system("rm -rf hooked") == 0);
        CHECK(quodrel_extract(archives[i], "hooked", NULL, 0, &options) == QUODREL_OK);
        CHECK(seen.unmatched == 0 && seen.begun == 3 && seen.finished == 3);
    }
    CHECK(system("rm -rf hooked hooked.dat") == 0);
}

/* An archive compared with a folder: the same, then one changed byte told as a
 * difference (and the call's value), a cancel at it, and the folder's failures. */
static void test_comparing(void) {
    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("a.dat", 0, &archive) == QUODREL_OK);
    struct told told;
    quodrel_options options = options_for(&told, 1);
    CHECK(quodrel_compare(archive, "src", &options) == QUODREL_OK);
    CHECK(strcmp(told.text, "0 differences; 3 files and 1 directories in both\n") == 0);
    CHECK(told.kinds[QUODREL_EVENT_DIFFERENCE] == 0 && told.kinds[QUODREL_EVENT_END] == 1);

    write_file("src/maps/level1.map", "two", 3);
    options = options_for(&told, 1);
    CHECK(quodrel_compare(archive, "src", &options) == QUODREL_ERROR_DIFFERENT);
    CHECK(strcmp(told.text,
                 "Differs maps/level1.map\n1 differences; 3 files and 1 directories in both\n") ==
          0);
    options = options_for(&told, 1);
    told.cancel_at = 2; /* begin, then the difference */
    CHECK(quodrel_compare(archive, "src", &options) == QUODREL_ERROR_CANCELLED);
    CHECK(told.events == 2 && told.kinds[QUODREL_EVENT_END] == 0);
    write_file("src/maps/level1.map", "one", 3);

    /* The archive is passed over in the folder as the file it is, not by its name: in
     * another folder, a file of the name it was opened by is the folder's own. */
    CHECK(chdir("src") == 0);
    write_file("a.dat", "not the archive", 15);
    options = options_for(&told, 1);
    CHECK(quodrel_compare(archive, ".", &options) == QUODREL_ERROR_DIFFERENT);
    CHECK(strstr(told.text, "Only in the folder a.dat\n") != NULL);
    CHECK(remove("a.dat") == 0 && chdir("..") == 0);

    options = options_for(&told, 1);
    CHECK(quodrel_compare(archive, "no-such-folder", &options) == QUODREL_ERROR_OPEN);
    CHECK(strcmp(told.text, "ERROR! Cannot open no-such-folder\n") == 0);
    CHECK(quodrel_compare(archive, NULL, NULL) == QUODREL_ERROR_ARGUMENT);
    CHECK(quodrel_compare(NULL, "src", NULL) == QUODREL_ERROR_ARGUMENT);
    quodrel_close(archive);
}

static int cancel_at_commit(void* context, const quodrel_event* event) {
    collect(context, event);
    return event->kind == QUODREL_EVENT_COMMIT;
}

/* A folder laid over an archive: the archive creation makes of the merged tree; a
 * cancel keeps the old archive; an unsound archive is not touched. */
static void test_updating(void) {
    mkdir("over", 0777);
    mkdir("over/maps", 0777);
    write_file("over/maps/level1.map", "ONE!", 4);
    write_file("over/new.txt", "new", 3);
    struct told told;
    quodrel_options options = options_for(&told, 2);
    CHECK(quodrel_create("src", "u.dat", &options) == QUODREL_OK);
    const long before = file_size("u.dat");
    options = options_for(&told, 2);
    told.cancel_at = 3;
    CHECK(quodrel_update("u.dat", "over", &options) == QUODREL_ERROR_CANCELLED);
    CHECK(file_size("u.dat") == before);
    /* A cancel at the commit replaces nothing. */
    options = options_for(&told, 2);
    options.on_event = cancel_at_commit;
    CHECK(quodrel_update("u.dat", "over", &options) == QUODREL_ERROR_CANCELLED);
    CHECK(file_size("u.dat") == before);
    options = options_for(&told, 2);
    CHECK(quodrel_update("u.dat", "over", &options) == QUODREL_OK);
    CHECK(strcmp(told.text, "Updating u.dat (5 files)\n.....\nDone\n") == 0);
    CHECK(told.kinds[QUODREL_EVENT_COMMIT] == 1 && told.commit_before_end);
    quodrel_archive* archive = NULL;
    CHECK(quodrel_open("u.dat", 0, &archive) == QUODREL_OK);
    size_t index = 0;
    char buffer[8];
    size_t got = 0;
    CHECK(quodrel_find(archive, "maps/level1.map", &index) == QUODREL_OK &&
          quodrel_read(archive, index, 0, buffer, sizeof buffer, &got) == QUODREL_OK &&
          got == 4 && memcmp(buffer, "ONE!", 4) == 0);
    CHECK(quodrel_find(archive, "maps/a#b", &index) == QUODREL_OK); /* kept */
    CHECK(quodrel_find(archive, "new.txt", &index) == QUODREL_OK);   /* added */
    quodrel_close(archive);
    /* Not an archive: not updated, and left as it is. */
    write_file("not.dat", "plain text", 10);
    options = options_for(&told, 1);
    CHECK(quodrel_update("not.dat", "over", &options) == QUODREL_ERROR_NOT_UPDATED);
    CHECK(strcmp(told.text, "ERROR! Not an archive not.dat\nERROR! Not updated not.dat\n") == 0);
    CHECK(file_size("not.dat") == 10);
    CHECK(quodrel_update(NULL, "over", NULL) == QUODREL_ERROR_ARGUMENT &&
          quodrel_update("u.dat", NULL, NULL) == QUODREL_ERROR_ARGUMENT);
}

/* One of two updates of one archive started on two threads at once. */
struct racer {
    const char* folder;
    pthread_barrier_t* start;
    quodrel_error result;
};

static void* race(void* argument) {
    struct racer* racer = (struct racer*)argument;
    pthread_barrier_wait(racer->start);
    racer->result = quodrel_update("race.dat", racer->folder, NULL);
    return NULL;
}

/* Two updates of one archive on two threads at once: each has its folder in the
 * archive, or was turned away with QUODREL_ERROR_LOCKED; never both done with one
 * lost. */
static void test_updates_at_once(void) {
    mkdir("one", 0777);
    mkdir("two", 0777);
    char path[64];
    for (int i = 0; i < 300; ++i) {
        snprintf(path, sizeof path, "one/a%d", i);
        write_file(path, path, strlen(path));
        snprintf(path, sizeof path, "two/b%d", i);
        write_file(path, path, strlen(path));
    }
    int turned_away = 0, lost = 0;
    for (int round = 0; round < 50; ++round) {
        CHECK(quodrel_create("src", "race.dat", NULL) == QUODREL_OK);
        pthread_barrier_t start;
        pthread_barrier_init(&start, NULL, 2);
        struct racer racers[2] = {{"one", &start, QUODREL_OK}, {"two", &start, QUODREL_OK}};
        pthread_t threads[2];
        for (int k = 0; k < 2; ++k)
            pthread_create(&threads[k], NULL, race, &racers[k]);
        for (int k = 0; k < 2; ++k)
            pthread_join(threads[k], NULL);
        pthread_barrier_destroy(&start);
        quodrel_archive* archive = NULL;
        CHECK(quodrel_open("race.dat", QUODREL_OPEN_REQUIRE_MAGIC, &archive) == QUODREL_OK);
        size_t index = 0;
        const int in[2] = {quodrel_find(archive, "a0", &index) == QUODREL_OK,
                           quodrel_find(archive, "b0", &index) == QUODREL_OK};
        quodrel_close(archive);
        for (int k = 0; k < 2; ++k) {
            CHECK(racers[k].result == QUODREL_OK || racers[k].result == QUODREL_ERROR_LOCKED);
            lost += racers[k].result == QUODREL_OK && !in[k];
            turned_away += racers[k].result == QUODREL_ERROR_LOCKED;
        }
        CHECK(racers[0].result == QUODREL_OK || racers[1].result == QUODREL_OK);
    }
    CHECK(lost == 0);
    printf("updates at once: %d of 100 turned away\n", turned_away);
}

/* A writer that keeps what it is given in memory; it fails (with 28) from its call
 * numbered `fail_at` on, when that is not 0. */
struct sink {
    char bytes[1 << 19];
    size_t size;
    int calls;
    int fail_at;
};

static int write_sink(void* context, const void* data, size_t size) {
    struct sink* sink = (struct sink*)context;
    if (sink->fail_at != 0 && ++sink->calls >= sink->fail_at)
        return 28;
    if (size > sizeof sink->bytes - sink->size)
        return 27;
    memcpy(sink->bytes + sink->size, data, size);
    sink->size += size;
    return 0;
}

static struct sink g_sink;

/* A tree listed by the caller, in an order of its own, packs into the very bytes,
 * with the very words, that creation from the same tree on disk gives. */
static void test_creating_from_a_list(void) {
    static char big[150000];
    for (size_t i = 0; i < sizeof big; ++i)
        big[i] = (char)(i * 7 % 251);
    mkdir("listed", 0777);
    mkdir("listed/maps", 0777);
    mkdir("listed/Empty", 0777);
    mkdir("listed/b", 0777);
    mkdir("listed/b/c", 0777);
    write_file("listed/maps/level1.map", "one", 3);
    write_file("listed/maps/a#b", "colon", 5);
    write_file("listed/big.bin", big, sizeof big);
    write_file("listed/zero", "", 0);
    write_file("listed/b/c/d.txt", "deep", 4);
    write_file("listed/B.txt", "upper", 5);
    struct source sources[] = {{"one", 3, 0, 0}, {"colon", 5, 0, 0}, {big, sizeof big, 0, 0},
                               {"", 0, 0, 0},    {"deep", 4, 0, 0},  {"upper", 5, 0, 0}};
    const quodrel_listed_entry entries[] = {
        {"zero", 0, 0, &sources[3]},
        {"b/c/d.txt", 0, 4, &sources[4]}, /* b and b/c are implied */
        {"maps/level1.map", 0, 3, &sources[0]},
        {"big.bin", 0, sizeof big, &sources[2]},
        {"Empty", 1, 0, NULL},
        {"maps", 1, 0, NULL}, /* listed after a path implied it */
        {"B.txt", 0, 5, &sources[5]},
        {"maps/a#b", 0, 5, &sources[1]},
    };
    const size_t count = sizeof entries / sizeof entries[0];
    struct told on_disk, listed;
    quodrel_options options = options_for(&on_disk, 2);
    CHECK(quodrel_create("listed", "l.dat", &options) == QUODREL_OK);
    size_t size = 0;
    char* expected = read_whole("l.dat", &size);
    options = options_for(&listed, 2);
    memset(&g_sink, 0, sizeof g_sink);
    CHECK(quodrel_create_listed(entries, count, read_source, write_sink, &g_sink, "l.dat",
                                &options) == QUODREL_OK);
    CHECK(g_sink.size == size && memcmp(g_sink.bytes, expected, size) == 0);
    CHECK(strcmp(listed.text, on_disk.text) == 0);
    CHECK(strcmp(listed.text, "Creating l.dat (10 files)\n..........\nDone\n") == 0);
    CHECK(listed.progress_in_order && listed.kinds[QUODREL_EVENT_ENTRY] == 10);
    free(expected);
    /* The same list in any order gives the same bytes. */
    quodrel_listed_entry reversed[sizeof entries / sizeof entries[0]];
    for (size_t i = 0; i < count; ++i)
        reversed[i] = entries[count - 1 - i];
    struct sink again;
    memset(&again, 0, sizeof again);
    CHECK(quodrel_create_listed(reversed, count, read_source, write_sink, &again, NULL, NULL) ==
          QUODREL_OK);
    CHECK(again.size == g_sink.size && memcmp(again.bytes, g_sink.bytes, again.size) == 0);
    /* What it wrote opens, its big file's bytes whole. */
    quodrel_archive* archive = NULL;
    size_t index = 0, got = 0;
    static char back[sizeof big];
    CHECK(quodrel_open_memory(g_sink.bytes, g_sink.size, NULL, QUODREL_OPEN_REQUIRE_MAGIC,
                              &archive) == QUODREL_OK &&
          quodrel_find(archive, "big.bin", &index) == QUODREL_OK &&
          quodrel_read(archive, index, 0, back, sizeof back, &got) == QUODREL_OK &&
          got == sizeof big && memcmp(back, big, sizeof big) == 0);
    CHECK(quodrel_find(archive, "b/c/d.txt", &index) == QUODREL_OK);
    quodrel_close(archive);
    /* No entries at all: the archive of an empty folder. */
    mkdir("listed-empty", 0777);
    CHECK(quodrel_create("listed-empty", "e.dat", NULL) == QUODREL_OK);
    expected = read_whole("e.dat", &size);
    memset(&again, 0, sizeof again);
    CHECK(quodrel_create_listed(NULL, 0, read_source, write_sink, &again, NULL, NULL) ==
              QUODREL_OK &&
          again.size == size && size == 16 && memcmp(again.bytes, expected, size) == 0);
    free(expected);
}

/* Names an archive cannot hold as given are refused and told, the rest packed; a name
 * past the format's limits refuses the archive, and nothing reaches the writer. */
static void test_listed_names_refused(void) {
    static char long_name[300];
    memset(long_name, 'n', 256);
    struct source file = {"data", 4, 0, 0};
    static const struct {
        const char* path;
        int is_folder;
        quodrel_refusal refusal;
    } rows[] = {
        {"a:b", 0, QUODREL_REFUSED_NAME_NOT_STORABLE},
        {"sub/back\\slash", 0, QUODREL_REFUSED_NAME_NOT_STORABLE},
        {"x/../y", 0, QUODREL_REFUSED_UNSAFE_NAME},
        {"/rooted", 0, QUODREL_REFUSED_UNSAFE_NAME},
        {"trailing/", 1, QUODREL_REFUSED_UNSAFE_NAME},
        {"", 0, QUODREL_REFUSED_UNSAFE_NAME},
        {"./here", 0, QUODREL_REFUSED_UNSAFE_NAME},
        {"kept", 0, QUODREL_REFUSED_NAME_CLASH},        /* listed twice */
        {"kept/inside", 0, QUODREL_REFUSED_NAME_CLASH}, /* a file stands where a folder must */
        {"bad:dir/in", 0, QUODREL_REFUSED_NAME_NOT_STORABLE}, /* the folder, with what is in */
        {long_name, 0, QUODREL_REFUSED_NAME_TOO_LONG},
    };
    const size_t count = sizeof rows / sizeof rows[0];
    for (size_t i = 0; i < count; ++i) {
        /* Each refused path beside a good file, and beside the good one it meets. */
        quodrel_listed_entry entries[3] = {{"kept", 0, 4, &file},
                                           {"sub/good", 0, 4, &file},
                                           {rows[i].path, rows[i].is_folder, 4, &file}};
        struct told told;
        quodrel_options options = options_for(&told, 1);
        memset(&g_sink, 0, sizeof g_sink);
        const quodrel_error result =
            quodrel_create_listed(entries, 3, read_source, write_sink, &g_sink, "r.dat", &options);
        CHECK(told.kinds[QUODREL_EVENT_REFUSED] == 1);
        char expected[400];
        snprintf(expected, sizeof expected, "%s", quodrel_refusal_text(rows[i].refusal));
        if (rows[i].refusal == QUODREL_REFUSED_NAME_TOO_LONG) {
            CHECK(result == QUODREL_ERROR_LIMIT && g_sink.size == 0 &&
                  told.kinds[QUODREL_EVENT_END] == 0);
            continue;
        }
        CHECK(result == QUODREL_ERROR_INCOMPLETE);
        quodrel_archive* archive = NULL;
        size_t index = 0;
        CHECK(quodrel_open_memory(g_sink.bytes, g_sink.size, NULL, 0, &archive) == QUODREL_OK);
        /* kept, sub, sub/good: the refused entry and anything below it left out. */
        CHECK(quodrel_entry_count(archive) == 3 &&
              quodrel_find(archive, "sub/good", &index) == QUODREL_OK &&
              !quodrel_entry_is_folder(archive, 0));
        quodrel_close(archive);
    }
    /* A file of 2 GiB or more breaks the format's limit: no archive at all. */
    const quodrel_listed_entry huge[2] = {{"kept", 0, 4, &file},
                                          {"huge", 0, (uint64_t)1 << 31, &file}};
    struct told limit;
    quodrel_options limit_options = options_for(&limit, 1);
    memset(&g_sink, 0, sizeof g_sink);
    file.calls = 0;
    CHECK(quodrel_create_listed(huge, 2, read_source, write_sink, &g_sink, "h.dat",
                                &limit_options) == QUODREL_ERROR_LIMIT &&
          g_sink.size == 0 && limit.kinds[QUODREL_EVENT_REFUSED] == 1 && file.calls == 0);
    /* A path far past the format's limit fails as the walk of such a tree fails, at
     * the first folder whose path is too long, without keeping every prefix of it
     * (80 KB of path would take gigabytes). */
    const size_t parts = 40000;
    char* deep = malloc(2 * parts + 2);
    for (size_t k = 0; k < parts; ++k)
        memcpy(deep + 2 * k, "a/", 2);
    strcpy(deep + 2 * parts, "f");
    const quodrel_listed_entry too_deep[1] = {{deep, 0, 4, &file}};
    struct told deep_told;
    quodrel_options deep_options = options_for(&deep_told, 1);
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    memset(&g_sink, 0, sizeof g_sink);
    CHECK(quodrel_create_listed(too_deep, 1, read_source, write_sink, &g_sink, "d.dat",
                                &deep_options) == QUODREL_ERROR_LIMIT &&
          g_sink.size == 0);
    getrusage(RUSAGE_SELF, &after);
    CHECK(after.ru_maxrss - before.ru_maxrss < 64 * 1024); /* KiB */
    deep[511] = '\0'; /* the first folder whose path leaves no room below it, as -c names it */
    const char* named = strstr(deep_told.text, deep);
    CHECK(strstr(deep_told.text, "Path too long") != NULL && named != NULL && named[511] == '\n');
    free(deep);
    /* The words are the program's, naming the path. */
    quodrel_listed_entry colon[1] = {{"a:b", 0, 4, &file}};
    struct told told;
    quodrel_options options = options_for(&told, 1);
    mkdir("colon", 0777);
    write_file("colon/a:b", "data", 4);
    struct told on_disk;
    quodrel_options disk_options = options_for(&on_disk, 1);
    CHECK(quodrel_create("colon", "c.dat", &disk_options) == QUODREL_ERROR_INCOMPLETE);
    memset(&g_sink, 0, sizeof g_sink);
    CHECK(quodrel_create_listed(colon, 1, read_source, write_sink, &g_sink, "c.dat", &options) ==
          QUODREL_ERROR_INCOMPLETE);
    CHECK(strstr(told.text, "a:b") != NULL && strstr(on_disk.text, "a:b") != NULL);
    size_t size = 0;
    char* expected = read_whole("c.dat", &size);
    CHECK(g_sink.size == size && memcmp(g_sink.bytes, expected, size) == 0);
    free(expected);
    CHECK(quodrel_create_listed(NULL, 1, read_source, write_sink, &g_sink, NULL, NULL) ==
              QUODREL_ERROR_ARGUMENT &&
          quodrel_create_listed(colon, 1, NULL, write_sink, &g_sink, NULL, NULL) ==
              QUODREL_ERROR_ARGUMENT &&
          quodrel_create_listed(colon, 1, read_source, NULL, &g_sink, NULL, NULL) ==
              QUODREL_ERROR_ARGUMENT);
}

/* A source that fails or gives less than it promised, or a writer that fails, ends
 * the call with its error, told; a cancel ends it where it is asked for. */
static void test_listed_sources_failing(void) {
    static char big[200000];
    memset(big, 'z', sizeof big);
    static const struct {
        size_t has;    /* what the second file's reader gives */
        int fail;      /* its read_source mode */
        int writer_at; /* the writer fails from this call on */
        int cancel_at; /* the callback cancels at this event */
        quodrel_error result;
        const char* told; /* in the words told */
    } rows[] = {
        {10, 0, 0, 0, QUODREL_ERROR_CHANGED, "ERROR! File changed while reading second"},
        {0, 0, 0, 0, QUODREL_ERROR_CHANGED, "second"},
        {20, 1, 0, 0, QUODREL_ERROR_OPEN, "second"},
        {20, 2, 0, 0, QUODREL_ERROR_OPEN, "second"},       /* more than was asked: no reader */
        {25, 0, 0, 0, QUODREL_ERROR_INCOMPLETE, "second"}, /* grew: its first 20 bytes */
        {20, 0, 1, 0, QUODREL_ERROR_WRITE, "w.dat"},
        {20, 0, 2, 0, QUODREL_ERROR_WRITE, "w.dat"}, /* after the table, in the big file */
        {20, 0, 0, 2, QUODREL_ERROR_CANCELLED, ""},
        {20, 0, 0, 5, QUODREL_ERROR_CANCELLED, ""},
        {20, 0, 0, 7, QUODREL_OK, "Done"}, /* at the totals: too late to change anything */
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        struct source first = {big, sizeof big, 0, 0};
        struct source second = {"0123456789abcdefghijklmnopqrstuvwxyz", rows[i].has, 0,
                                rows[i].fail};
        const quodrel_listed_entry entries[] = {{"first", 0, sizeof big, &first},
                                                {"second", 0, 20, &second}};
        struct told told;
        quodrel_options options = options_for(&told, 1);
        told.cancel_at = rows[i].cancel_at;
        memset(&g_sink, 0, sizeof g_sink);
        g_sink.fail_at = rows[i].writer_at;
        const quodrel_error result =
            quodrel_create_listed(entries, 2, read_source, write_sink, &g_sink, "w.dat", &options);
        CHECK(result == rows[i].result);
        if (result != rows[i].result)
            fprintf(stderr, "row %zu: %d %s\n", i, (int)result, told.text);
        CHECK(strstr(told.text, rows[i].told) != NULL);
        if (rows[i].writer_at != 0)
            CHECK(told.kinds[QUODREL_EVENT_FAILED] == 1 && told.kinds[QUODREL_EVENT_END] == 0);
        if (rows[i].cancel_at != 0 && result == QUODREL_ERROR_CANCELLED)
            CHECK(told.events == rows[i].cancel_at);
        if (result == QUODREL_OK || result == QUODREL_ERROR_INCOMPLETE) {
            quodrel_archive* archive = NULL;
            char back[32];
            size_t got = 0;
            CHECK(quodrel_open_memory(g_sink.bytes, g_sink.size, NULL, 0, &archive) == QUODREL_OK &&
                  quodrel_read(archive, 1, 0, back, sizeof back, &got) == QUODREL_OK && got == 20 &&
                  memcmp(back, second.bytes, 20) == 0);
            quodrel_close(archive);
        }
    }
}

/* Bytes that arrive in order, in pieces of odd sizes, as a pipe gives them. */
struct stream {
    const char* bytes;
    size_t size, at;
    int calls;
};

static int64_t next_piece(void* context, void* buffer, size_t size) {
    struct stream* stream = (struct stream*)context;
    size_t n = stream->size - stream->at;
    const size_t piece = 1 + (size_t)(stream->calls++ * 7919) % 9000;
    if (n > size)
        n = size;
    if (n > piece)
        n = piece;
    memcpy(buffer, stream->bytes + stream->at, n);
    stream->at += n;
    return (int64_t)n;
}

/* An archive through a pipe: packed into a writer, the very bytes of the file; opened
 * and extracted from a reader as it arrives, the table alone kept; read once, in order. */
static void test_streams(void) {
    struct told told;
    quodrel_options options = options_for(&told, 2);
    CHECK(quodrel_create("src", "s.dat", &options) == QUODREL_OK);
    size_t size = 0;
    char* file = read_whole("s.dat", &size);
    memset(&g_sink, 0, sizeof g_sink);
    options = options_for(&told, 2);
    CHECK(quodrel_create_stream("src", write_sink, &g_sink, "-", &options) == QUODREL_OK);
    CHECK(g_sink.size == size && memcmp(g_sink.bytes, file, size) == 0);
    CHECK(strncmp(told.text, "Creating - (4 files)\n", 21) == 0);
        CHECK(told.kinds[QUODREL_EVENT_COMMIT] == 0); /* nothing is put in place */
        /* Into a descriptor, from where it stands: the same bytes after what was there. */
    FILE* out = fopen("descriptor.dat", "w+b");
    CHECK(out && fwrite("before", 1, 6, out) == 6 && fflush(out) == 0);
    options = options_for(&told, 2);
    int descriptor = fileno(out);
    CHECK(quodrel_create_stream("src", quodrel_write_descriptor, &descriptor, "d", &options) ==
          QUODREL_OK);
    fclose(out);
    size_t written = 0;
    char* into = read_whole("descriptor.dat", &written);
    CHECK(written == 6 + size && memcmp(into, "before", 6) == 0 && memcmp(into + 6, file, size) == 0);
    free(into);
        CHECK(quodrel_write_descriptor(NULL, "x", 1) != 0 &&
          quodrel_read_descriptor(NULL, g_sink.bytes, 1) == -1);
    /* From a pipe, by the library's own reader: extracted as it arrives. */
    int ends[2];
    CHECK(pipe(ends) == 0);
    const pid_t writer = fork();
    if (writer == 0) {
        close(ends[0]);
        for (size_t at = 0; at < size;) {
            const ssize_t n = write(ends[1], file + at, size - at);
            if (n <= 0)
                _exit(1);
            at += (size_t)n;
        }
        _exit(0);
    }
    close(ends[1]);
    options = options_for(&told, 2);
    CHECK(quodrel_extract_stream(quodrel_read_descriptor, &ends[0], "pipe", "piped", NULL, 0,
                                 &options) == QUODREL_OK);
    close(ends[0]);
    waitpid(writer, NULL, 0);
    size_t got_big = 0;
    char* big_back = read_whole("piped/big.bin", &got_big);
    size_t there = 0;
    char* big_there = read_whole("src/big.bin", &there);
    CHECK(got_big == there && there == 200000 && memcmp(big_back, big_there, there) == 0);
    free(big_back);
    free(big_there);

    struct stream stream = {file, size, 0, 0};
    quodrel_archive* archive = NULL;
    CHECK(quodrel_open_stream(next_piece, &stream, "piped", QUODREL_OPEN_REQUIRE_MAGIC, &archive) ==
          QUODREL_OK);
    CHECK(quodrel_entry_count(archive) == 4);
    CHECK(stream.at < size); /* the table is read, not the files */
    size_t index = 0, got = 0;
    char buffer[16];
    CHECK(quodrel_find(archive, "maps/level1.map", &index) == QUODREL_OK &&
          quodrel_read(archive, index, 0, buffer, sizeof buffer, &got) == QUODREL_OK &&
          got == 3 && memcmp(buffer, "one", 3) == 0);
    /* Bytes already passed are gone (but for the first block, kept with the table). */
    CHECK(quodrel_find(archive, "big.bin", &index) == QUODREL_OK &&
          quodrel_read(archive, index, 150000, buffer, sizeof buffer, &got) ==
              QUODREL_ERROR_READ &&
          got == 0);
    quodrel_close(archive);

    /* Extracted as it arrives, as from the file. */
    stream.at = 0;
    options = options_for(&told, 2);
    CHECK(quodrel_extract_stream(next_piece, &stream, "piped", "streamed", NULL, 0, &options) ==
          QUODREL_OK);
    CHECK(strncmp(told.text, "Extracting piped\n4 files", 24) == 0);
    CHECK(file_size("streamed/big.bin") == 200000 && file_size("streamed/maps/a#b") == 5);
    /* Cut short: the files it cuts are told, and nothing of them stays. */
    struct stream cut = {file, size - 100, 0, 0};
    options = options_for(&told, 1);
    CHECK(quodrel_extract_stream(next_piece, &cut, "cut", "cut", NULL, 0, &options) ==
          QUODREL_ERROR_INCOMPLETE);
    CHECK(strstr(told.text, "ERROR! Data cut short for cut/") != NULL);
    /* Checked to its end, as a file is. */
    cut.at = 0;
    CHECK(quodrel_open_stream(next_piece, &cut, "cut", 0, &archive) == QUODREL_OK);
    options = options_for(&told, 1);
    CHECK(quodrel_check(archive, &options) == QUODREL_ERROR_INCOMPLETE);
    CHECK(told.kinds[QUODREL_EVENT_REFUSED] == 3 && cut.at == cut.size); /* all three files */
    quodrel_close(archive);
    CHECK(quodrel_open_stream(NULL, NULL, NULL, 0, &archive) == QUODREL_ERROR_ARGUMENT &&
          archive == NULL);
    CHECK(quodrel_create_stream("src", NULL, NULL, NULL, NULL) == QUODREL_ERROR_ARGUMENT);
    free(file);
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

    test_create_open_and_read();
    test_memory_and_reader();
    test_hostile_and_finding();
    test_refused_reads();
    test_errors_are_values();
    test_threads_asked_for();
    test_signals_stay_with_the_host();
    test_cancelling();
    test_comparing();
    test_too_few_descriptors();
    test_output_hooks();
    test_updating();
    test_updates_at_once();
    test_creating_from_a_list();
    test_streams();
    test_listed_names_refused();
    test_listed_sources_failing();

    if (chdir("/") == 0) {
        char command[256];
        snprintf(command, sizeof command, "rm -rf '%s'", dir);
        if (system(command) != 0)
            fprintf(stderr, "cannot remove %s\n", dir);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
