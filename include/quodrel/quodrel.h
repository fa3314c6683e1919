/* Quodrel: reading, extracting and creating .dat archives from C, C++ or any
 * language that can call C.
 *
 * An archive is a 16-byte header, a table of entries (folders and files, in the
 * order of a depth-first walk) and the files' contents. Open one (a file, bytes in
 * memory, or anything a read callback reaches) to look into it and read its files;
 * extract it, or some of its entries, into a folder; create one from a folder.
 *
 * What happens during an operation reaches the caller as events (quodrel_event, one
 * per thing that happened: an entry written, an entry refused and why, a file that
 * could not be read or written, progress), on the calling thread; the callback may
 * cancel. quodrel_event_text gives an event in the words of the quodrel program.
 *
 * The library prints nothing, installs no signal handler, changes no process-wide
 * state (no umask, no current folder, no locale, no static buffers the caller
 * shares) and lets no C++ exception out. Errors are return values. It never reads or
 * writes descriptors 0, 1 and 2 (but one the caller hands it, as to
 * quodrel_read_descriptor); it opens files of its own, so a host that has closed
 * one of those should open the null device onto it first, or a file of the library's
 * would take its number (the quodrel program does so first thing).
 *
 * Paths of entries are written as the quodrel program lists them: below the
 * archive's root, parts separated by "/", without a leading or trailing "/", and
 * with "#" where the archive holds ":" (as extraction names the files). All strings
 * are UTF-8 and NUL-terminated.
 *
 * Threads. Calls that take a `const quodrel_archive*` may run on many threads at once
 * on one archive, and alongside quodrel_extract_archive of it. quodrel_close is
 * called once per archive, when no other call on it runs; after it the archive is
 * gone. Calls on different archives are independent. Operations that move file
 * contents (extract, create) start threads of their own and end them before they
 * return; those threads block every asynchronous signal, so the host's signal
 * handlers run on the host's threads.
 *
 * Built for WebAssembly (wasm32-wasi, `make web`), the library has one thread, the
 * caller's, which does all the work, and no file system: the calls that take paths
 * fail as they do for a file that cannot be opened, while archives open from memory
 * or through a reader, and quodrel_create_listed writes them through a writer. There
 * a table too large for the memory left is told as QUODREL_ERROR_NO_MEMORY; memory
 * that runs out elsewhere ends the module, which has no other way to say so.
 */
#ifndef QUODREL_QUODREL_H
#define QUODREL_QUODREL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* On Windows, a program that links quodrel.dll (through its import library) defines
 * QUODREL_SHARED before this header; one that links the static library does not. */
#if defined(_WIN32) && defined(QUODREL_SHARED)
#define QUODREL_API __declspec(dllimport)
#elif defined(__GNUC__) && !defined(_WIN32)
#define QUODREL_API __attribute__((visibility("default")))
#else
#define QUODREL_API
#endif

/* The version of this header. Programs built against 2.x run with any 2.y, y >= x. */
#define QUODREL_VERSION_MAJOR 2
#define QUODREL_VERSION_MINOR 3
#define QUODREL_VERSION_PATCH 0
#define QUODREL_VERSION_NUMBER                                                                     \
    (QUODREL_VERSION_MAJOR * 10000 + QUODREL_VERSION_MINOR * 100 + QUODREL_VERSION_PATCH)

/* The version of the library in use, as QUODREL_VERSION_NUMBER gives it. */
QUODREL_API unsigned quodrel_version(void);

/* What a call can report. 0 is success. */
typedef enum quodrel_error {
    QUODREL_OK = 0,
    QUODREL_ERROR_ARGUMENT,        /* a null pointer, an index past the last entry, an
                                      options struct whose size is too small */
    QUODREL_ERROR_OPEN,            /* a file or folder cannot be opened for reading (the
                                      archive, the folder to pack, a file in it) */
    QUODREL_ERROR_TABLE_CUT_SHORT, /* fewer entries or names than the header promises */
    QUODREL_ERROR_BAD_NAME_LENGTH, /* a stored name length outside 0..256 */
    QUODREL_ERROR_TOO_DEEP,        /* more than 255 folders open below the root */
    QUODREL_ERROR_NO_MEMORY,       /* not enough memory */
    QUODREL_ERROR_NOT_FOUND,       /* no entry has that path */
    QUODREL_ERROR_NOT_A_FILE,      /* the entry is a folder */
    QUODREL_ERROR_REFUSED,         /* extraction refuses the entry: see quodrel_entry_refusal */
    QUODREL_ERROR_READ,            /* the archive could not be read (it shrank, or an I/O error) */
    QUODREL_ERROR_INCOMPLETE,      /* the operation went through, but something was refused,
                                      left out or not written: its events tell what */
    QUODREL_ERROR_CANCELLED,       /* the event callback asked to stop */
    QUODREL_ERROR_DESTINATION,     /* the folder to extract into cannot be made or opened */
    QUODREL_ERROR_CREATE,          /* a file cannot be created (an extracted file, the archive) */
    QUODREL_ERROR_WRITE,           /* a file could not be written in full (a full disk, say) */
    QUODREL_ERROR_CHANGED,         /* a file's length changed while it was packed */
    QUODREL_ERROR_LIMIT,           /* the tree breaks a limit of the format (a name, a path, a
                                      file or the archive too long or too large) */
    QUODREL_ERROR_NOT_AN_ARCHIVE,  /* the file does not start as an archive does (its magic),
                                      with QUODREL_OPEN_REQUIRE_MAGIC */
    QUODREL_ERROR_DESCRIPTORS,     /* too few files may be open at once (the limit on open
                                      files) for the operation to start: nothing was done */
    QUODREL_ERROR_DIFFERENT,       /* quodrel_compare: the archive and the folder differ
                                      (its events say where) */
    QUODREL_ERROR_NOT_UPDATED,     /* quodrel_update: the archive is not sound (damage, or
                                      an entry extraction refuses), so it is left as it is */
    /* Since 2.3: */
    QUODREL_ERROR_LOCKED,  /* another run is replacing the archive (it holds the
                              archive's lock): nothing was done, nothing waited for */
    QUODREL_ERROR_REPLACED /* what stands at the archive's path is no longer what stood
                              there when the operation began (another program put another
                              file there, or took it away): nothing is replaced, and the
                              new archive is kept beside it, under the name its FAILED
                              event gives */
} quodrel_error;

