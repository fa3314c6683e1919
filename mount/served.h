// The archive the mount serves: opened once as a plain file, its table read through
// the library and checked as `quodrel -t` checks it, and every file's bytes read from
// that same open file, so an archive replaced while mounted still shows what it held.
// One written over in place is found out at the next read (mount::same_contents):
// from then on every read fails rather than mix old bytes with new.
#pragma once

#include "mount/tree.h"
#include "quodrel/quodrel.h"
#include "report/printer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quodrel::mount {

class Served {
public:
    static constexpr std::size_t kUnread = static_cast<std::size_t>(-1);

    Served() = default;
    Served(const Served&) = delete;
    Served& operator=(const Served&) = delete;
    ~Served() { close(); }

    // Opens the archive at `path` and checks its table, printing what extraction would
    // refuse (the check's lines but its totals) to `out`. QUODREL_OK, or why it cannot
    // be mounted (QUODREL_ERROR_DESCRIPTORS when no descriptor is left for it).
    quodrel_error open(const std::string& path, quodrel::Printer& out);
    void close();

    quodrel_archive* archive() const { return archive_; }
    const std::string& name() const { return name_; }
    // The archive's status when it was opened.
    const struct stat& at_mount() const { return at_mount_; }

    // Called once, from the thread whose read found the archive written over.
    void on_change(std::function<void()> told) { on_change_ = std::move(told); }

    // Reads up to `size` bytes of a file from byte `from` on into `buffer`; how many
    // (fewer only at the file's end), or kUnread. The archive is looked at after its
    // bytes were read, so bytes given are always the mounted archive's: a change that
    // came first is seen then (a write changes the time), and nothing read after it is
    // given.
    std::size_t read(const Node& file, std::uint64_t from, std::size_t size,
                     std::vector<char>& buffer);

private:
    bool unchanged();

    int file_ = -1;
    std::string name_; // as the user gave it
    quodrel_archive* archive_ = nullptr;
    struct stat at_mount_ = {};
    std::atomic<bool> changed_{false};
    std::function<void()> on_change_;
};

} // namespace quodrel::mount
