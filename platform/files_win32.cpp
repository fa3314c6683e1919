// Files and directories on Windows. Paths are UTF-8 everywhere above this layer;
// here they become the extended-length UTF-16 form ("\\?\C:\...") and go to the
// wide ("W") calls, so every name and every length the file system allows is
// reached. Open files are C runtime descriptors over Win32 handles.
#include "platform/files.h"
#include "platform/os.h"
#include "platform/windows_paths.h"
#include "platform/windows_text.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace quodrel::platform {
namespace {

// The current directory, read once (the program never changes it), without an
// extended-length prefix of its own.
const std::string& current_dir() {
    static const std::string dir = [] {
        std::wstring buffer(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), &buffer[0]);
            if (n < buffer.size()) {
                buffer.resize(n);
                break;
            }
            buffer.resize(n);
        }
        std::string utf8 = to_utf8(buffer);
        if (utf8.compare(0, 8, "\\\\?\\UNC\\") == 0)
            utf8 = "\\\\" + utf8.substr(8);
        else if (utf8.compare(0, 4, "\\\\?\\") == 0)
            utf8 = utf8.substr(4);
        return utf8;
    }();
    return dir;
}

bool is_directory_bit(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool is_link(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

HANDLE handle_of(int file) { return reinterpret_cast<HANDLE>(_get_osfhandle(file)); }

FileId id_of(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info_out = nullptr) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return FileId{};
    if (info_out)
        *info_out = info;
    FileId id;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.valid = true;
    return id;
}

// A descriptor that owns the handle from then on, or -1 (the handle closed).
int descriptor_of(HANDLE handle, int flags) {
    const int file = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (file < 0)
        CloseHandle(handle);
    return file;
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

DWORD chunk(std::size_t size) { return size < (1u << 30) ? static_cast<DWORD>(size) : (1u << 30); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Files this program writes may be deleted while open: that is how an interrupt
// removes a half-written file another thread still holds.
constexpr DWORD kShareWhileWriting = FILE_SHARE_READ | FILE_SHARE_DELETE;

} // namespace

std::wstring to_utf16(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string to_utf8(const std::wstring& utf16) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), &utf8[0], n,
                            nullptr, nullptr);
    return utf8;
}

std::wstring native_path(const std::string& path) {
    return to_utf16(long_path(path, current_dir()));
}

bool windows_rules() { return true; }

std::string fold_case(const std::string& name) {
    const std::wstring wide = to_utf16(name);
    std::wstring upper(wide.size(), L'\0');
    if (wide.empty() ||
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                     &upper[0], static_cast<int>(upper.size())) == 0)
        return name;
    return to_utf8(upper);
}

bool names_fold_case(const std::string&) {
    return true; // the rule on Windows; a folder marked case-sensitive is the exception
}

std::string name_from_archive(const std::string& name) {
    if (is_valid_utf8(name))
        return name;
    // Written by an older program in the system's ANSI code page.
    const int n =
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &wide[0], n);
    return to_utf8(wide);
}

bool is_directory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(native_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && is_directory_bit(attributes);
}