/* The error in a few words, in English; never NULL, valid for ever. */
QUODREL_API const char* quodrel_error_text(quodrel_error error);

/* Why extraction would not write an entry, decided from the archive alone by the
 * very rules the quodrel program follows on this system; and why creation leaves a
 * file out of an archive. */
typedef enum quodrel_refusal {
    QUODREL_WRITTEN = 0,               /* extraction writes it */
    QUODREL_REFUSED_UNSAFE_NAME,       /* empty, ".", "..", a separator (and, on Windows,
                                          a device name, a trailing dot or blank, or a
                                          character Windows holds in no name) */
    QUODREL_REFUSED_NAME_TOO_LONG,     /* a name of more than 255 bytes as stored (on
                                          Windows also one of more than 255 UTF-16 units,
                                          which Windows cannot hold) */
    QUODREL_REFUSED_PATH_TOO_LONG,     /* a path of more than 510 bytes as stored (as
                                          quodrel_entry_path writes it, where the names
                                          are UTF-8) */
    QUODREL_REFUSED_DATA_OUT_OF_RANGE, /* data before the archive's start, or a negative size */
    QUODREL_REFUSED_DATA_CUT_SHORT,    /* data past the archive's end */
    QUODREL_REFUSED_NAME_CLASH,        /* a name met before in its folder (as this system
                                          compares names; on Windows also a name of a
                                          short alias's shape, such as MYPREC~1.TXT, after
                                          a long name it may stand for) */
    QUODREL_REFUSED_INSIDE,            /* inside a refused folder */
    QUODREL_REFUSED_NAME_NOT_STORABLE, /* creation: a name holding ":" or "\", which no
                                         extraction gives back */
    QUODREL_REFUSED_FILE_TOO_LARGE,    /* creation: a file of 2 GiB or more */
    QUODREL_NO_SUCH_ENTRY              /* the index is past the last entry */
} quodrel_refusal;

/* The refusal in a few words, in English; never NULL, valid for ever. */
QUODREL_API const char* quodrel_refusal_text(quodrel_refusal refusal);

/* An entry index that names no entry (in events and from quodrel_find). */
#define QUODREL_NO_INDEX ((size_t)-1)

/* ------------------------------------------------------------------------------
 * Opening an archive
 * ---------------------------------------------------------------------------- */

/* An open archive. */
typedef struct quodrel_archive quodrel_archive;

/* Flags for the quodrel_open calls. */
#define QUODREL_OPEN_REQUIRE_MAGIC                                                                 \
    1u /* refuse a file that does not start as an archive                                          \
          does (QUODREL_ERROR_NOT_AN_ARCHIVE), before its                                          \
          table is read. Without it any file opens whose                                           \
          table reads, since the format never demanded the                                         \
          magic. */

/* Opens the archive at `path` and reads its table; on success *archive is set and
 * must be given to quodrel_close. A file whose table is damaged does not open
 * (QUODREL_ERROR_TABLE_CUT_SHORT, _BAD_NAME_LENGTH, _TOO_DEEP); one that cannot be
 * opened as a plain file for reading gives QUODREL_ERROR_OPEN (a folder, a FIFO or a
 * device never opens, and never blocks), one that cannot be read QUODREL_ERROR_READ.
 * On any failure *archive is NULL.
 *
 * The file stays open until quodrel_close. Renamed over meanwhile (a new archive
 * put in its place, as quodrel_create and most tools do), it still reads as it was.
 * Written over in place (`cp other.dat open.dat`), it reads the new bytes: reads
 * then give whatever lies at the old entries' places, and a read past the new end
 * fails with QUODREL_ERROR_READ; nothing is read outside the file either way.
 * `flags` is 0 or QUODREL_OPEN_REQUIRE_MAGIC. Texts name the archive by `path`. */
