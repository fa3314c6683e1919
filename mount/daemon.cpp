#include "mount/daemon.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace quodrel::mount {
namespace {

bool g_background = false;

void close_once(int& descriptor) {
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
}

} // namespace

void open_standard_descriptors() {
    for (int standard = 0; standard <= 2; ++standard) {
        if (fcntl(standard, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int null = open("/dev/null", (standard == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
        if (null >= 0 && null != standard) {
            dup2(null, standard);
            close(null);
        }
    }
}

std::string mount_folder(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    const std::string folder = real ? real : "";
    std::free(real);
    struct stat st;
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "";
    return folder;
}

bool descriptors_to_mount() {
    constexpr int kNeeded = 3;
    int taken[kNeeded];
    int count = 0;
    while (count < kNeeded && (taken[count] = fcntl(0, F_DUPFD_CLOEXEC, 0)) >= 0)
        ++count;
    for (int i = 0; i < count; ++i)
        close(taken[i]);
    return count == kNeeded;
}

Daemon::~Daemon() {
    close_once(null_);
    close_once(ready_[0]);
    close_once(ready_[1]);
}

bool Daemon::prepare() {
    null_ = open("/dev/null", O_RDWR | O_CLOEXEC);
    return null_ >= 0 && pipe2(ready_, O_CLOEXEC) == 0;
}

bool Daemon::leave(bool& daemon_side) {
    daemon_side = false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        daemon_side = true;
        setsid();
        if (chdir("/") != 0) {
            // (nothing depends on it: the mount point was made absolute before)
        }
        dup2(null_, 0);
        dup2(null_, 1);
        dup2(null_, 2);
        close_once(null_);
        close_once(ready_[0]);
        g_background = true;
        openlog("quodrel-mount", LOG_PID, LOG_USER);
        return true;
    }
    close_once(ready_[1]);
    char served = 0;
    ssize_t n;
    while ((n = read(ready_[0], &served, 1)) < 0 && errno == EINTR) {
    }
    close_once(ready_[0]);
    return n == 1;
}

void Daemon::served() {
    if (ready_[1] < 0)
        return;
    const char served = 1;
    while (write(ready_[1], &served, 1) < 0 && errno == EINTR) {
    }
    close_once(ready_[1]);
}

void tell(const std::string& line) {
    if (g_background) {
        syslog(LOG_ERR, "%.*s", static_cast<int>(line.size() - (line.empty() ? 0 : 1)),
               line.c_str());
    } else {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
}

} // namespace quodrel::mount
