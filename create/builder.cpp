#include "create/builder.h"

#include "archive/table.h"
#include "archive/tree.h"
#include "create/scan.h"
#include "platform/cleanup.h"
#include "platform/copy.h"
#include "platform/files.h"

#include <algorithm>
#include <cstring>

namespace quodrel {
namespace {

constexpr int kMainSlot = 0;

// Gathers what goes into the archive in one block of its own, so that many small
// writes (records, names, small files) become few. Small files are read straight
// into it: their bytes are copied once on the way in and once on the way out.
class BlockWriter : public ByteSink {
public:
    explicit BlockWriter(int archive) : archive_(archive), block_(platform::kCopyBlock) {}

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            if (used_ == block_.size() && !flush())
                return false;
            const std::size_t n = std::min(size, block_.size() - used_);
            std::memcpy(block_.data() + used_, bytes, n);
            used_ += n;
            bytes += n;
            size -= n;
        }
        return true;
    }

    // Reads exactly `count` bytes of `source` into the block (flushing it as it fills);
    // false with `failed_write` when the archive could not take them, false alone when
    // the source ended first (`copied` tells how far it came).
    bool read_from(int source, std::uint64_t count, std::uint64_t& copied, bool& failed_write) {
        copied = 0;
        failed_write = false;
        while (copied < count) {
            if (used_ == block_.size() && !flush()) {
                failed_write = true;
                return false;
            }
            const std::uint64_t left = count - copied;
            const std::size_t room = block_.size() - used_;
            const std::size_t n = left < room ? static_cast<std::size_t>(left) : room;
            const std::int64_t got = platform::read_some(source, block_.data() + used_, n);
            if (got <= 0)
                return false;
            used_ += static_cast<std::size_t>(got);
            copied += static_cast<std::uint64_t>(got);
        }
        return true;
    }

    bool flush() {
        const std::size_t n = used_;
        used_ = 0;
        if (!platform::write_all_at(archive_, block_.data(), n, position_))
            return false;
        position_ += n;
        return true;
    }

    // Where the next byte handed to the writer lands in the archive, once flushed.
    std::uint64_t end() const { return position_ + used_; }
    // Moves the writing position past bytes put there by other means.
    void skip(std::uint64_t count) { position_ += count; }

private:
    int archive_;
    std::vector<char> block_;
    std::size_t used_ = 0;
    std::uint64_t position_ = 0;
};

// The state of one creation once the tree is scanned.
struct Creation {
    std::string source_dir;
    std::string archive_path;
    std::string temp_path;
    int archive = -1;
    Reporter* out = nullptr;
    platform::Copier copier;
};

bool write_zeros(BlockWriter& writer, std::uint64_t count) {
    static const char zeros[4096] = {};
    while (count > 0) {
        const std::size_t n = count < sizeof zeros ? static_cast<std::size_t>(count) : sizeof zeros;
        if (!writer.write(zeros, n))
            return false;
        count -= n;
    }
    return true;
}

// Copies one file's contents: always exactly the scanned size, so the archive stays
// consistent. False when the creation cannot go on.
bool copy_file(Creation& c, BlockWriter& writer, const std::string& path, std::uint64_t size) {
    std::uint64_t size_now = 0;
    const int source = platform::open_for_reading(path, &size_now);
    if (source < 0) {
        // Gone or closed since the scan: the offsets already written count on its
        // size, so it is stored as that many zeros, and named.
        c.out->fault(Fault::cannot_open, path);
        if (write_zeros(writer, size))
            return true;
        c.out->fault(Fault::cannot_write, c.archive_path);
        return false;
    }
    std::uint64_t copied = 0;
    bool written = true;
    if (size >= platform::kKernelCopyMin) {
        // Big files move inside the kernel where it can, beside the block.
        std::uint64_t at = 0;
        platform::Copy result = platform::Copy::write_failed;
        if (writer.flush()) {
            at = writer.end();
            result = c.copier.copy(source, 0, c.archive, at, size, copied);
        }
        writer.skip(copied);
        written = result == platform::Copy::done || result == platform::Copy::short_read;
    } else {
        bool failed_write = false;
        writer.read_from(source, size, copied, failed_write);
        written = !failed_write;
    }
    platform::close_file(source);
    if (written && copied < size)
        written = write_zeros(writer, size - copied);
    if (!written) {
        c.out->fault(Fault::cannot_write, c.archive_path);
        return false;
    }
    if (size_now != size || copied != size)
        c.out->fault(Fault::file_changed, path);
    return true;
}

// Writes header, table and data into the temporary file; true when all of it landed.
bool write_archive(Creation& c, const EntryTable& table, std::int32_t data_offset) {
    BlockWriter writer(c.archive);
    if (!write_table(writer, table, data_offset)) {
        c.out->fault(Fault::cannot_write, c.archive_path);
        return false;
    }
    const auto n = static_cast<std::int32_t>(table.size());
    TreeWalker walk;
    for (std::int32_t j = 0; j < n; ++j) {
        c.out->progress(n, j);
        const auto i = static_cast<std::size_t>(j);
        walk.next(j, table[i].record, table.name(i));
        const auto size = static_cast<std::uint64_t>(table[i].record.size);
        if (size != 0 && !copy_file(c, writer, c.source_dir + walk.path(), size))
            return false;
    }
    if (!writer.flush()) {
        c.out->fault(Fault::cannot_write, c.archive_path);
        return false;
    }
    return true;
}

} // namespace

bool create_archive(const std::string& source_dir, const std::string& archive_path, Reporter& out) {
    Scan scan;
    scan_tree(scan, source_dir, archive_path);
    EntryTable& table = scan.table;
    out.creating(archive_path, table.size());

    bool refused = false;
    for (const ScanProblem& problem : scan.problems) {
        out.fault(problem.fault, problem.path);
        refused = refused || problem.refuses_archive;
    }
    const std::int64_t data_offset = lay_out_table(table);
    if (data_offset + scan.data_size > kMaxArchiveSize) {
        out.fault(Fault::archive_too_large, archive_path);
        refused = true;
    }
    if (refused) {
        out.flush();
        return false;
    }

    Creation c;
    c.source_dir = source_dir;
    c.archive_path = archive_path;
    c.out = &out;
    c.archive = platform::create_temp_file_beside(archive_path, c.temp_path, kMainSlot);
    if (c.archive < 0) {
        out.fault(Fault::cannot_create, archive_path);
        out.flush();
        return false;
    }
    bool complete = write_archive(c, table, static_cast<std::int32_t>(data_offset));
    if (!platform::close_output(c.archive) && complete) {
        out.fault(Fault::cannot_write, archive_path);
        complete = false;
    }
    if (complete && !platform::replace_file(c.temp_path, archive_path)) {
        out.fault(Fault::cannot_create, archive_path);
        complete = false;
    }
    if (!complete)
        platform::remove_file(c.temp_path);
    platform::output_finished(kMainSlot);
    if (complete)
        out.done();
    out.flush();
    return complete && !out.failed();
}

} // namespace quodrel
