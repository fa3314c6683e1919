// The terminal on POSIX systems: the key wait reads /dev/tty in raw mode.
#include "platform/terminal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace quodrel::platform {

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void prepare_standard_output() {} // POSIX streams never translate newlines

namespace {

int g_tty = -1;
struct termios g_saved_mode;
volatile std::sig_atomic_t g_raw = 0;
const int kRestoreSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// Puts the terminal back before the signal ends the process.
extern "C" void restore_and_reraise(int sig) {
    if (g_raw)
        tcsetattr(g_tty, TCSANOW, &g_saved_mode);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Reads one byte, waiting at most timeout_ms (-1: for ever). -1 on timeout or end.
int read_byte(int fd, int timeout_ms) {
    for (;;) {
        if (timeout_ms >= 0) {
            struct pollfd pfd = {fd, POLLIN, 0};
            const int ready = poll(&pfd, 1, timeout_ms);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
        }
        unsigned char byte;
        const ssize_t n = read(fd, &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return -1;
    }
}

// The rest of what one key sends arrives together; this long is enough to tell a
// lone Escape from the start of a sequence.
constexpr int kSequenceGapMs = 40;

// Consumes the bytes that follow `first` when it opens a multi-byte key: escape
// sequences (CSI, SS3, Alt+key) and UTF-8 characters.
void consume_rest_of_key(int fd, int first) {
    if (first == 0x1b) {
        const int second = read_byte(fd, kSequenceGapMs);
        if (second == '[') {
            int byte = read_byte(fd, kSequenceGapMs);
            if (byte == '[') { // Linux console function keys: ESC [ [ A
                read_byte(fd, kSequenceGapMs);
                return;
            }
            // Parameter and intermediate bytes, then one final byte in 0x40..0x7e.
            for (int n = 0; byte >= 0x20 && byte < 0x40 && n < 32; ++n)
                byte = read_byte(fd, kSequenceGapMs);
        } else if (second == 'O') {
            read_byte(fd, kSequenceGapMs);
        }
        return;
    }
    int continuation = first >= 0xf0 ? 3 : first >= 0xe0 ? 2 : first >= 0xc0 ? 1 : 0;
    while (continuation-- > 0)
        if (read_byte(fd, kSequenceGapMs) < 0)
            return;
}

} // namespace

int read_console_key() {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1; // no controlling terminal
    struct termios mode;
    if (tcgetattr(fd, &mode) != 0) {
        close(fd);
        return -1;
    }
    g_tty = fd;
    g_saved_mode = mode;
    struct sigaction previous[sizeof kRestoreSignals / sizeof kRestoreSignals[0]];
    for (std::size_t i = 0; i < sizeof kRestoreSignals / sizeof kRestoreSignals[0]; ++i) {
        struct sigaction action = {};
        action.sa_handler = restore_and_reraise;
        sigemptyset(&action.sa_mask);
        sigaction(kRestoreSignals[i], &action, &previous[i]);
    }
    // No echo, no line editing, no signal keys, no flow control: every key is a key.
    mode.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL | ICANON | ISIG | IEXTEN));
    mode.c_iflag &= static_cast<tcflag_t>(~(IXON | IXOFF));
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    g_raw = 1;
    int key = -1;
    if (tcsetattr(fd, TCSANOW, &mode) == 0) {
        key = read_byte(fd, -1);
        if (key >= 0)
            consume_rest_of_key(fd, key);
    }
    tcsetattr(fd, TCSANOW, &g_saved_mode);
    g_raw = 0;
    for (std::size_t i = 0; i < sizeof kRestoreSignals / sizeof kRestoreSignals[0]; ++i)
        sigaction(kRestoreSignals[i], &previous[i], nullptr);
    close(fd);
    g_tty = -1;
    return key;
}

} // namespace quodrel::platform
