// Runs an extraction plan against the disk, and deals with what only the disk can
// tell: a directory that turns out to be a link, a file that cannot be created or
// written, data that cannot be read after all.
#include "extract/extractor.h"

#include "archive/table.h"
#include "archive/tree.h"
#include "extract/plan.h"
#include "platform/cleanup.h"
#include "platform/copy.h"
#include "platform/files.h"
#include "platform/windows_paths.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quodrel {
namespace {

constexpr int kMainSlot = 0;

// Reads an open archive from its start, in blocks.
class FileSource : public ByteSource {
public:
    explicit FileSource(int file) : file_(file), block_(platform::kCopyBlock) {}
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

// The state of one extraction.
struct Extraction {
    std::string archive_path;
    int archive = -1;
    platform::FileId archive_id; // never overwritten by one of its own entries
    std::uint64_t archive_size = 0;
    ArchiveHeader header;
    EntryTable table;
    ExtractionPlan plan;
    // Where two spellings of a name may lead to one file, what this run wrote, so
    // that a second spelling never overwrites the first.
    bool names_fold_case = false;
    platform::FileIdSet written;
    Reporter* out = nullptr;
    platform::Copier copier;
};

// Whether `path` leads to something this run already wrote under another spelling.
bool written_before(const Extraction& x, const std::string& path) {
    return x.names_fold_case && x.written.count(platform::file_id(path)) != 0;
}

// Writes one file's data. Nothing is left behind unless it is complete.
void write_file(Extraction& x, const EntryRecord& record, const std::string& path) {
    // If the run is ended before the file is complete, the file goes too.
    platform::begin_output(kMainSlot, path);
    platform::OutputRules rules;
    rules.keep = x.archive_id;
    rules.written = x.names_fold_case ? &x.written : nullptr;
    rules.want_id = x.names_fold_case;
    const platform::Output output = platform::create_output(path, rules);
    const int file = output.file;
    platform::output_created(kMainSlot, file >= 0);
    if (file < 0) {
        x.out->fault(output.clash || written_before(x, path) ? Fault::name_clash
                                                             : Fault::cannot_create,
                     path);
        return;
    }
    if (x.names_fold_case)
        x.written.insert(output.id);
    const std::uint64_t start =
        static_cast<std::uint64_t>(std::int64_t{x.header.data_offset} + record.offset);
    std::uint64_t copied = 0;
    const platform::Copy result =
        x.copier.copy(x.archive, start, file, 0, static_cast<std::uint64_t>(record.size), copied);
    const bool closed = platform::close_output(file);
    if (result != platform::Copy::done || !closed)
        platform::remove_file(path);
    platform::output_finished(kMainSlot);
    if (result == platform::Copy::no_memory)
        x.out->no_memory(record.size);
    else if (result == platform::Copy::short_read)
        x.out->fault(Fault::data_cut_short, path);
    else if (result != platform::Copy::done || !closed)
        x.out->fault(Fault::cannot_write, path);
}

// Makes the destination; false, with the error printed, when it cannot be had.
bool make_destination(Extraction& x, const std::string& base, const std::string& dest_dir) {
    const platform::MakeDirectory made = platform::make_directory(base);
    // A link the user names as the destination is followed; one inside it never is.
    if (made == platform::MakeDirectory::failed ||
        (made == platform::MakeDirectory::is_link && !platform::is_directory(base))) {
        x.out->fault(Fault::cannot_create, dest_dir);
        return false;
    }
    return true;
}

void write_entries(Extraction& x, const std::string& base) {
    std::vector<Step>& steps = x.plan.steps;
    TreeWalker walk;
    for (std::size_t i = 0; i < x.table.size(); ++i) {
        x.out->progress(x.header.entry_count, static_cast<std::int32_t>(i));
        const EntryRecord& record = x.table[i].record;
        walk.next(static_cast<std::int32_t>(i), record, x.table.name(i));
        Step& step = steps[i];
        const std::int32_t parent = walk.parent();
        if (parent >= 0 && (steps[static_cast<std::size_t>(parent)].action == Action::refuse ||
                            steps[static_cast<std::size_t>(parent)].action == Action::skip))
            step.action = Action::skip; // a directory above it was refused, now or before
        if (step.action == Action::skip)
            continue;
        std::string path = base + walk.path();
        if (record.size == 0)
            path.pop_back(); // a directory's path ends with "/"; messages name it without
        switch (step.action) {
        case Action::refuse: x.out->fault(step.fault, path); break;
        case Action::write_file: write_file(x, record, path); break;
        case Action::make_directory: {
            const platform::MakeDirectory made = platform::make_directory(path);
            // Another spelling of a name already written, something else in its place,
            // no room or no right to make it, or a link (writing below it would land
            // wherever it points): told once, and nothing below it is tried.
            const bool clash = made != platform::MakeDirectory::created && written_before(x, path);
            if (clash || made == platform::MakeDirectory::failed ||
                made == platform::MakeDirectory::is_link) {
                step.action = Action::refuse;
                x.out->fault(clash ? Fault::name_clash : Fault::cannot_create, path);
            } else if (x.names_fold_case) {
                x.written.insert(platform::file_id(path)); // made, or an earlier run's
            }
            break;
        }
        case Action::skip: break;
        }
    }
}

// Names are UTF-8; one that is not came from an older Windows program, and is read
// as such where that matters.
void read_names_as_written(EntryTable& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (platform::is_valid_utf8(table.name(i)))
            continue;
        const std::string name(table.name(i));
        const std::string read = platform::name_from_archive(name);
        if (read != name)
            table.rename(i, read);
    }
}

} // namespace

bool extract_archive(const std::string& archive_path, const std::string& dest_dir, Reporter& out) {
    Extraction x;
    x.archive_path = archive_path;
    x.out = &out;
    x.archive = platform::open_for_reading(archive_path, &x.archive_size);
    if (x.archive < 0) {
        out.fault(Fault::cannot_open, archive_path);
        out.flush();
        return false;
    }
    x.archive_id = platform::file_id(x.archive);
    out.extracting(archive_path);
    FileSource source(x.archive);
    x.header = read_header(source);
    out.counts(x.header.entry_count, x.header.data_offset);
    Fault damage = read_table(source, x.archive_size, x.header, x.table);
    if (damage == Fault::none) {
        read_names_as_written(x.table);
        PlanRules rules;
        rules.archive_size = x.archive_size;
        rules.data_offset = x.header.data_offset;
        rules.windows_rules = platform::windows_rules();
        x.plan = plan_extraction(x.table, rules);
        damage = x.plan.damage;
    }
    // An empty destination means the current folder, never the filesystem root.
    const std::string base = dest_dir.empty() ? std::string(".") : dest_dir;
    if (damage != Fault::none) {
        out.fault(damage, archive_path);
    } else if (make_destination(x, base, dest_dir)) {
        x.names_fold_case = platform::names_fold_case(base);
        write_entries(x, base);
        out.done();
    }
    platform::close_file(x.archive);
    out.flush();
    return !out.failed();
}

} // namespace quodrel
