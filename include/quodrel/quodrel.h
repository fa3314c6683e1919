/* Quodrel: reading, extracting and creating .dat archives from C, C++ or any
 * language that can call C.
 *
 * An archive is a 16-byte header, a table of entries (folders and files, in the
 * order of a depth-first walk) and the files' contents. Open one to look into it and
 * read its files; extract it, or some of its entries, into a folder; create one from
 * a folder. The library prints nothing and installs no signal handlers: errors are
 * return values (quodrel_error_text tells them in words), and what an operation
 * would show its user (progress dots and "ERROR! " lines, the very texts the quodrel
 * program prints) reaches the caller through a callback. It keeps no process-wide
 * state, and no C++ exception leaves it.
 *
 * Paths of entries are written as the quodrel program lists them: below the
 * archive's root, parts separated by "/", without a leading or trailing "/", and
 * with "#" where the archive holds ":" (as extraction names the files). All strings
 * are UTF-8.
 */
#ifndef QUODREL_QUODREL_H
#define QUODREL_QUODREL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(QUODREL_SHARED)
#define QUODREL_API __declspec(dllimport)
#elif defined(__GNUC__) && !defined(_WIN32)
#define QUODREL_API __attribute__((visibility("default")))
#else
#define QUODREL_API
#endif

#define QUODREL_VERSION_MAJOR 1
#define QUODREL_VERSION_MINOR 1

/* What a call can report. 0 is success. */
typedef enum quodrel_error {
    QUODREL_OK = 0,
    QUODREL_ERROR_ARGUMENT,        /* a null pointer, or an index past the last entry */
    QUODREL_ERROR_OPEN,            /* the archive cannot be opened as a file for reading */
    QUODREL_ERROR_TABLE_CUT_SHORT, /* fewer entries or names than the header promises */
    QUODREL_ERROR_BAD_NAME_LENGTH, /* a stored name length outside 0..256 */
    QUODREL_ERROR_TOO_DEEP,        /* more than 255 folders open below the root */
    QUODREL_ERROR_NO_MEMORY,       /* not enough memory */
    QUODREL_ERROR_NOT_FOUND,       /* no entry has that path */
    QUODREL_ERROR_NOT_A_FILE,      /* the entry is a folder */
    QUODREL_ERROR_REFUSED,         /* extraction refuses the entry: see quodrel_entry_refusal */
    QUODREL_ERROR_READ,            /* the archive could not be read (changed, or an I/O error) */
    QUODREL_ERROR_INCOMPLETE       /* the operation told "ERROR! " lines: not all was done */
} quodrel_error;

/* The error in a few words, in English; never NULL, valid for ever. */
QUODREL_API const char* quodrel_error_text(quodrel_error error);

/* Why extraction would not write an entry, decided from the archive alone by the
 * very rules the quodrel program follows on this system. */
typedef enum quodrel_refusal {
    QUODREL_WRITTEN = 0,               /* extraction writes it */
    QUODREL_REFUSED_UNSAFE_NAME,       /* empty, ".", "..", a separator (and, on Windows,
                                          a device name or a trailing dot or blank) */
    QUODREL_REFUSED_NAME_TOO_LONG,     /* a name of more than 255 bytes */
    QUODREL_REFUSED_PATH_TOO_LONG,     /* a path of more than 511 bytes */
    QUODREL_REFUSED_DATA_OUT_OF_RANGE, /* data before the archive's start, or a negative size */
    QUODREL_REFUSED_DATA_CUT_SHORT,    /* data past the archive's end */
    QUODREL_REFUSED_NAME_CLASH,        /* a name met before in its folder (as this system
                                          compares names) */
    QUODREL_REFUSED_INSIDE             /* inside a refused folder */
} quodrel_refusal;

/* The refusal in a few words, in English; never NULL, valid for ever. */
QUODREL_API const char* quodrel_refusal_text(quodrel_refusal refusal);

/* An open archive. */
typedef struct quodrel_archive quodrel_archive;

/* Opens the archive at `path` and reads its table; on success *archive is set and
 * must be given to quodrel_close. Any file opens as an archive; one whose table is
 * damaged does not (QUODREL_ERROR_TABLE_CUT_SHORT, _BAD_NAME_LENGTH, _TOO_DEEP). The
 * file stays open until quodrel_close: replaced meanwhile, it still reads as it was. */
