// Win32 implementation of the platform layer. Narrow ("A") calls throughout, so
// names pass through in the system's code page exactly as the listing gives them.
#include "platform/platform.h"

#include "platform/console_keys.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace quodrel::platform {
namespace {

bool is_directory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool is_link(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

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

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// Wraps an open handle in a stream; the stream owns the handle from then on.
std::FILE* stream_or_close(HANDLE handle, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (!file)
        _close(fd);
    return file;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Files this program writes may be deleted while open: that is how an interrupt
// removes a half-written file the main thread still holds.
constexpr DWORD kShareWhileWriting = FILE_SHARE_READ | FILE_SHARE_DELETE;

} // namespace

bool list_directory(const std::string& path, std::vector<DirEntry>& entries) {
    entries.clear();
    if (path.empty())
        return false; // "\*.*" alone would list the drive's root
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((path + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    // The listing's own order is kept: it is the order the archive holds.
    do {
        const char* name = found.cFileName;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        DirEntry entry;
        entry.name = name;
        entry.is_directory = is_directory(found.dwFileAttributes);
        if (!entry.is_directory)
            entry.size =
                (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        else
            entry.id = file_id(path + "/" + entry.name); // to recognise a loop
        entries.push_back(std::move(entry));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

MakeDirectory make_directory(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr))
        return MakeDirectory::created;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return MakeDirectory::failed;
    if (is_link(attributes))
        return MakeDirectory::is_link; // a junction or link: never written through
    return is_directory(attributes) ? MakeDirectory::existed : MakeDirectory::failed;
}

int open_source(const std::string& path, std::uint64_t* size) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER length;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length)) {
        CloseHandle(handle); // a device, pipe or console
        return -1;
    }
    if (size)
        *size = static_cast<std::uint64_t>(length.QuadPart);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

std::int64_t read_source(int source, void* buffer, std::size_t size) {
    const unsigned chunk = size < (1u << 30) ? static_cast<unsigned>(size) : (1u << 30);
    return _read(source, buffer, chunk);
}

void close_source(int source) { _close(source); }

std::FILE* open_file_for_reading(const std::string& path, std::uint64_t* size) {
    const int fd = open_source(path, size);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "rb");
    if (!file)
        _close(fd);
    return file;
}

int create_output(const std::string& path, const FileId& keep) {
    // Opened without following a link, and truncated only once it is known to be a
    // plain file other than `keep`.
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, kShareWhileWriting, nullptr,
                                OPEN_ALWAYS, kFlags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BY_HANDLE_FILE_INFORMATION info;
    const FileId id = GetFileType(handle) == FILE_TYPE_DISK ? id_of(handle, &info) : FileId{};
    if (!id.valid || id == keep || is_directory(info.dwFileAttributes) ||
        is_link(info.dwFileAttributes)) {
        CloseHandle(handle);
        return -1;
    }
    if (info.nNumberOfLinks > 1) {
        // Other names share this file: give this name a file of its own.
        CloseHandle(handle);
        if (!DeleteFileA(path.c_str()))
            return -1;
        handle = CreateFileA(path.c_str(), GENERIC_WRITE, kShareWhileWriting, nullptr, CREATE_NEW,
                             kFlags, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return -1;
    } else if ((info.nFileSizeHigh != 0 || info.nFileSizeLow != 0) && !SetEndOfFile(handle)) {
        CloseHandle(handle); // the position is 0, so this truncates
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

bool write_output(int output, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned chunk = size < (1u << 30) ? static_cast<unsigned>(size) : (1u << 30);
        const int n = _write(output, bytes, chunk);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool close_output(int output) { return _close(output) == 0; }

bool file_size(std::FILE* file, std::uint64_t& size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(handle_of(file), &length))
        return false;
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

bool seek_file(std::FILE* file, std::int64_t position) {
    return _fseeki64(file, position, SEEK_SET) == 0;
}

FileId file_id(const std::string& path) {
    if (path.empty())
        return FileId{};
    // No access asked for: enough to read the identity of a file or a directory.
    const HANDLE handle = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FileId{};
    const FileId id = GetFileType(handle) == FILE_TYPE_DISK ? id_of(handle) : FileId{};
    CloseHandle(handle);
    return id;
}

FileId file_id(std::FILE* file) { return id_of(handle_of(file)); }

std::FILE* create_temp_file_beside(const std::string& target, std::string& temp_path) {
    if (target.empty())
        return nullptr;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (is_directory(attributes) || (attributes & FILE_ATTRIBUTE_READONLY)))
        return nullptr; // a directory is not replaced, a read-only archive stays as it is
    const std::size_t cut = target.find_last_of("/\\:");
    const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".quodrel-%lx-%lx-%x", GetCurrentProcessId(),
                      GetTickCount(), counter++);
        const std::string path = folder + name;
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, kShareWhileWriting, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        std::FILE* file = stream_or_close(handle, _O_WRONLY, "wb");
        if (!file) {
            DeleteFileA(path.c_str());
            return nullptr;
        }
        temp_path = path;
        return file;
    }
    return nullptr;
}

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

void prepare_standard_output() {
    // Every byte as written: "\n" stays "\n", as on every other platform.
    _setmode(_fileno(stdout), _O_BINARY);
}

// --- Ending events ------------------------------------------------------------

namespace {

// What a Ctrl+Break or a closing console window must undo before the process ends.
// The handler runs on a thread of its own, so these are only ever set and cleared
// whole by the main thread under the lock.
CRITICAL_SECTION g_lock;
char g_doomed[MAX_PATH * 4]; // the path to remove; empty when none
HANDLE g_console = INVALID_HANDLE_VALUE;
DWORD g_saved_mode = 0;
bool g_handler_installed = false;

BOOL WINAPI undo_and_end(DWORD event) {
    EnterCriticalSection(&g_lock);
    if (g_console != INVALID_HANDLE_VALUE && event == CTRL_C_EVENT) {
        // During the key wait Ctrl+C is a key like any other. With the console in
        // mode 0 it arrives as one; where it comes as an event all the same (a
        // console on a terminal), it is passed on to the wait as the key it was.
        INPUT_RECORD record = {};
        record.EventType = KEY_EVENT;
        record.Event.KeyEvent.bKeyDown = TRUE;
        record.Event.KeyEvent.wRepeatCount = 1;
        record.Event.KeyEvent.wVirtualKeyCode = 'C';
        record.Event.KeyEvent.uChar.AsciiChar = 3;
        record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
        DWORD written = 0;
        const bool passed_on = WriteConsoleInputA(g_console, &record, 1, &written) && written == 1;
        LeaveCriticalSection(&g_lock);
        if (passed_on)
            return TRUE;
        EnterCriticalSection(&g_lock);
    }
    if (g_console != INVALID_HANDLE_VALUE)
        SetConsoleMode(g_console, g_saved_mode);
    if (g_doomed[0])
        DeleteFileA(g_doomed); // shared for deletion: gone once the process ends
    LeaveCriticalSection(&g_lock);
    return FALSE; // let the default handler end the process
}

void install_handler() {
    if (g_handler_installed)
        return;
    InitializeCriticalSection(&g_lock);
    SetConsoleCtrlHandler(undo_and_end, TRUE);
    g_handler_installed = true;
}

} // namespace

void remove_on_signal(const std::string& path) {
    install_handler();
    EnterCriticalSection(&g_lock);
    const bool set = !path.empty() && path.size() < sizeof g_doomed;
    g_doomed[path.copy(g_doomed, set ? path.size() : 0)] = 0;
    LeaveCriticalSection(&g_lock);
}

// --- Console key input --------------------------------------------------------

int read_console_key() {
    // The console itself, whatever standard input is redirected from.
    const HANDLE console =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return -1; // no console
    DWORD saved_mode;
    if (!GetConsoleMode(console, &saved_mode)) {
        CloseHandle(console);
        return -1;
    }
    install_handler();
    EnterCriticalSection(&g_lock);
    g_console = console;
    g_saved_mode = saved_mode;
    LeaveCriticalSection(&g_lock);
    // Mode 0: no echo, no line editing, Ctrl+C arrives as a key like any other.
    int key = -1;
    if (SetConsoleMode(console, 0)) {
        for (;;) {
            INPUT_RECORD record;
            DWORD read = 0;
            if (!ReadConsoleInputA(console, &record, 1, &read) || read == 0)
                break;
            if (record.EventType != KEY_EVENT)
                continue; // mouse, window size, focus and menu events
            const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
            const auto character = static_cast<unsigned char>(event.uChar.AsciiChar);
            if (key_ends_wait(event.bKeyDown != 0, event.wVirtualKeyCode, character)) {
                key = character != 0 ? character : 0x100 + event.wVirtualKeyCode;
                break;
            }
        }
    }
    EnterCriticalSection(&g_lock);
    SetConsoleMode(console, saved_mode);
    g_console = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&g_lock);
    CloseHandle(console);
    return key;
}

} // namespace quodrel::platform
