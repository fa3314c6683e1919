#include "reading/archive.h"

#include "platform/guard.h"
#include "rules/utf8.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quodrel {
namespace {

class FileBytes : public ArchiveBytes {
public:
    FileBytes(int file, std::uint64_t size)
        : ArchiveBytes(size), file_(file), id_(platform::file_id(file)) {}
    ~FileBytes() override { platform::close_file(file_); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override {
        return platform::read_at(file_, to, size, offset);
    }
    int file() const override { return file_; }
    platform::FileId id() const override { return id_; }

private:
    int file_;
    platform::FileId id_;
};

class MemoryBytes : public ArchiveBytes {
public:
    MemoryBytes(const void* data, std::size_t size)
        : ArchiveBytes(size), data_(static_cast<const char*>(data)) {}
    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override {
        if (offset >= this->size())
            return 0;
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, this->size() - offset));
        std::memcpy(to, data_ + offset, n);
        return static_cast<std::int64_t>(n);
    }

private:
    const char* data_;
};

class ReaderBytes : public ArchiveBytes {
public:
    using ReadAt = std::int64_t (*)(void*, void*, std::size_t, std::uint64_t);
    ReaderBytes(ReadAt read, std::uint64_t size, void* context)
        : ArchiveBytes(size), read_(read), context_(context) {}
    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override {
        // Never past the size the caller gave, and never more than was asked for.
        if (offset >= this->size())
            return 0;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, this->size() - offset));
        const std::int64_t got = read_(context_, to, want, offset);
        return got < 0 || static_cast<std::uint64_t>(got) > want ? -1 : got;
    }

private:
    ReadAt read_;
    void* context_;
};

// Reads an archive from its start, in blocks. A read that fails ends it as its end
// would, and is remembered: the table is then unreadable, not short.
class Sequential : public ByteSource {
public:
    explicit Sequential(const ArchiveBytes& bytes) : bytes_(bytes), block_(1 << 16) {}
    bool failed() const { return failed_; }
    std::size_t read(void* to, std::size_t size) override {
        auto* out = static_cast<char*>(to);
        std::size_t given = 0;
        for (;;) {
            const std::size_t n = std::min(size - given, end_ - at_);
            std::memcpy(out + given, block_.data() + at_, n);
            at_ += n;
            given += n;
            if (given == size || !refill())
                return given;
        }
    }

    // Blocks read stop at `end` (where the table ends, as the header says), so that no
    // byte of file data is asked for: a caller's reader may fail on a file's range, and
    // only that file may fail then. Past `end` (a table longer than its header says),
    // blocks go on.
    void stop_blocks_at(std::uint64_t end) { end_of_blocks_ = end; }

private:
    bool refill() {
        std::size_t want = block_.size();
        if (position_ < end_of_blocks_)
            want =
                static_cast<std::size_t>(std::min<std::uint64_t>(want, end_of_blocks_ - position_));
        const std::int64_t n = bytes_.read_at(block_.data(), want, position_);
        at_ = 0;
        end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        position_ += end_;
        failed_ = failed_ || n < 0;
        return n > 0;
    }

    const ArchiveBytes& bytes_;
    bool failed_ = false;
    std::uint64_t end_of_blocks_ = kHeaderSize; // the header alone, until it is read
    std::vector<char> block_;
    std::uint64_t position_ = 0;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

// Names are UTF-8; one that is not came from an older Windows program, and is read
// as such where that matters.
void read_names_as_written(EntryTable& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (rules::is_valid_utf8(table.name(i)))
            continue;
        const std::string name(table.name(i));
        const std::string read = platform::name_from_legacy_encoding(name);
        if (read != name)
            table.rename(i, read);
    }
}

} // namespace

std::unique_ptr<ArchiveBytes> archive_file(const std::string& path, int& error) {
    std::uint64_t size = 0;
    const int file = platform::open_for_reading(platform::system_path(path), &size);
    error = file < 0 ? platform::last_error() : 0;
    if (file < 0)
        return nullptr;
    return std::make_unique<FileBytes>(file, size);
}

std::unique_ptr<ArchiveBytes> archive_of_file(int file) {
    const platform::FileStamp stamp = platform::file_stamp(file);
    return std::make_unique<FileBytes>(file, stamp.size);
}

std::unique_ptr<ArchiveBytes> archive_in_memory(const void* data, std::size_t size) {
    return std::make_unique<MemoryBytes>(data, size);
}

std::unique_ptr<ArchiveBytes> archive_from_reader(
    std::int64_t (*read_at)(void* context, void* buffer, std::size_t size, std::uint64_t offset),
    std::uint64_t size, void* context) {
    return std::make_unique<ReaderBytes>(read_at, size, context);
}

quodrel_error error_of(TableDamage damage) {
    switch (damage) {
    case TableDamage::none: break;
    case TableDamage::cut_short: return QUODREL_ERROR_TABLE_CUT_SHORT;
    case TableDamage::bad_name_length: return QUODREL_ERROR_BAD_NAME_LENGTH;
    case TableDamage::too_deep: return QUODREL_ERROR_TOO_DEEP;
    case TableDamage::no_memory: return QUODREL_ERROR_NO_MEMORY;
    }
    return QUODREL_OK;
}

quodrel_error read_archive(OpenArchive& archive, bool require_magic) {
    Sequential source(*archive.bytes);
    archive.header = read_header(source);
    if (source.failed())
        return QUODREL_ERROR_READ;
    source.stop_blocks_at(archive.header.data_offset > static_cast<std::int32_t>(kHeaderSize)
                              ? static_cast<std::uint64_t>(archive.header.data_offset)
                              : 0);
    if (require_magic && std::memcmp(archive.header.magic, kMagic, sizeof kMagic) != 0)
        return QUODREL_ERROR_NOT_AN_ARCHIVE;
    const TableDamage damage = platform::or_no_memory(
        [&] {
            return read_table(source, archive.bytes->size(), archive.header, archive.table,
                              platform::room_for);
        },
        [] { return TableDamage::no_memory; });
    if (source.failed())
        return QUODREL_ERROR_READ;
    if (damage != TableDamage::none)
        return error_of(damage);
    read_names_as_written(archive.table);
    PlanRules& rules = archive.rules;
    static_cast<NameRules&>(rules) = system_name_rules();
    rules.archive_size = archive.bytes->size();
    rules.data_offset = archive.header.data_offset;
    archive.plan = plan_extraction(archive.table, rules);
    return QUODREL_OK;
}

} // namespace quodrel