MakeDirectory make_directory(const std::string& path) {
    if (CreateDirectoryW(native_path(path).c_str(), nullptr))
        return MakeDirectory::created;
    const DWORD attributes = GetFileAttributesW(native_path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return MakeDirectory::failed;
    if (is_link(attributes))
        return MakeDirectory::is_link; // a junction or link: never written through
    return is_directory_bit(attributes) ? MakeDirectory::existed : MakeDirectory::failed;
}

std::int64_t read_some(int file, void* buffer, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(handle_of(file), buffer, chunk(size), &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return got;
}

std::int64_t read_at(int file, void* buffer, std::size_t size, std::uint64_t offset) {
    OVERLAPPED where = at(offset);
    DWORD got = 0;
    if (!ReadFile(handle_of(file), buffer, chunk(size), &got, &where))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

void close_file(int file) { _close(file); }

bool close_output(int file) { return _close(file) == 0; }

bool file_size(int file, std::uint64_t& size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(handle_of(file), &length))
        return false;
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

FileId file_id(int file) { return id_of(handle_of(file)); }

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExW(native_path(from).c_str(), native_path(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

namespace os {

const char* const kSeparators = "/\\:";

bool describe(int file, Description& description) {
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE handle = handle_of(file);
    const FileId id = GetFileType(handle) == FILE_TYPE_DISK ? id_of(handle, &info) : FileId{};
    if (!id.valid)
        return false; // a device, pipe or console
    description.directory = is_directory_bit(info.dwFileAttributes);
    description.link = is_link(info.dwFileAttributes);
    description.regular = !description.directory && !description.link;
    description.links = info.nNumberOfLinks;
    description.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    description.id = id;
    return true;
}

bool list_directory(const std::string& path, std::vector<DirEntry>& entries) {
    WIN32_FIND_DATAW found;
    // "*" matches every name, also in the extended-length form.
    const HANDLE search = FindFirstFileW((native_path(path) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        const wchar_t* name = found.cFileName;
        if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)))
            continue;
        DirEntry entry;
        entry.name = to_utf8(name);
        entry.is_directory = is_directory_bit(found.dwFileAttributes);
        if (!entry.is_directory)
            entry.size =
                (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        else
            entry.id = file_id(path + "/" + entry.name); // to recognise a loop
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

int open_for_reading(const std::string& path, std::uint64_t* size) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    const HANDLE handle = CreateFileW(native_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER length;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length)) {
        CloseHandle(handle); // a device, pipe or console
        return -1;
    }
    if (size)
        *size = static_cast<std::uint64_t>(length.QuadPart);
    return descriptor_of(handle, _O_RDONLY);
}

int open_source(const std::string& path) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    const HANDLE handle = CreateFileW(native_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle); // a device, pipe or console
        return -1;
    }
    return descriptor_of(handle, _O_RDONLY);
}

FileId file_id(const std::string& path) {
    // No access asked for: enough to read the identity of a file or a directory.
    const HANDLE handle = CreateFileW(native_path(path).c_str(), 0, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FileId{};
    const FileId id = GetFileType(handle) == FILE_TYPE_DISK ? id_of(handle) : FileId{};
    CloseHandle(handle);
    return id;
}

int open_output(const std::string& path, bool exclusive) {
    // A link is opened as itself, never followed.
    const HANDLE handle =
        CreateFileW(native_path(path).c_str(), GENERIC_WRITE, kShareWhileWriting, nullptr,
                    exclusive ? CREATE_NEW : OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    return descriptor_of(handle, _O_WRONLY);
}

bool last_error_was_exists() {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

bool truncate(int file) {
    // Outputs are truncated right after opening, at position 0.
    return SetEndOfFile(handle_of(file)) != 0;
}

bool remove(const std::string& path) { return DeleteFileW(native_path(path).c_str()) != 0; }

std::string resolve_links(const std::string& path) {
    return path; // links to files are rare on Windows; MoveFileEx replaces the link itself
}

bool may_replace(const std::string& target) {
    const DWORD attributes = GetFileAttributesW(native_path(target).c_str());
    // A directory is not replaced, a read-only archive stays as it is.
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(is_directory_bit(attributes) || (attributes & FILE_ATTRIBUTE_READONLY));
}

std::uint64_t unique_seed() {
    return (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount();
}

std::int64_t write_some(int file, const void* data, std::size_t size) {
    DWORD written = 0;
    if (!WriteFile(handle_of(file), data, chunk(size), &written, nullptr))
        return -1;
    return written;
}

std::int64_t write_some_at(int file, const void* data, std::size_t size, std::uint64_t offset) {
    OVERLAPPED where = at(offset);
    DWORD written = 0;
    if (!WriteFile(handle_of(file), data, chunk(size), &written, &where))
        return -1;
    return written;
}

bool kernel_copy(int, std::uint64_t&, int, std::uint64_t&, std::uint64_t, std::uint64_t&, Copy&) {
    return false; // no copy between open files inside the kernel: through the buffer
}

} // namespace os
} // namespace quodrel::platform