QUODREL_API quodrel_error quodrel_open(const char* path, unsigned flags, quodrel_archive** archive);

/* Opens an archive held in memory: `size` bytes at `data`, which the caller keeps
 * alive and unchanged until quodrel_close. `name` is how texts name it (NULL:
 * "archive"). Otherwise as quodrel_open. */
QUODREL_API quodrel_error quodrel_open_memory(const void* data, size_t size, const char* name,
                                              unsigned flags, quodrel_archive** archive);

/* Reads up to `size` bytes at byte `offset` of the archive into `buffer`; returns how
 * many it read (fewer only at the archive's end), or -1 when it cannot read (the
 * library then gives QUODREL_ERROR_READ: an archive whose table cannot be read does
 * not open, a file whose data cannot be read is not written). It may
 * be called from several threads at once: from the threads that call quodrel_read,
 * and from an extraction's threads (unless quodrel_options.threads is 1). */
typedef int64_t (*quodrel_read_at)(void* context, void* buffer, size_t size, uint64_t offset);

/* Opens an archive of `size` bytes that `read_at` reads (an archive inside another
 * file, a virtual file system, a browser's File object): the same checks, refusals
 * and reads as quodrel_open. `context` goes to every call of `read_at`, and must
 * stay valid until quodrel_close. `name` is how texts name it (NULL: "archive").
 * Opening reads the header, then the table up to where the header says the data
 * starts, and nothing past it: a range of file data that cannot be read fails only
 * the file it belongs to. */
QUODREL_API quodrel_error quodrel_open_reader(quodrel_read_at read_at, uint64_t size, void* context,
                                              const char* name, unsigned flags,
                                              quodrel_archive** archive);

/* Reads the next bytes of an archive that arrives in order (standard input, a pipe, a
 * socket, a download): up to `size` bytes into `buffer`; returns how many (0 only at
 * the archive's end), or -1 when it cannot read (the library then gives
 * QUODREL_ERROR_READ). Called only on the thread of the call that reads the archive,
 * or on one of the threads of an extraction of it, never on two at once. */
typedef int64_t (*quodrel_read_next)(void* context, void* buffer, size_t size);

/* A quodrel_read_next of the library's own: reads the open file or pipe whose
 * descriptor `context` points to (an int; on Windows a descriptor of the C runtime,
 * msvcrt, as _fileno gives), from where it stands; what a read that fails or is
 * interrupted leaves there is the system's. Given to quodrel_open_stream or
 * quodrel_extract_stream, it lets the library move files' bytes from a pipe into the
 * files it writes inside the kernel (Linux's splice), never through its own memory.
 * The quodrel program reads standard input so. */
/* Since 2.3. */
QUODREL_API int64_t quodrel_read_descriptor(void* context, void* buffer, size_t size);

/* Opens an archive that arrives in order through `read_next`, each byte read once, with
 * `context` given to every call (valid until quodrel_close): its header and table are
 * read now, with the checks, refusals and errors of quodrel_open (QUODREL_ERROR_READ
 * when `read_next` fails). `name` is how texts name it (NULL: "archive").
 *
 * Where every file extraction writes lies after the table, each after the one before
 * (every archive the quodrel program makes), the rest is read as it is asked for:
 * nothing but the table (and what arrived with it, at most 64 KiB more) is kept, so
 * memory stays flat whatever the files' sizes, and what lies between the files asked for
 * is read and passed over. Its files are read once, in table order: an extraction, or
 * quodrel_read of entries in table order and each from its start onward; a read of
 * bytes already passed fails (QUODREL_ERROR_READ), as does one past the stream's end
 * (extraction tells it for the entries it cuts: "Data cut short"). The archive's size is
 * not known until its end has come, so until then no entry is refused for data past the
 * end (quodrel_entry_refusal); quodrel_check reads the stream to its end first, and
 * answers as for a file. quodrel_compare, which reads files in the folder's order, reads
 * what is left of the stream into a temporary file first.
 *
 * An archive whose data lies otherwise (back in the table, overlapping, in another
 * order) is read whole now, as it arrives, into an unnamed temporary file in the
 * system's folder for temporary files (TMPDIR, else /tmp; on Windows GetTempPath), which
 * goes when it is closed or the process ends: it then reads as a file does, its size
 * known. QUODREL_ERROR_CREATE when that file cannot be made (always where there is no
 * file system, as built for WebAssembly), QUODREL_ERROR_WRITE when it cannot be written.
 *
 * Calls on an archive opened so run one at a time. On any failure *archive is NULL. */
/* Since 2.3. */
QUODREL_API quodrel_error quodrel_open_stream(quodrel_read_next read_next, void* context,
                                              const char* name, unsigned flags,
                                              quodrel_archive** archive);

/* Closes an archive: once, when no other call on it runs. NULL is allowed. */
QUODREL_API void quodrel_close(quodrel_archive* archive);

/* Whether the archive starts as an archive does (its magic): 1 or 0. */
QUODREL_API int quodrel_has_magic(const quodrel_archive* archive);

/* ------------------------------------------------------------------------------
 * Entries
 * ---------------------------------------------------------------------------- */

