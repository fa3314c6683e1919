#include "reading/stream.h"

#include "platform/files.h"
#include "platform/sync.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace quodrel {
namespace {

// The stream, read forward: what is asked for again from before the point reached is
// served only from what was kept (the header, the table and what came with them).
class StreamBytes final : public ArchiveBytes {
public:
    StreamBytes(quodrel_read_next read_next, void* context)
        : ArchiveBytes(kSizeNotKnown), read_next_(read_next), context_(context),
          descriptor_(read_next == quodrel_read_descriptor && context
                          ? *static_cast<const int*>(context)
                          : -1) {}

    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override {
        platform::Lock hold(lock_);
        auto* out = static_cast<char*>(to);
        std::size_t given = 0;
        if (offset < kept_.size()) {
            given = static_cast<std::size_t>(std::min<std::uint64_t>(size, kept_.size() - offset));
            std::memcpy(out, kept_.data() + offset, given);
            offset += given;
        }
        if (given == size)
            return static_cast<std::int64_t>(given);
        if (offset < position_)
            return given > 0 ? static_cast<std::int64_t>(given) : -1; // passed already
        if (!pass_to(offset))
            return given > 0 ? static_cast<std::int64_t>(given) : failed_ ? -1 : 0;
        const std::int64_t got = next(out + given, size - given);
        if (got < 0 && given == 0)
            return -1;
        return static_cast<std::int64_t>(given) + std::max<std::int64_t>(got, 0);
    }

    bool sequential() const override { return true; }

    // Read through a buffer (where the kernel cannot move its bytes into the files), a
    // stream comes in pieces of 1 MiB: a sixteenth of the calls of 64 KiB pieces, each a
    // trip to the writer of a pipe.
    std::size_t piece() const override { return std::size_t{1} << 20; }

    // From a descriptor of the caller's (a pipe), files' bytes go into the files inside
    // the kernel.
    platform::KernelCopy move_into(std::uint64_t offset, int to, std::uint64_t to_offset,
                                   std::uint64_t count, std::uint64_t& copied) const override {
        platform::Lock hold(lock_);
        if (descriptor_ < 0 || offset < kept_.size() || offset < position_ || ended_ ||
            !pass_to(offset))
            return platform::KernelCopy::unsupported; // (the buffer's way tells what it is)
        const std::uint64_t before = copied;
        const platform::KernelCopy moved =
            platform::splice_from(descriptor_, to, to_offset, count, copied);
        position_ += copied - before;
        if (moved == platform::KernelCopy::short_read) {
            ended_ = true;
            const_cast<StreamBytes*>(this)->set_size(position_);
        }
        return moved;
    }

    std::uint64_t settle() override {
        platform::Lock hold(lock_);
        pass_to(kSizeNotKnown);
        return ended_ ? position_ : size();
    }

    // What was read so far is kept no more than it is.
    void stop_keeping() {
        platform::Lock hold(lock_);
        keeping_ = false;
    }

    quodrel_error write_rest(int file) override {
        platform::Lock hold(lock_);
        if (position_ > kept_.size())
            return QUODREL_ERROR_READ; // what was passed is gone
        if (!platform::write_all(file, kept_.data(), kept_.size()))
            return QUODREL_ERROR_WRITE;
        std::vector<char> block(1 << 16);
        for (;;) {
            const std::int64_t got = next(block.data(), block.size());
            if (got < 0)
                return QUODREL_ERROR_READ;
            if (got == 0)
                return QUODREL_OK;
            if (!platform::write_all(file, block.data(), static_cast<std::size_t>(got)))
                return QUODREL_ERROR_WRITE;
        }
    }

private:
    // Reads up to `size` bytes from where the stream is (fewer only at its end): how
    // many, or -1 when the reader fails.
    std::int64_t next(char* to, std::size_t size) const {
        std::size_t got = 0;
        while (got < size && !ended_) {
            const std::int64_t n = read_next_(context_, to + got, size - got);
            if (n < 0 || static_cast<std::uint64_t>(n) > size - got) {
                failed_ = ended_ = true;
                break;
            }
            if (n == 0) {
                ended_ = true;
                const_cast<StreamBytes*>(this)->set_size(position_);
                break;
            }
            if (keeping_)
                kept_.append(to + got, static_cast<std::size_t>(n));
            got += static_cast<std::size_t>(n);
            position_ += static_cast<std::uint64_t>(n);
        }
        return got == 0 && failed_ ? -1 : static_cast<std::int64_t>(got);
    }

    // Passes over what lies before `offset`; false when the stream ends first.
    bool pass_to(std::uint64_t offset) const {
        char passed[1 << 14];
        while (position_ < offset) {
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(sizeof passed, offset - position_));
            if (next(passed, want) <= 0)
                return false;
        }
        return true;
    }

    quodrel_read_next read_next_;
    void* context_;
    int descriptor_; // where the reader is the library's own: the caller's descriptor
    mutable platform::Mutex lock_;
    mutable std::string kept_;
    mutable std::uint64_t position_ = 0; // bytes of the stream read so far
    mutable bool keeping_ = true;
    mutable bool ended_ = false;
    mutable bool failed_ = false;
};

// Whether every file extraction writes lies after the table, each after the one before.
bool data_in_table_order(const OpenArchive& archive) {
    const EntryTable& table = archive.table;
    std::uint64_t end = kHeaderSize;
    for (std::size_t i = 0; i < table.size(); ++i)
        end += kRecordSize + static_cast<std::uint64_t>(table[i].record.name_length);
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (archive.plan.steps[i].action != Action::write_file)
            continue;
        const EntryRecord& record = table[i].record;
        const std::int64_t start = std::int64_t{archive.header.data_offset} + record.offset;
        if (start < 0 || static_cast<std::uint64_t>(start) < end)
            return false;
        end = static_cast<std::uint64_t>(start) + static_cast<std::uint64_t>(record.size);
    }
    return true;
}

// Plans a table read already again, with the archive's bytes as they are now.
void plan_again(OpenArchive& archive) {
    archive.rules.archive_size = archive.bytes->size();
    archive.plan = plan_extraction(archive.table, archive.rules);
}

} // namespace

quodrel_error read_stream(quodrel_read_next read_next, void* context, OpenArchive& archive,
                          bool require_magic) {
    auto stream = std::make_unique<StreamBytes>(read_next, context);
    StreamBytes& bytes = *stream;
    archive.bytes = std::move(stream);
    const quodrel_error read = read_archive(archive, require_magic);
    if (read != QUODREL_OK)
        return read;
    bytes.stop_keeping();
    return data_in_table_order(archive) ? QUODREL_OK : spool_stream(archive);
}

void settle_stream(OpenArchive& archive) {
    if (!archive.bytes->sequential())
        return;
    archive.bytes->settle();
    plan_again(archive);
}

quodrel_error spool_stream(OpenArchive& archive) {
    if (!archive.bytes->sequential())
        return QUODREL_OK;
    const int file = platform::create_scratch_file();
    if (file < 0)
        return QUODREL_ERROR_CREATE;
    const quodrel_error written = archive.bytes->write_rest(file);
    if (written != QUODREL_OK) {
        platform::close_file(file);
        return written;
    }
    archive.bytes = archive_of_file(file);
    plan_again(archive);
    return QUODREL_OK;
}

} // namespace quodrel
