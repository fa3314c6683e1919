// Files and folders: the only way the operations reach the disk. Paths are plain
// UTF-8 strings; open files are small integers (descriptors). One implementation per
// system (posix/files.inc, win32/files.inc), and what is the same on every system
// once, in files.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quodrel::platform {

// Identity of a file or folder, so that two paths can be recognised as one.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool valid = false;
    bool operator==(const FileId& other) const {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

struct FileIdHash {
    std::size_t operator()(const FileId& id) const {
        return static_cast<std::size_t>(id.inode * 0x9e3779b97f4a7c15ull ^ id.device);
    }
};

struct FolderEntry {
    std::string name;
    bool is_folder = false;
    bool link = false;      // a link, followed to what it leads to
    std::uint64_t size = 0; // files only
    bool readable = true;   // false for a file this process may not read, where the listing tells
    FileId id;              // may be invalid for files where it would cost a call each
};

// Whether the names this program writes follow Windows' rules (device names, no
// trailing dots or blanks).
bool windows_rules();

// The system's number for why the last call on this thread failed (errno, or
// GetLastError on Windows), for callers who want more than what failed.
int last_error();

// A name that is not UTF-8, as this system reads it: Windows reads it in the ANSI
// code page (an older Windows program wrote it so); elsewhere the bytes stay.
std::string name_from_legacy_encoding(const std::string& name);

// A folder made, found, or not had: failed, or is_link (never written through), or
// other_name (`name` led to a folder whose own name is another: a short alias on
// Windows, never written in).
enum class MakeFolder { created, existed, failed, is_link, other_name };

// Opens a regular file for reading. Folders, FIFOs and devices are refused and the
// call never blocks. -1 on failure. `size` receives the length at opening time.
int open_for_reading(const std::string& path, std::uint64_t* size = nullptr);

// Reads up to `size` bytes at the file's position, or at `offset`: the count read,
// 0 at the end, -1 on an error.
std::int64_t read_some(int file, void* buffer, std::size_t size);
std::int64_t read_at(int file, void* buffer, std::size_t size, std::uint64_t offset);

// Writes all `size` bytes at the file's position, or at `offset`; false when they
// could not all be written.
bool write_all(int file, const void* data, std::size_t size);
bool write_all_at(int file, const void* data, std::size_t size, std::uint64_t offset);

enum class KernelCopy { done, short_read, write_failed, failed, unsupported };

// Moves up to `count` bytes between files by position inside the kernel, adding to
// `copied` what arrived: one copy instead of two, none through this process.
// `short_read` where the source ended, `write_failed` where the destination is full;
// `failed` on another error, which may be either file's (copied apart, the two tell);
// `unsupported`, with nothing moved, where the system or the file systems cannot.
KernelCopy kernel_copy(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                       std::uint64_t count, std::uint64_t& copied);

// Moves up to `count` bytes of the file `from`, at `from_offset`, to the open file or
// pipe `to` at the point it stands, inside the kernel, adding to `copied` what arrived:
// done; short_read where the source ended; write_failed where `to` can take no more (a
// full disk, a reader gone); failed on another error; unsupported, with nothing moved,
// where the system cannot (Linux's sendfile moves them).
KernelCopy send_file(int to, int from, std::uint64_t from_offset, std::uint64_t count,
                     std::uint64_t& copied);

// Moves up to `count` bytes from the pipe `from`, from where it stands, into the file
// `to` at `to_offset`, inside the kernel, adding to `copied` what arrived: done;
// short_read where the pipe ended; write_failed where `to` can take no more; failed on
// another error; unsupported, with nothing moved, where `from` is no pipe or the system
// cannot (Linux's splice moves them).
KernelCopy splice_from(int from, int to, std::uint64_t to_offset, std::uint64_t count,
                       std::uint64_t& copied);

void close_file(int file);

// Closes an output; false when the last of its data could not be stored.
bool close_output(int file);

// A folder that outputs are made in, held open. On POSIX systems every name in it is
// resolved from its descriptor without following a link, so whatever is done to its
// path meanwhile (renamed, replaced by a link), what is made in it lands in it. On
// Windows the open handle keeps the folder from being renamed or removed.
struct Folder {
    int handle = -1;
    std::string path; // as given and joined from names, for the Windows calls
};

// Makes the folder a user names as a destination (one level), following links.
MakeFolder make_folder(const std::string& path);

// Opens the folder a user names, following links. False when it is no folder.
bool open_folder(const std::string& path, Folder& folder);

// Makes folder `name` in `parent`, or finds it there, and opens it, never through a
// link: is_link when a link stands there (or took its place before it was opened),
// other_name when `name` led to a folder of another name, failed when it is no folder
// or cannot be made or opened.
MakeFolder make_subfolder(const Folder& parent, const std::string& name, Folder& made);

// Opens the existing folder `name` in `parent`, through a link there only with `follow`.
bool open_subfolder(const Folder& parent, const std::string& name, Folder& opened,
                    bool follow = false);

// Lists an open folder: "." and ".." passed over, links followed (and said to be
// links), dangling links and special files (FIFOs, sockets, devices) left out, in the
// order the system gives. False when it cannot be listed.
bool list_folder(const Folder& folder, std::vector<FolderEntry>& entries);

// Opens file `name` in an open folder to read it once from its start, through a link
// there only with `follow`: a file the listing found to be a plain file, with no
// second look at what it is (a FIFO or folder put in its place meanwhile reads as
// short, and never blocks). -1 on failure.
int open_source_in(const Folder& folder, const std::string& name, bool follow);

void close_folder(Folder& folder);

// Whoever removes half-written files when the process is ended (a program's signal
// handlers) is told, on the thread that writes, of each file before it is created and
// until it is complete. A watch without hooks costs nothing.
struct Watch {
    void (*on_begin)(void* context, unsigned thread, int folder, const char* name) = nullptr;
    void (*on_created)(void* context, unsigned thread, int created) = nullptr;
    void (*on_finished)(void* context, unsigned thread) = nullptr;
    void* context = nullptr;

    // Before the call that creates `name` in `folder`, or the file at `path`.
    void begin(unsigned thread, const Folder& folder, const std::string& name) const;
    void begin(unsigned thread, const std::string& path) const;
    // After it: whether the file now exists and is this run's own.
    void created(unsigned thread, bool created) const;
    // The file is complete, or removed by its writer.
    void finished(unsigned thread) const;
};

struct Output {
    int file = -1;           // a new file, created exclusively, open for writing
    FileId id;               // of the new file when asked for, or of the existing one
    bool existed = false;    // a plain file is there already: nothing of it was touched
    bool other_name = false; // what is there has another name of its own, which `name`
                             // led to (a short alias on Windows): it is not `name`
    int error = 0;           // why it could not be created
};

// Creates the new file `name` in `folder` for writing. Where a plain file of that name
// exists already (not `keep`), it is left as it is and told; anything else there (a
// link, a folder, a file the system keeps from being replaced: read-only on Windows)
// fails.
Output create_output(const Folder& folder, const std::string& name, const FileId& keep,
                     bool want_id);

// A new, empty file in `folder` to be renamed over `name` once complete, watched on
// `thread` from the moment it exists. -1 on failure.
int create_replacement(const Folder& folder, std::string& temp_name, const Watch& watch,
                       unsigned thread);

// Moves `from` over `to` in one step, both in `folder`.
bool rename_in(const Folder& folder, const std::string& from, const std::string& to);

bool remove_in(const Folder& folder, const std::string& name);

// Identity of what `name` in `folder` is (links followed); invalid when nothing is there.
FileId file_id_in(const Folder& folder, const std::string& name);

// A name as the file system below a folder that folds case compares it: for telling
// which names may meet, not whether they do (file identity tells that).
std::string fold_case(const std::string& name);

// Whether names that differ only in letter case may lead to one file below `folder`
// (Windows; FAT, exFAT, NTFS and SMB mounts and case-folding folders elsewhere).
bool names_fold_case(const std::string& folder);

// Identity of an existing path (links followed); invalid when it names nothing.
FileId file_id(const std::string& path);
FileId file_id(int file);

// What tells whether an open file was written since: its size, the times of its last
// write and of its last change (a time put back by a copy moves the change time), and
// its links (a rename over it, or its deletion, changes the change time and the links,
// not its bytes).
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t written = 0, changed = 0; // in the system's own units
    std::uint64_t links = 0;
    bool valid = false;
};
FileStamp file_stamp(int file);