/* The number of entries, folders included (0 for NULL). */
QUODREL_API size_t quodrel_entry_count(const quodrel_archive* archive);

/* Writes entry `index`'s path (see above) into `buffer`, at most `size` bytes with
 * its closing NUL, as snprintf does, and returns the path's length: when that is
 * `size` or more, the path was cut short (call again with a buffer of length + 1).
 * A path extraction writes is at most 510 bytes; one it refuses can be longer. An
 * index past the last gives 0 and an empty string (as may an entry with an empty
 * name: compare the index with quodrel_entry_count). `buffer` may be NULL when
 * `size` is 0. */
QUODREL_API size_t quodrel_entry_path(const quodrel_archive* archive, size_t index, char* buffer,
                                      size_t size);

/* Entry `index`'s size in bytes as the archive stores it: 0 for a folder (and for an
 * index past the last); negative only in a damaged archive, for a file extraction
 * refuses. */
QUODREL_API int64_t quodrel_entry_size(const quodrel_archive* archive, size_t index);

/* Whether entry `index` is a folder (an entry of size 0): 1 or 0 (0 past the last). */
QUODREL_API int quodrel_entry_is_folder(const quodrel_archive* archive, size_t index);

/* Whether extraction on this system would write entry `index`, and if not, why;
 * QUODREL_NO_SUCH_ENTRY for an index past the last. */
QUODREL_API quodrel_refusal quodrel_entry_refusal(const quodrel_archive* archive, size_t index);

/* Finds the entry that extraction writes at `path` and sets *index: the same answer
 * as extraction, -p of the quodrel program and its mount give, so a refused entry
 * that happens to have the same path (a name holding "/", a second spelling) is
 * never found in place of the one written. One trailing "/" finds only a folder.
 * Paths are compared as this system compares names, as extraction decides a name
 * clash: on Windows a backslash separates as "/" does and letter case does not
 * count ("SUB\A.TXT" finds sub/a.txt); elsewhere byte for byte.
 * QUODREL_ERROR_NOT_FOUND when no entry has that path (*index is then
 * QUODREL_NO_INDEX); QUODREL_ERROR_REFUSED when extraction refuses what stands at
 * that path: *index is then the refused entry whose refusal tells why (the entry
 * itself, or the refused folder it lies in). */
QUODREL_API quodrel_error quodrel_find(const quodrel_archive* archive, const char* path,
                                       size_t* index);

/* Reads up to `size` bytes of file entry `index`, from byte `offset` of the file,
 * into `buffer`, and sets *read to how many were read: fewer than `size` only at the
 * file's end (0 from its end on). Reads by index whatever the entry's refusal (check
 * quodrel_entry_refusal, or find entries by path, to read only what extraction
 * writes), but never outside the archive. QUODREL_ERROR_NOT_A_FILE for a folder,
 * QUODREL_ERROR_REFUSED for a file whose data does not lie within the archive,
 * QUODREL_ERROR_READ when the archive cannot be read, QUODREL_ERROR_ARGUMENT for an
 * index past the last; on any error *read is 0 and the buffer's contents are
 * unspecified. */
QUODREL_API quodrel_error quodrel_read(const quodrel_archive* archive, size_t index,
                                       uint64_t offset, void* buffer, size_t size, size_t* read);

/* Where file entry `index`'s bytes lie in the archive: sets *offset to the byte of
 * the archive at which they start (quodrel_entry_size bytes run on from there, stored
 * as they are), for a caller that reads them from the archive's file itself, as a
 * mount hands a file's bytes to the kernel without copying them. The same checks
 * and errors as quodrel_read: QUODREL_ERROR_NOT_A_FILE for a folder,
 * QUODREL_ERROR_REFUSED when the bytes do not lie within the archive,
 * QUODREL_ERROR_ARGUMENT for an index past the last; on any error *offset is 0. */
QUODREL_API quodrel_error quodrel_entry_data_offset(const quodrel_archive* archive, size_t index,
                                                    uint64_t* offset);

/* ------------------------------------------------------------------------------
 * Events
 * ---------------------------------------------------------------------------- */