QUODREL_API quodrel_error quodrel_open(const char* path, quodrel_archive** archive);

/* Closes an archive; NULL is allowed. Its entries' paths are gone with it. */
QUODREL_API void quodrel_close(quodrel_archive* archive);

/* Whether the file starts as an archive does (its magic): 1 or 0. Other files still
 * open, as odd archives, since the format never demanded the magic. */
QUODREL_API int quodrel_has_magic(const quodrel_archive* archive);

/* The number of entries, folders included. */
QUODREL_API size_t quodrel_entry_count(const quodrel_archive* archive);

/* Entry `index`'s path (see above); NULL for an index past the last. Valid until
 * the archive is closed. */
QUODREL_API const char* quodrel_entry_path(const quodrel_archive* archive, size_t index);

/* Entry `index`'s size in bytes (0 for a folder and for an index past the last). */
QUODREL_API int64_t quodrel_entry_size(const quodrel_archive* archive, size_t index);

/* Whether entry `index` is a folder (an entry of size 0): 1 or 0. */
QUODREL_API int quodrel_entry_is_folder(const quodrel_archive* archive, size_t index);

/* Whether extraction on this system would write entry `index`, and if not, why. */
QUODREL_API quodrel_refusal quodrel_entry_refusal(const quodrel_archive* archive, size_t index);

/* Finds the entry whose path is `path` (one trailing "/" allowed for a folder) and
 * sets *index. QUODREL_ERROR_NOT_FOUND when none has it. Where an archive holds one
 * path twice, the first is found. */
QUODREL_API quodrel_error quodrel_find(const quodrel_archive* archive, const char* path,
                                       size_t* index);

/* Reads up to `size` bytes of file entry `index`, from byte `offset` of the file,
 * into `buffer`, and sets *read to how many were read: fewer than `size` only at the
 * file's end (0 from its end on). Safe from many threads at once on one archive.
 * QUODREL_ERROR_NOT_A_FILE for a folder, QUODREL_ERROR_REFUSED for a file whose data
 * lies outside the archive, QUODREL_ERROR_READ when the archive cannot be read. */
QUODREL_API quodrel_error quodrel_read(const quodrel_archive* archive, size_t index,
                                       uint64_t offset, void* buffer, size_t size, size_t* read);

/* How an operation runs and whom it tells. Zero-initialise it, then set what is
 * wanted; a NULL options pointer means all defaults. */
typedef struct quodrel_options {
    /* Threads that move file contents, the calling one included: 0 means one per
     * processor core. The result never depends on it. */
    unsigned threads;
    /* Called with each piece of what the operation would show its user, in order: a
     * line (ending in "\n"), a progress dot ".", "ERROR! " lines. NULL: nothing is
     * told. Called on the calling thread only. `text` is not NUL-terminated. */
    void (*on_text)(void* context, const char* text, size_t length);
    void* context;
} quodrel_options;

/* Extracts the archive at `archive_path` into the folder `folder` (made if missing),
 * as the quodrel program's -e does, or, when `path_count` is not 0, only the entries
 * the `paths` name, as its -x does: a folder's path takes everything inside it, "*"
 * and "?" match within one part of a path, and a path equal to an entry's matches it
 * before patterns are tried. Nothing is written outside `folder`, whatever the
 * archive holds. QUODREL_ERROR_INCOMPLETE when an "ERROR! " line was told (an entry
 * refused or not written, a path that matched nothing). */
QUODREL_API quodrel_error quodrel_extract(const char* archive_path, const char* folder,
                                          const char* const* paths, size_t path_count,
                                          const quodrel_options* options);

/* Packs the tree below `folder` into a new archive at `archive_path`, as the quodrel
 * program's -c does; an existing archive there is replaced only by a complete one.
 * QUODREL_ERROR_INCOMPLETE when an "ERROR! " line was told (something left out, or
 * no archive written). */
QUODREL_API quodrel_error quodrel_create(const char* folder, const char* archive_path,
                                         const quodrel_options* options);

#ifdef __cplusplus
}
#endif

#endif /* QUODREL_QUODREL_H */