// Whether an open file holds the bytes it held when `before` was taken.
inline bool same_bytes_as(const FileStamp& before, const FileStamp& now) {
    return before.valid && now.valid && now.size == before.size && now.written == before.written &&
           (now.changed == before.changed || now.links != before.links);
}

// A path the user gave, as the system reads it, for an operation to join names to:
// on Windows absolute and in the extended-length form (the user's spelling stays for
// messages); elsewhere the path itself.
std::string system_path(const std::string& path);

// A new file without a name, open for writing and reading, for what is kept for the
// length of an operation: gone when it is closed, or when the process ends. In the
// system's folder for temporary files (TMPDIR, else /tmp; Windows' GetTempPath). -1
// when none can be made.
int create_scratch_file();

// How many more files and folders this process may open at once, about.
std::size_t descriptors_left();

// The place of a file that is replaced only by a complete successor, as one
// transaction: found once as the kernel finds it (a link followed: the file it leads to
// is replaced, the link stays), held open, and claimed: what stands there is locked
// for as long as the place is held, so that a second run that claims it is turned away
// at once rather than lose its work or another's. A lock binds only those who ask, so
// putting the successor in place checks too that what leaves the path is what stood
// there when it was claimed (or that nothing stands there, where nothing stood).
struct Place {
    Folder folder;      // the folder it lies in, held open
    std::string target; // its name there
    bool through_link = false;
    FileId folder_id;    // the folder's identity, while it is let go of
    int lock = -1;       // what stood there, open and locked (-1: nothing stood there)
    FileId standing;     // its identity; invalid where nothing stood
    bool placed = false; // a successor took its place