/* What an event tells. */
typedef enum quodrel_event_kind {
    QUODREL_EVENT_BEGIN = 1,  /* an operation starts: `path` names the archive,
                                 `entries_total` its entries (as its header says, so
                                 negative in an odd one), `bytes_total` its files'
                                 bytes, `data_offset` where its data starts */
    QUODREL_EVENT_PROGRESS,   /* `entries_done` of `entries_total` entries and
                                 `bytes_done` of `bytes_total` bytes are done: told
                                 before each entry's own event, and once more when all
                                 are done */
    QUODREL_EVENT_ENTRY,      /* entry `index` was written (extract), stored (create),
                                 or is listed (list, check): `path`, `bytes` */
    QUODREL_EVENT_REFUSED,    /* entry `path` is not written, or not stored: `refusal`
                                 says why (QUODREL_REFUSED_INSIDE for each entry inside
                                 a refused folder, which the program does not print) */
    QUODREL_EVENT_FAILED,     /* something could not be read, made or written: `error`
                                 says what, `system_error` the system's error number
                                 (errno, or GetLastError on Windows; 0 when none), `path`
                                 the file, folder or entry it concerns */
    QUODREL_EVENT_END,        /* every entry was handled: `files`, `folders` and
                                 `bytes_done` tell what was written, stored or listed
                                 (compare: what both hold, and `differences`) */
    QUODREL_EVENT_DIFFERENCE, /* compare: `path` differs as `difference` says; `index`
                                 is the archive's entry (QUODREL_NO_INDEX for what only
                                 the folder has), `bytes` its size */
    /* Since 2.3: */
    QUODREL_EVENT_COMMIT /* create, update: every entry is written, and the archive at
                            `path` is about to be put in place. A cancel here replaces
                            nothing. Once this event is told, the call's end tells whether
                            the commit happened: it did when END follows (the call returns
                            QUODREL_OK or QUODREL_ERROR_INCOMPLETE); on any other return
                            what stood at `path` stands as it was. A caller that ends its
                            process on signals (removing half-written files) holds them
                            from this event until the call returns, and then lets a
                            committed run end as a finished one; the library leaves the
                            caller's signal mask and pending signals alone. */
} quodrel_event_kind;

/* How an archive and a folder differ at one path (quodrel_compare). */
typedef enum quodrel_difference {
    QUODREL_SAME = 0,
    QUODREL_ONLY_IN_ARCHIVE, /* the archive has it (a folder: with all inside), the folder
                                has nothing there */
    QUODREL_ONLY_IN_FOLDER,  /* the folder has it (a folder: with all inside), the
                                archive nothing */
    QUODREL_DIFFERS          /* both have it: a file and a folder, or files of other
                                sizes or bytes */
} quodrel_difference;

/* The operation an event belongs to. */
typedef enum quodrel_operation {
    QUODREL_OPERATION_EXTRACT = 1,    /* quodrel_extract of all entries */
    QUODREL_OPERATION_EXTRACT_CHOSEN, /* quodrel_extract of chosen entries */
    QUODREL_OPERATION_CREATE,         /* quodrel_create */
    QUODREL_OPERATION_LIST,           /* quodrel_list */
    QUODREL_OPERATION_CHECK,          /* quodrel_check */
    QUODREL_OPERATION_COMPARE,        /* quodrel_compare */
    QUODREL_OPERATION_UPDATE          /* quodrel_update */
} quodrel_operation;

/* One event. Valid only during the callback; copy what is kept. The library may add
 * fields at the end in later versions: `size` tells how many bytes this one has. */
typedef struct quodrel_event {
    size_t size;
    quodrel_event_kind kind;
    quodrel_operation operation;
    size_t index;       /* the entry, or QUODREL_NO_INDEX when the event is about none */
    const char* path;   /* an entry's path (below `folder` when that is set), or a path
                           the caller gave (the archive, a folder, a chosen path); never
                           NULL ("" when there is none) */
    const char* folder; /* the folder the caller gave that `path` lies below on disk (the
                           destination, the folder packed), or NULL */
    int64_t bytes;      /* the entry's size, for entry events */
    quodrel_refusal refusal;
    quodrel_error error;
    int system_error;
    int64_t entries_done, entries_total;
    int64_t bytes_done, bytes_total;
    int64_t files, folders;
    int64_t data_offset;
    /* Since 2.1: */
    quodrel_difference difference; /* for a DIFFERENCE event */
    int64_t differences;           /* at the END of a compare: how many were told */
} quodrel_event;

/* Called with each event, in order, on the thread that called the operation. Return
 * 0 to go on, anything else to cancel: the operation then stops as an interrupt
 * would stop the quodrel program (no half-written file is left, an existing archive
 * is kept, files already complete stay), tells nothing more, and returns
 * QUODREL_ERROR_CANCELLED. A cancel once the work is done (at the last entry's events
 * of an extraction, a list or a check, or at the end of a creation, its archive in
 * place) changes nothing: the call returns what it would have. The callback returns: it
 * must not throw an exception or jump out of the call (longjmp), which would leave
 * the operation's threads and files behind. */
typedef int (*quodrel_on_event)(void* context, const quodrel_event* event);

/* The event in the quodrel program's own words, exactly as it prints them ("ERROR! "
 * lines, the progress dots, "Done", the totals), every name and path in it as
 * quodrel_printable gives it: writes at most `size` bytes with a closing NUL into `buffer`, as
 * snprintf does, and returns the text's whole length. Events the program prints nothing for give
 * "". `buffer` may be NULL when `size` is 0. */
QUODREL_API size_t quodrel_event_text(const quodrel_event* event, char* buffer, size_t size);

/* `name` (a name or path, from an archive, a tree or a user) as the quodrel program
 * prints every name and path: the control bytes a terminal would obey (0x01-0x1F,
 * 0x7F, and the C1 controls U+0080-U+009F in UTF-8), every byte that is no part of
 * well-formed UTF-8, and the bidirectional controls (U+061C, U+200E, U+200F,
 * U+202A-U+202E, U+2066-U+2069) escaped byte by byte as "\t", "\n", "\r" or a
 * backslash and three octal digits ("\233"); everything else as it is. (On Windows
 * the library gives a name an older program stored in the ANSI code page as the
 * UTF-8 of its characters, which stay readable.) Written as quodrel_event_text
 * writes; returns the whole length. */
