// The one place that talks to the operating system. Everything above it sees
// plain paths, std::FILE streams and these few calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quodrel::platform {

// Identity of a file or directory, so that two paths can be recognised as one.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool valid = false;
    bool operator==(const FileId& other) const {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

struct DirEntry {
    std::string name;
    bool is_directory = false;
    std::uint64_t size = 0; // files only
    FileId id;
};

// Lists one directory into `entries`: "." and ".." passed over, links followed,
// dangling links and special files (FIFOs, sockets, devices) left out. Windows
// gives its own order; elsewhere the order is listing_order_less. An entry's `id`
// may be invalid for files where reading it would cost a call per file (Windows).
// False when the directory cannot be listed.
bool list_directory(const std::string& path, std::vector<DirEntry>& entries);

// Listing order: bytes compared with ASCII a-z taken as A-Z, ties broken by the
// raw bytes, so a tree gives the same archive wherever it was made.
bool listing_order_less(const std::string& a, const std::string& b);

enum class MakeDirectory { created, existed, failed, is_link };

// Creates one directory level. An existing directory is not an error; an
// existing link is reported as such so callers never write through it.
MakeDirectory make_directory(const std::string& path);

// Opens a regular file for binary reading. Directories, FIFOs and devices are
// refused, and the call never blocks. Null on failure.
// When `size` is given it receives the file's length at opening time.
std::FILE* open_file_for_reading(const std::string& path, std::uint64_t* size = nullptr);

// The same open without a stream, for the many small files a creation reads once
// from start to end: a descriptor for read_source and close_source, or -1. Saves
// the stream's own set-up (a system call and an allocation) per file.
int open_source(const std::string& path, std::uint64_t* size);

// Reads up to `size` bytes; the count read, 0 at the end, -1 on an error.
std::int64_t read_source(int source, void* buffer, std::size_t size);

void close_source(int source);

// Creates or truncates a file for binary writing, as a descriptor for write_output
// and close_output, or -1. Refuses to write through a link, and refuses the file
// `keep` (the archive being read) rather than truncate it.
int create_output(const std::string& path, const FileId& keep = FileId{});

// Writes all `size` bytes; false when they could not all be written.
bool write_output(int output, const void* data, std::size_t size);

// Closes an output; false when the last of its data could not be stored.
bool close_output(int output);

bool file_size(std::FILE* file, std::uint64_t& size);
bool seek_file(std::FILE* file, std::int64_t position);

// Identity of an existing path (links followed); invalid when it names nothing.
FileId file_id(const std::string& path);
FileId file_id(std::FILE* file);

// A new, empty file in the folder of `target`, to be put in place by replace_file.
std::FILE* create_temp_file_beside(const std::string& target, std::string& temp_path);

// Moves `from` over `to` in one step; `to` keeps its permission bits if it existed.
bool replace_file(const std::string& from, const std::string& to);

bool remove_file(const std::string& path);

// Until called again with an empty path, an interrupt, termination or hang-up
// signal removes `path` before it ends the process: no half-written file is left.
void remove_on_signal(const std::string& path);

// Reads one key press from the console itself (not standard input) in raw mode,
// consuming the whole sequence a key sends, and restores the console mode. Returns
// the key's first byte (Windows: its character, or 0x100 plus the virtual-key code
// of a key without one), or -1 at once when there is no console.
int read_console_key();

// Makes standard output write every byte as given, with no newline translation.
void prepare_standard_output();

} // namespace quodrel::platform