    Place() = default;
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
};

enum class Claim {
    claimed, // found, and what stands there (if anything) locked
    held,    // another holds the lock on what stands there: nothing was done, nothing waited for
    failed,  // no file can be put there: a folder, a device, a read-only file, a link the
             // kernel will not follow (the system's error tells why)
};

// Finds and claims the place of `target`. Where a dangling link stands, with
// `make_missing`, its target is made for a moment to learn where it lies, and removed at
// once (nothing of it stays, whatever ends the run): the place is claimed with nothing
// standing, as where nothing stands at all.
// Linux: an open file description lock (F_OFD_SETLK) over the whole file; Windows: a
// lock on a range past its end (a lock over its bytes would make others' reads fail),
// on a handle that lets others read it and rename over it. Where the file system keeps
// no locks, the place is claimed without one.
Claim claim_place(const std::string& target, bool make_missing, Place& place);

// A descriptor that reads what stands at a claimed place: the very file locked. -1 when
// nothing stands there or it cannot be read.
int read_standing(const Place& place);

// A file written beside its final place and put in that place only when complete.
struct TempFile {
    int file = -1;    // open for writing and reading
    std::string name; // its name in the place's folder; empty while it has none
    const Watch* watch = nullptr;
    unsigned thread = 0; // the thread it is watched on
    bool told = false;   // the watch was told of a name (an unnamed file vanishes alone)

    TempFile() = default;
    TempFile(TempFile&& other) noexcept { *this = std::move(other); }
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

// A new, empty file in a claimed place's folder, with the permission bits (and, on
// Linux, the access list), owner and group of what stands there (the owner and group as far as this
// process may give them: the owner only by the superuser, a group only one this process is in; the
// owner first, as a change of owner clears the set-id bits), else what the umask gives
// a new file. Where the file system allows, it has no name until it is complete, so
// that nothing of it is left if the process is killed; else `watch` is told of it on
// `thread` from the moment it exists.
bool create_temp_file(Place& place, TempFile& temp, const Watch& watch, unsigned thread);

// Lets go of a place's folder while its successor is written, where descriptors are
// few: it is had again to put the file in place, and only if it is the very folder it
// was.
void let_go_of_folder(Place& place);

enum class Placed {
    placed, // the file stands at the target, and what stood there is gone
    kept,   // what stands at the target is not what stood there when the place was
            // claimed (something took its place meanwhile, or it went): both are kept,
            // the file under its own name beside it, `temp.name`
    failed, // it could not be put there: gone, and what stood there stays
};

// Puts a complete temporary file in place of what stood there, and closes it. Where a
// file stood: swapped in with it in one step where the file system can (Linux's
// RENAME_EXCHANGE), what came out checked and swapped back if it is not what stood
// there, else removed; elsewhere checked just before the rename (Windows: its file ID
// and volume serial), a moment in which another rename goes unseen. Where none stood:
// named in one step that fails if one appeared meanwhile.
Placed put_in_place(Place& place, TempFile& temp);

// Closes a temporary file and removes it.
void discard(Place& place, TempFile& temp);

// Lets go of a place: its lock, its folder.
void release(Place& place);

} // namespace quodrel::platform