QUODREL_API size_t quodrel_printable(const char* name, char* buffer, size_t size);

/* ------------------------------------------------------------------------------
 * Operations
 * ---------------------------------------------------------------------------- */

/* For a program that removes half-written files when a signal ends it, as the quodrel
 * program does: an operation tells, on the thread that writes, each file it is about
 * to create that is not complete yet, and when it is complete or gone. A caller that
 * sets none pays nothing. `thread` numbers the operation's threads (0 is the calling
 * thread) and is below the operation's thread count plus one (the one more is a
 * creation's second temporary archive, on the calling thread); calls for one `thread`
 * never overlap. */
typedef struct quodrel_output_hooks {
    /* Before the file is created: `folder` is an open descriptor of the folder it is
     * made in and `name` its name there (POSIX), or `folder` is -1 and `name` a whole
     * path in the form the system's own calls take (Windows; a temporary archive). */
    void (*begin)(void* context, unsigned thread, int folder, const char* name);
    /* Right after the call that creates it: `created` is 1 when the file now exists and
     * is this operation's own (`finished` follows), 0 when there is nothing to remove
     * (nothing more is told of it; a file replaced is told again under its temporary
     * name). */
    void (*created)(void* context, unsigned thread, int created);
    /* The file is complete, or the library removed it itself: nothing to remove. */
    void (*finished)(void* context, unsigned thread);
    void* context;
} quodrel_output_hooks;

/* How an operation runs and whom it tells. Start from QUODREL_OPTIONS_INIT (or set
 * `size` to sizeof (quodrel_options) and the rest to zero), then set what is wanted;
 * fields later versions add are read only when `size` covers them. A NULL options
 * pointer means all defaults. */
typedef struct quodrel_options {
    size_t size;
    /* Threads that move file contents, the calling one included: 0 means one per
     * processor core; at most 1024 are used. The result never depends on it. */
    unsigned threads;
    /* Told every event (NULL: nothing is told), with `context`. */
    quodrel_on_event on_event;
    void* context;
    /* NULL, or the hooks above (kept valid for the call's duration). */
    const quodrel_output_hooks* outputs;
} quodrel_options;

/* (laid out by hand: versions of the formatter disagree on it) */
/* clang-format off */
#define QUODREL_OPTIONS_INIT { sizeof(quodrel_options), 0, NULL, NULL, NULL }
/* clang-format on */

/* Sets *options to what QUODREL_OPTIONS_INIT gives, for callers that cannot use C's
 * macros (a foreign function interface): `size` as this header's, the rest zero.
 * NULL is allowed and does nothing. */
/* Since 2.3. */
QUODREL_API void quodrel_options_init(quodrel_options* options);

/* Extracts the archive at `archive_path` into the folder `folder` (made if missing,
 * a single level; "" means the current folder), as the quodrel program's -e does, or,
 * when `path_count` is not 0, only the entries the `paths` name, as its -x does: a
 * folder's path takes everything inside it, "*" and "?" match within one part of a
 * path, and a path equal to an entry's matches it before patterns are tried. Nothing
 * is written outside `folder`, whatever the archive holds, and nothing half-written
 * stays. Returns QUODREL_ERROR_OPEN when the archive cannot be opened, the table's
 * damage when its table is damaged, QUODREL_ERROR_DESTINATION when `folder` cannot
 * be made or opened (nothing is written then), QUODREL_ERROR_DESCRIPTORS when fewer than
 * three more files may be open at once (the archive, a folder and a file; nothing is
 * made then), QUODREL_ERROR_INCOMPLETE when an entry
 * was refused or not written or a path matched nothing (the events say which),
 * QUODREL_ERROR_CANCELLED, QUODREL_ERROR_NO_MEMORY. */
QUODREL_API quodrel_error quodrel_extract(const char* archive_path, const char* folder,
                                          const char* const* paths, size_t path_count,
                                          const quodrel_options* options);

/* As quodrel_extract, from an archive already open: QUODREL_ERROR_DESCRIPTORS when fewer
 * than two more files may be open at once (a folder and a file), nothing made then. */
QUODREL_API quodrel_error quodrel_extract_archive(const quodrel_archive* archive,
                                                  const char* folder, const char* const* paths,
                                                  size_t path_count,
                                                  const quodrel_options* options);

/* As quodrel_extract, from an archive that arrives in order through `read_next` (see
 * quodrel_open_stream), named `name` in events (NULL: "archive"): what a failure to read
 * its table tells is what quodrel_extract tells of a file. An archive in table order is
 * extracted as it arrives, on the operation's threads; a file it cuts short is told as
 * data cut short, and nothing of it stays. QUODREL_ERROR_DESCRIPTORS as
 * quodrel_extract_archive: fewer than two more files (an archive in another order needs
 * a third, its temporary file). */
