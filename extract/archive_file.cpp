#include "extract/archive_file.h"

#include "rules/utf8.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quodrel {
namespace {

// Reads an open archive from its start, in blocks.
class FileSource : public ByteSource {
public:
    explicit FileSource(int file) : file_(file), block_(1 << 16) {}
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

private:
    int file_;
    std::vector<char> block_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;

    bool refill() {
        const std::int64_t n = platform::read_some(file_, block_.data(), block_.size());
        at_ = 0;
        end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        return n > 0;
    }
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

ArchiveFile::~ArchiveFile() {
    if (file >= 0)
        platform::close_file(file);
}

bool open_archive(const std::string& path, ArchiveFile& archive) {
    archive.file = platform::open_for_reading(path, &archive.size);
    if (archive.file < 0)
        return false;
    archive.id = platform::file_id(archive.file);
    archive.source = std::make_unique<FileSource>(archive.file);
    return true;
}

void read_archive_header(ArchiveFile& archive) { archive.header = read_header(*archive.source); }

TableDamage read_archive_table(ArchiveFile& archive) {
    const TableDamage damage =
        read_table(*archive.source, archive.size, archive.header, archive.table);
    if (damage == TableDamage::none)
        read_names_as_written(archive.table);
    return damage;
}

ExtractionPlan plan_archive(const ArchiveFile& archive) {
    PlanRules rules;
    rules.archive_size = archive.size;
    rules.data_offset = archive.header.data_offset;
    rules.windows_rules = platform::windows_rules();
    if (rules.windows_rules)
        rules.fold = platform::fold_case; // Windows folds names' case
    return plan_extraction(archive.table, rules);
}

} // namespace quodrel
