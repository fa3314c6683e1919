// Moving file contents between open files with as few copies and system calls as
// the system allows.
#pragma once

#include "platform/files.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quodrel::transfer {

// Something whose bytes can be read by position: a file, or an archive that is no
// file (bytes in memory, a caller's reader).
class Readable {
public:
    virtual ~Readable() = default;
    // Up to `size` bytes at `offset`: the count read, 0 at the end, -1 on an error.
    virtual std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const = 0;
    // A descriptor the kernel can copy from, or -1.
    virtual int file() const { return -1; }
    // How much one read of it should bring through a buffer: a stream, read by calls
    // that each cost a trip to its writer, more than a file.
    virtual std::size_t piece() const;
    // Moves up to `count` bytes at `offset` into the file `to` at `to_offset` inside the
    // kernel, without a descriptor to copy from by position (a pipe, read in order):
    // adds to `copied` what arrived; KernelCopy::unsupported, nothing moved, where it
    // cannot.
    virtual platform::KernelCopy move_into(std::uint64_t offset, int to, std::uint64_t to_offset,
                                           std::uint64_t count, std::uint64_t& copied) const;
    // Exactly `size` bytes at `offset`: false when they cannot all be read (an error,
    // or the end comes first).
    bool read_exactly(void* to, std::size_t size, std::uint64_t offset) const;
};

// A file open for reading.
class ReadableFile : public Readable {
public:
    explicit ReadableFile(int file) : file_(file) {}
    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override;
    int file() const override { return file_; }

private:
    int file_;
};

// What became of a copy: done; the source ended early (short_read) or could not be
// read (read_failed: an error, a range another program locked); the destination could
// not be written; no memory for a buffer; stopped when asked.
enum class Copy { done, short_read, read_failed, write_failed, no_memory, stopped };

// Copies runs of bytes between files by position, through one reusable buffer or,
// for runs of kKernelCopyMin bytes and more, inside the kernel where it can.
class Copier {
public:
    // Copies exactly `count` bytes from `from` at `from_offset` to `to` at
    // `to_offset`, unless the source ends or fails first, or `stop` is set (looked at
    // between pieces of kCopyBlock, or of kKernelPiece inside the kernel): `copied`
    // tells how many arrived.
    Copy copy(const Readable& from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
              std::uint64_t count, std::uint64_t& copied, const std::atomic<bool>* stop = nullptr);

private:
    std::vector<char> buffer_;
    bool kernel_copy_works_ = true;
};

// From this size on, a file's bytes are moved inside the kernel where it can: one
// copy instead of two, and none through this process. Below it, the batching of many
// small files into one read or write is worth more. Measured on a copy of
// /usr/include in tmpfs: packing took a median of 83 ms from 16 KiB on, 85 ms from
// 64 KiB, 89 ms from 1 MiB (GNU tar: 93 ms); unpacking 100 ms against 103 ms from 1 MiB.
constexpr std::uint64_t kKernelCopyMin = 1 << 14;

// Large enough that a file moves in few system calls, small enough that what one read
// brings in is still in the processor's cache when it is written out again. Measured:
// unpacking 1 GiB of big files from tmpfs onto ext4 took 0.6-0.75 s in 64 KiB blocks
// against 1.8-2.3 s in 1 MiB blocks (and 0.8-0.9 s for GNU tar), in alternating runs.
constexpr std::size_t kCopyBlock = 1 << 16;

// What the kernel copies between two looks at whether to stop: a fraction of a second
// on any disk, and a call per 64 MiB costs nothing measurable.
constexpr std::uint64_t kKernelPiece = 1 << 26;

} // namespace quodrel::transfer