/* Since 2.3. */
QUODREL_API quodrel_error quodrel_extract_stream(quodrel_read_next read_next, void* context,
                                                 const char* name, const char* folder,
                                                 const char* const* paths, size_t path_count,
                                                 const quodrel_options* options);

/* Packs the tree below `folder` into a new archive at `archive_path`, as the quodrel
 * program's -c does: written beside its place and put there only when complete, so
 * an existing archive there is replaced only by a complete one (an archive path that
 * is a link stays a link: its target is replaced). The new archive takes the rights of
 * the one it replaces, and its owner and group as far as the process may give them
 * (and its access list, where it has one; other extended attributes are not carried).
 *
 * Replacing is a transaction. Before anything is written, the archive that stands
 * there is locked (Linux: an open file description lock, F_OFD_SETLK, over the whole
 * file; Windows: LockFileEx on a byte past its end, so its readers go on) until the
 * call returns: a second quodrel_create or quodrel_update of it, in this process or
 * another, returns QUODREL_ERROR_LOCKED at once, having done nothing. The archive is
 * put in place only instead of what stood there when the call began (or where nothing
 * stood, only where nothing stands): else, should another program have put a file
 * there or taken it away meanwhile, both are kept and the call returns
 * QUODREL_ERROR_REPLACED, the new archive beside it under the name its FAILED event
 * gives. Just before the archive is put in place, the COMMIT event is told.
 *
 * Returns QUODREL_ERROR_DESCRIPTORS when fewer than three more files may be open at
 * once, QUODREL_ERROR_OPEN when the folder cannot be listed, QUODREL_ERROR_LIMIT when
 * the tree breaks a limit of the format, QUODREL_ERROR_LOCKED, QUODREL_ERROR_CREATE or
 * _WRITE when the archive cannot be made (no archive then, an existing one kept),
 * QUODREL_ERROR_REPLACED, QUODREL_ERROR_INCOMPLETE when the archive was written but
 * something was left out (the events say what), QUODREL_ERROR_CANCELLED,
 * QUODREL_ERROR_NO_MEMORY. */
QUODREL_API quodrel_error quodrel_create(const char* folder, const char* archive_path,
                                         const quodrel_options* options);

/* One entry of a tree the caller lists for quodrel_create_listed: a file or a
 * folder, named by its path below the archive's root, parts separated by "/" (as on
 * disk: a "#" is stored as ":", and a name holding ":" or "\" is refused as
 * quodrel_create refuses it). The folders a path lies in need not be listed. */
typedef struct quodrel_listed_entry {
    const char* path;
    int is_folder; /* 1 for a folder (`size` and `context` are not read), 0 for a file */
    uint64_t size; /* the file's bytes, which `read_at` gives from offset 0 on */
    void* context; /* given to every `read_at` call for this file's bytes */
} quodrel_listed_entry;

/* Takes the next `size` bytes of the archive in order; returns 0 when all were taken,
 * anything else when they could not be (told as the FAILED event's system_error). */
typedef int (*quodrel_write)(void* context, const void* data, size_t size);

/* A quodrel_write of the library's own: writes to the open file or pipe whose
 * descriptor `context` points to (an int; on Windows a descriptor of msvcrt, as
 * _fileno gives), from where it stands, and returns the system's error number when it
 * cannot. Given to quodrel_create_stream, it lets the library move files' bytes into it
 * inside the kernel (Linux's sendfile), never through its own memory. A pipe whose
 * reader is gone fails the write where the caller ignores SIGPIPE, and raises it
 * otherwise, as any write does. The quodrel program writes standard output so. */
/* Since 2.3. */
QUODREL_API int quodrel_write_descriptor(void* context, const void* data, size_t size);

/* Packs the `count` entries the caller lists into an archive that `write` receives
 * from its first byte to its last, in order, with `write_context` (nothing is sought
 * back: the table comes first, the sizes being known). The archive is the very one
 * quodrel_create makes of a tree on disk holding the same files and folders: the
 * same order, whatever the list's, the same names refused and told (REFUSED events,
 * QUODREL_ERROR_INCOMPLETE), the same limits (QUODREL_ERROR_LIMIT, nothing written);
 * a path listed twice, a path whose part is empty, "." or "..", or a file where
 * another entry needs a folder is refused too (NAME_CLASH, UNSAFE_NAME: the later one
 * in the list is left out). `read_at` reads each file's bytes, on the calling thread,
 * from the file's `context`. A file whose `read_at` fails (QUODREL_ERROR_OPEN) or
 * ends before its `size` (QUODREL_ERROR_CHANGED), or a `write` that fails
 * (QUODREL_ERROR_WRITE), ends the call with that error, told as an event: what
 * `write` received by then is no archive, and is to be discarded. A file that gives
 * more than its `size` is stored with its first `size` bytes and told as changed
 * (QUODREL_ERROR_INCOMPLETE), as quodrel_create does. `name` is how events name the
 * archive (NULL: "archive"). Events and cancelling as quodrel_create; the threads of
 * `options` are not used. */
/* Since 2.2. */
QUODREL_API quodrel_error quodrel_create_listed(const quodrel_listed_entry* entries, size_t count,
                                                quodrel_read_at read_at, quodrel_write write,
                                                void* write_context, const char* name,
                                                const quodrel_options* options);

