// Files and directories on POSIX systems.
#include "platform/files.h"
#include "platform/os.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#endif
#include <sys/types.h>
#include <unistd.h>

namespace quodrel::platform {
namespace {

FileId id_of(const struct stat& st) {
    FileId id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.valid = true;
    return id;
}

// Whether this process may read a file, told from its owner, group and mode bits as
// the listing gives them: no call per file. (An access list that says otherwise is
// met when the file is opened.)
bool readable(const struct stat& st) {
    static const uid_t user = geteuid();
    static const gid_t group = getegid();
    static const std::vector<gid_t> groups = [] {
        std::vector<gid_t> all(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
        const int n = all.empty() ? 0 : getgroups(static_cast<int>(all.size()), all.data());
        all.resize(static_cast<std::size_t>(std::max(n, 0)));
        return all;
    }();
    if (user == 0)
        return true; // the superuser reads every file
    if (st.st_uid == user)
        return (st.st_mode & S_IRUSR) != 0;
    if (st.st_gid == group || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end())
        return (st.st_mode & S_IRGRP) != 0;
    return (st.st_mode & S_IROTH) != 0;
}

} // namespace

bool windows_rules() { return false; }

std::string fold_case(const std::string& name) {
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool names_fold_case(const std::string& dir) {
#ifdef __linux__
    struct statfs fs;
    if (statfs(dir.c_str(), &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x4d44:     // FAT
        case 0x2011bab0: // exFAT
        case 0x5346544e: // NTFS
        case 0x7366746e: // NTFS (ntfs3)
        case 0xff534d42: // CIFS
        case 0xfe534d42: // SMB2
        case 0x517b:     // SMB
            return true;
        default: break;
        }
    }
#ifdef FS_CASEFOLD_FL
    // A folder that folds case (ext4, f2fs) passes it on to the folders made in it.
    const int file = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (file >= 0) {
        int flags = 0;
        const bool folds = ioctl(file, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL);
        close(file);
        return folds;
    }
#endif
#else
    (void)dir;
#endif
    return false;
}

std::string name_from_archive(const std::string& name) { return name; }

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

MakeDirectory make_directory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0)
        return MakeDirectory::created;
    if (errno != EEXIST)
        return MakeDirectory::failed;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return MakeDirectory::failed;
    if (S_ISLNK(st.st_mode))
        return MakeDirectory::is_link;
    return S_ISDIR(st.st_mode) ? MakeDirectory::existed : MakeDirectory::failed;
}

std::int64_t read_some(int file, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = read(file, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

std::int64_t read_at(int file, void* buffer, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = pread(file, buffer, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

void close_file(int file) { close(file); }

bool close_output(int file) { return close(file) == 0; }

bool file_size(int file, std::uint64_t& size) {
    struct stat st;
    if (fstat(file, &st) != 0)
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

FileId file_id(int file) {
    struct stat st;
    return fstat(file, &st) == 0 ? id_of(st) : FileId{};
}

bool replace_file(const std::string& from, const std::string& to) {
    // A link at `to` is kept and its target replaced, as writing through it would.
    const std::string target = os::resolve_links(to);
    struct stat st;
    mode_t mode;
    if (stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (chmod(from.c_str(), mode) != 0)
        return false;
    return rename(from.c_str(), target.c_str()) == 0;
}

namespace os {

const char* const kSeparators = "/";

bool describe(int file, Description& description) {
    struct stat st;
    if (fstat(file, &st) != 0)
        return false;
    description.regular = S_ISREG(st.st_mode);
    description.directory = S_ISDIR(st.st_mode);
    description.link = S_ISLNK(st.st_mode);
    description.links = static_cast<std::uint64_t>(st.st_nlink);
    description.size = static_cast<std::uint64_t>(st.st_size);
    description.id = id_of(st);
    return true;
}

bool list_directory(const std::string& path, std::vector<DirEntry>& entries) {
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return false;
    const int dir_fd = dirfd(dir);
    while (const dirent* item = readdir(dir)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct stat st;
        // Follows links: a dangling one fails here and is left out.
        if (fstatat(dir_fd, name, &st, 0) != 0)
            continue;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue; // FIFOs, sockets and devices are not archived
        DirEntry entry;
        entry.name = name;
        entry.is_directory = S_ISDIR(st.st_mode);
        entry.size = entry.is_directory ? 0 : static_cast<std::uint64_t>(st.st_size);
        entry.readable = entry.is_directory || readable(st);
        entry.id = id_of(st);
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    return true;
}

int open_for_reading(const std::string& path, std::uint64_t* size) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
        return -1;
    struct stat st;
    if (fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(file);
        return -1;
    }
    if (size)
        *size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

int open_source(const std::string& path) {
    for (;;) {
        const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (file >= 0 || errno != EINTR)
            return file;
    }
}

FileId file_id(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? id_of(st) : FileId{};
}

int open_output(const std::string& path, bool exclusive) {
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                      (exclusive ? O_EXCL : 0);
    for (;;) {
        const int file = open(path.c_str(), flags, 0666);
        if (file >= 0 || errno != EINTR)
            return file;
    }
}

bool last_error_was_exists() { return errno == EEXIST; }

bool truncate(int file) { return ftruncate(file, 0) == 0; }

bool remove(const std::string& path) { return unlink(path.c_str()) == 0; }

std::string resolve_links(const std::string& path) {
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) { // as many as the system itself follows
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return at;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = readlink(at.c_str(), &target[0], target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            return at;
        target.resize(static_cast<std::size_t>(n));
        const std::size_t slash = at.rfind('/');
        at = target[0] == '/' || slash == std::string::npos ? target
                                                            : at.substr(0, slash + 1) + target;
    }
    return at;
}

bool may_replace(const std::string& target) {
    struct stat st;
    if (stat(target.c_str(), &st) != 0)
        return true;
    if (!S_ISREG(st.st_mode))
        return false;                         // a directory or device is not replaced by an archive
    return access(target.c_str(), W_OK) == 0; // a read-only archive stays as it is
}

std::uint64_t unique_seed() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
           static_cast<std::uint64_t>(now.tv_sec);
}

std::int64_t write_some(int file, const void* data, std::size_t size) {
    for (;;) {
        const ssize_t n = write(file, data, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

std::int64_t write_some_at(int file, const void* data, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = pwrite(file, data, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool kernel_copy(int from, std::uint64_t& from_offset, int to, std::uint64_t& to_offset,
                 std::uint64_t count, std::uint64_t& copied, Copy& result) {
#ifdef __linux__
    auto in = static_cast<off_t>(from_offset);
    auto out = static_cast<off_t>(to_offset);
    result = Copy::done;
    while (copied < count) {
        const std::uint64_t left = count - copied;
        const ssize_t n =
            copy_file_range(from, &in, to, &out, left < (1u << 30) ? left : (1u << 30), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && copied == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return false;
        if (n <= 0) {
            const bool full = n < 0 && (errno == ENOSPC || errno == EFBIG || errno == EDQUOT);
            result = full ? Copy::write_failed : Copy::short_read;
            break;
        }
        copied += static_cast<std::uint64_t>(n);
    }
    from_offset = static_cast<std::uint64_t>(in);
    to_offset = static_cast<std::uint64_t>(out);
    return true;
#else
    (void)from, (void)from_offset, (void)to, (void)to_offset, (void)count, (void)copied,
        (void)result;
    return false; // other POSIX systems copy through the buffer
#endif
}

} // namespace os
} // namespace quodrel::platform
