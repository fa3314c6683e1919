// Where an archive's bytes go: a file the worker threads write into at any position
// (a temporary archive), or a writer that takes them in order on the calling thread
// (the caller's quodrel_write, standard output through it). Both gather many small
// writes (records, names, small files) into few, each a block of transfer::kCopyBlock
// bytes (the last one less); a piece of a block or more goes on at once.
#pragma once

#include "archive/table.h"
#include "platform/files.h"
#include "quodrel/quodrel.h"
#include "transfer/copy.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quodrel {

class Sink : public ByteSink {
public:
    Sink() { block_.reserve(transfer::kCopyBlock); }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    // Takes the next bytes, in order after those before them.
    bool write(const void* data, std::size_t size) override;

    // Sends what is gathered; false when it could not be sent.
    bool flush();

    // The file the worker threads may write into at any position once the table is
    // flushed; -1 for a sink that takes bytes only in order.
    virtual int file() const { return -1; }

    // Why the last send failed: the system's error number, or what the caller's
    // writer returned.
    virtual int error() const = 0;

    // The file the bytes land in, where it is one a tree may hold (a descriptor of a
    // file), and its size now; invalid where it is not known.
    virtual platform::FileId destination(std::uint64_t& size) const {
        size = 0;
        return {};
    }

    // Sends `count` bytes of the open file `from` at `offset` inside the kernel, after
    // what was sent before them (flushed first), adding to `copied` what went: where the
    // sink is a descriptor and the system can; else KernelCopy::unsupported, nothing sent.
    virtual platform::KernelCopy send_file(int from, std::uint64_t offset, std::uint64_t count,
                                           std::uint64_t& copied) {
        static_cast<void>(from), static_cast<void>(offset), static_cast<void>(count),
            static_cast<void>(copied);
        return platform::KernelCopy::unsupported;
    }

protected:
    ~Sink() = default;

private:
    // Sends bytes, in order after the ones before them.
    virtual bool send(const char* data, std::size_t size) = 0;

    std::vector<char> block_;
};

// A file, written from its start.
class FileSink final : public Sink {
public:
    explicit FileSink(int file) : file_(file) {}
    int file() const override { return file_; }
    int error() const override { return error_; }

private:
    bool send(const char* data, std::size_t size) override;

    int file_;
    std::uint64_t position_ = 0;
    int error_ = 0;
};

// The caller's sequential writer; nothing more once it has failed.
class WriterSink final : public Sink {
public:
    WriterSink(quodrel_write write, void* context) : write_(write), context_(context) {}
    int error() const override { return error_; }

private:
    bool send(const char* data, std::size_t size) override;

    quodrel_write write_;
    void* context_;
    int error_ = 0;
};

// An open file or pipe the caller gives, written from where it stands, in order.
class DescriptorSink final : public Sink {
public:
    explicit DescriptorSink(int descriptor) : descriptor_(descriptor) {}
    int error() const override { return error_; }
    platform::FileId destination(std::uint64_t& size) const override;
    platform::KernelCopy send_file(int from, std::uint64_t offset, std::uint64_t count,
                                   std::uint64_t& copied) override;

private:
    bool send(const char* data, std::size_t size) override;

    int descriptor_;
    int error_ = 0;
};

} // namespace quodrel