/* Packs the tree below `folder` as quodrel_create does, into an archive that `write`
 * receives from its first byte to its last, in order, with `write_context` (nothing is
 * sought back: the table comes first, the sizes being known after the walk): the very
 * bytes quodrel_create writes of that tree, the same names left out and told. Files are
 * read on the operation's threads and handed to `write` on the calling thread; memory
 * stays flat whatever their sizes. A file whose size changes is stored as
 * quodrel_create stores it (its size as the walk found it, told). A file in the tree
 * that quodrel_write_descriptor's descriptor writes into is left out, as quodrel_create
 * leaves out its own archive. What quodrel_create
 * would leave out by writing the archive again cannot be left out of a table already
 * written: a file or folder that cannot be opened when its turn comes ends the call
 * there, told (QUODREL_ERROR_OPEN), and what `write` received by then is an archive cut
 * short. A `write` that fails ends it with QUODREL_ERROR_WRITE. `name` is how events
 * name the archive (NULL: "archive"). Otherwise as quodrel_create (no COMMIT: nothing is
 * put in place). */
/* Since 2.3. */
QUODREL_API quodrel_error quodrel_create_stream(const char* folder, quodrel_write write,
                                                void* write_context, const char* name,
                                                const quodrel_options* options);

/* Updates the archive at `archive_path` from the tree below `folder`, as the quodrel
 * program's -u does: every file of the folder replaces the entry extraction writes at
 * its path, or is added where there is none; folders merge; everything else stays as
 * the archive holds it. The result is exactly the archive quodrel_create would make of
 * the merged tree (for an archive it made), written beside the archive and put in its
 * place only when complete; unchanged files' bytes are copied from the old archive. A
 * file where the archive has a folder, or a folder where it has a file, is a name
 * clash: the archive's entry stays, the rest is updated, QUODREL_ERROR_INCOMPLETE. A
 * name the system takes for an entry's keeps the entry's spelling. An archive that is
 * not sound (damage, or an entry extraction refuses) is not touched:
 * QUODREL_ERROR_NOT_UPDATED, with the problems told; nor is one when anything of the
 * folder cannot be read when its turn comes, nor one written over in place meanwhile
 * (QUODREL_ERROR_CHANGED told). The archive is locked first, and the archive read is
 * the one replaced: a transaction as quodrel_create's (QUODREL_ERROR_LOCKED,
 * QUODREL_ERROR_REPLACED, the COMMIT event). QUODREL_ERROR_DESCRIPTORS when fewer than
 * six more files may be open at once (the archive read, and again where its path moved
 * on, the lock, the new archive, a folder and a file), nothing read then. Otherwise as
 * quodrel_create. */
QUODREL_API quodrel_error quodrel_update(const char* archive_path, const char* folder,
                                         const quodrel_options* options);

/* Tells every entry as the quodrel program's -l lists it (an ENTRY event each, in the
 * archive's order), then the totals (END). */
QUODREL_API quodrel_error quodrel_list(const quodrel_archive* archive,
                                       const quodrel_options* options);

/* Compares an archive with the tree below `folder` as the quodrel program's -d does,
 * writing nothing: the tree as extraction would write it, path by path, as this
 * system compares names. A DIFFERENCE event for each path where they differ, in the
 * archive's order, then for what only the folder has, in the order quodrel_create
 * would store it (a folder that only one side has is one event, for all inside it; a
 * file where the other has a folder is one DIFFERS). Entries extraction refuses are
 * told as REFUSED events and never compared; what cannot be read, or would be left out
 * of an archive of the folder, as FAILED or REFUSED events. Then END: `files` and
 * `folders` both hold, and `differences`. Returns QUODREL_OK when they are the same,
 * QUODREL_ERROR_DIFFERENT when they differ, QUODREL_ERROR_INCOMPLETE when something
 * could not be compared (whatever else differs), QUODREL_ERROR_OPEN when `folder`
 * cannot be listed, QUODREL_ERROR_DESCRIPTORS when fewer than three more files may be
 * open at once (nothing read then), QUODREL_ERROR_CANCELLED, QUODREL_ERROR_NO_MEMORY. */
QUODREL_API quodrel_error quodrel_compare(const quodrel_archive* archive, const char* folder,
                                          const quodrel_options* options);

/* Checks an archive as the quodrel program's -t does, writing nothing: a REFUSED
 * event for every entry extraction would refuse on this system (also for each one
 * inside a refused folder, with QUODREL_REFUSED_INSIDE), an ENTRY event for every
 * other, then the totals (END). QUODREL_OK when extraction would write every entry,
 * else QUODREL_ERROR_INCOMPLETE (or _CANCELLED). Open the archive with
 * QUODREL_OPEN_REQUIRE_MAGIC to be told a file that is no archive at all. */
QUODREL_API quodrel_error quodrel_check(const quodrel_archive* archive,
                                        const quodrel_options* options);

#ifdef __cplusplus
}
#endif

#endif /* QUODREL_QUODREL_H */
