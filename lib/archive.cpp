// Opening an archive, its entries, finding one by path and reading its bytes: the
// calls of the C interface that look into an archive.
#include "lib/handle.h"

#include "lib/options.h"
#include "platform/guard.h"
#include "reading/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace quodrel {
namespace {

bool valid(const quodrel_archive* archive, std::size_t index) {
    return archive && index < archive->opened.table.size();
}

// Reads an archive whose bytes are had: the handle on success.
quodrel_error open_bytes(std::unique_ptr<ArchiveBytes> bytes, const char* name, unsigned flags,
                         quodrel_archive** archive) {
    auto opened = std::make_unique<quodrel_archive>();
    opened->opened.bytes = std::move(bytes);
    opened->opened.name = name ? name : "archive";
    const quodrel_error error =
        read_archive(opened->opened, (flags & QUODREL_OPEN_REQUIRE_MAGIC) != 0);
    if (error != QUODREL_OK)
        return error;
    *archive = opened.release();
    return QUODREL_OK;
}

// FNV-1a, carried on from where a path's folder left it.
std::uint64_t hash_on(std::uint64_t hash, std::string_view bytes) {
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return hash;
}
constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ull;

// Whether this system compares paths otherwise than byte for byte.
bool compares_otherwise(const quodrel_archive& archive) {
    return archive.opened.rules.windows_rules || archive.opened.rules.fold;
}

// Every entry's path, as this system compares paths, hashed.
void make_index(const quodrel_archive& archive) {
    const EntryTable& table = archive.opened.table;
    const std::vector<std::int32_t>& parents = archive.opened.plan.parents;
    std::vector<std::uint64_t>& hashes = archive.path_hashes;
    hashes.resize(table.size());
    const bool otherwise = compares_otherwise(archive);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::int32_t parent = parents[i];
        const std::string compared =
            otherwise ? compared_path(table.name(i), archive.opened.rules) : std::string();
        const std::string_view name = otherwise ? std::string_view(compared) : table.name(i);
        // Folders come before what is inside them.
        hashes[i] = parent < 0
                        ? hash_on(kHashStart, name)
                        : hash_on(hash_on(hashes[static_cast<std::size_t>(parent)], "/"), name);
    }
    archive.by_hash.resize(table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        archive.by_hash[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(archive.by_hash.begin(), archive.by_hash.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return hashes[a] < hashes[b]; });
}

// The entry whose refusal explains why entry `index`, refused, is not written: itself,
// or the refused folder it lies in.
std::size_t refused_one(const quodrel_archive& archive, std::size_t index) {
    const ExtractionPlan& plan = archive.opened.plan;
    while (plan.steps[index].action == Action::inside && plan.parents[index] >= 0)
        index = static_cast<std::size_t>(plan.parents[index]);
    return index;
}

// Where a file entry's bytes start in the archive, checked to lie within it, whatever
// the plan made of the entry (one inside a refused folder was never looked at).
quodrel_error data_start(const quodrel_archive& archive, std::size_t index, std::uint64_t& start) {
    const OpenArchive& opened = archive.opened;
    const EntryRecord& record = opened.table[index].record;
    if (record.size == 0)
        return QUODREL_ERROR_NOT_A_FILE;
    const std::int64_t begin = std::int64_t{opened.header.data_offset} + record.offset;
    if (record.size < 0 || begin < 0 ||
        static_cast<std::uint64_t>(begin) + static_cast<std::uint64_t>(record.size) >
            opened.bytes->size())
        return QUODREL_ERROR_REFUSED;
    start = static_cast<std::uint64_t>(begin);
    return QUODREL_OK;
}

} // namespace

std::size_t give(const std::string& text, char* buffer, std::size_t size) {
    if (buffer && size > 0) {
        const std::size_t n = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

std::string entry_path(const quodrel_archive& archive, std::size_t index) {
    const EntryTable& table = archive.opened.table;
    const std::vector<std::int32_t>& parents = archive.opened.plan.parents;
    std::vector<std::size_t> chain;
    for (std::int64_t at = static_cast<std::int64_t>(index); at >= 0;
         at = parents[static_cast<std::size_t>(at)])
        chain.push_back(static_cast<std::size_t>(at));
    std::string path;
    for (std::size_t k = chain.size(); k-- > 0;) {
        path.append(table.name(chain[k]));
        if (k > 0)
            path += '/';
    }
    return path;
}

} // namespace quodrel

using namespace quodrel;

extern "C" {

quodrel_error quodrel_open(const char* path, unsigned flags, quodrel_archive** archive) {
    if (archive)
        *archive = nullptr;
    if (!path || !archive)
        return QUODREL_ERROR_ARGUMENT;
    return platform::or_no_memory(
        [&] {
            int error = 0;
            std::unique_ptr<ArchiveBytes> bytes = archive_file(path, error);
            if (!bytes)
                return QUODREL_ERROR_OPEN;
            return open_bytes(std::move(bytes), path, flags, archive);
        },
        [] { return QUODREL_ERROR_NO_MEMORY; }); // nothing else throws here
}

quodrel_error quodrel_open_memory(const void* data, size_t size, const char* name, unsigned flags,
                                  quodrel_archive** archive) {
    if (archive)
        *archive = nullptr;
    if ((!data && size != 0) || !archive)
        return QUODREL_ERROR_ARGUMENT;
    return platform::or_no_memory(
        [&] { return open_bytes(archive_in_memory(data, size), name, flags, archive); },
        [] { return QUODREL_ERROR_NO_MEMORY; });
}

quodrel_error quodrel_open_reader(quodrel_read_at read_at, uint64_t size, void* context,
                                  const char* name, unsigned flags, quodrel_archive** archive) {
    if (archive)
        *archive = nullptr;
    if (!read_at || !archive)
        return QUODREL_ERROR_ARGUMENT;
    return platform::or_no_memory(
        [&] {
            return open_bytes(archive_from_reader(read_at, size, context), name, flags, archive);
        },
        [] { return QUODREL_ERROR_NO_MEMORY; });
}

quodrel_error quodrel_open_stream(quodrel_read_next read_next, void* context, const char* name,
                                  unsigned flags, quodrel_archive** archive) {
    if (archive)
        *archive = nullptr;
    if (!read_next || !archive)
        return QUODREL_ERROR_ARGUMENT;
    return platform::or_no_memory(
        [&] {
            auto opened = std::make_unique<quodrel_archive>();
            opened->opened.name = name ? name : "archive";
            const quodrel_error error = read_stream(read_next, context, opened->opened,
                                                    (flags & QUODREL_OPEN_REQUIRE_MAGIC) != 0);
            if (error != QUODREL_OK)
                return error;
            *archive = opened.release();
            return QUODREL_OK;
        },
        [] { return QUODREL_ERROR_NO_MEMORY; });
}

void quodrel_close(quodrel_archive* archive) { delete archive; }

int quodrel_has_magic(const quodrel_archive* archive) {
    return archive && std::memcmp(archive->opened.header.magic, kMagic, sizeof kMagic) == 0;
}

size_t quodrel_entry_count(const quodrel_archive* archive) {
    return archive ? archive->opened.table.size() : 0;
}

size_t quodrel_entry_path(const quodrel_archive* archive, size_t index, char* buffer, size_t size) {
    std::string path;
    if (valid(archive, index)) {
        // No memory for one path: told as an empty one.
        path = platform::or_no_memory([&] { return entry_path(*archive, index); },
                                      [] { return std::string(); });
    }
    return give(path, buffer, size);
}

int64_t quodrel_entry_size(const quodrel_archive* archive, size_t index) {
    return valid(archive, index) ? archive->opened.table[index].record.size : 0;
}

int quodrel_entry_is_folder(const quodrel_archive* archive, size_t index) {
    return valid(archive, index) && archive->opened.table[index].record.size == 0;
}

quodrel_refusal quodrel_entry_refusal(const quodrel_archive* archive, size_t index) {
    if (!valid(archive, index))
        return QUODREL_NO_SUCH_ENTRY;
    const Step& step = archive->opened.plan.steps[index];
    switch (step.action) {
    case Action::make_folder:
    case Action::write_file: return QUODREL_WRITTEN;
    case Action::refuse: return step.refusal();
    case Action::inside:
    case Action::leave: break;
    }
    return QUODREL_REFUSED_INSIDE;
}

quodrel_error quodrel_find(const quodrel_archive* archive, const char* path, size_t* index) {
    if (index)
        *index = QUODREL_NO_INDEX;
    if (!archive || !path || !index)
        return QUODREL_ERROR_ARGUMENT;
    return platform::or_no_memory(
        [&] {
            platform::call_once(archive->indexed, make_index, *archive);
            const PlanRules& rules = archive->opened.rules;
            std::string wanted = compared_path(path, rules);
            // One trailing "/", as -l shows a folder, finds only a folder.
            const bool folder_only = wanted.size() > 1 && wanted.back() == '/';
            if (folder_only)
                wanted.pop_back();
            const std::uint64_t hash = hash_on(kHashStart, wanted);
            const std::vector<std::uint64_t>& hashes = archive->path_hashes;
            auto at =
                std::lower_bound(archive->by_hash.begin(), archive->by_hash.end(), hash,
                                 [&](std::uint32_t i, std::uint64_t h) { return hashes[i] < h; });
            std::size_t refused = QUODREL_NO_INDEX;
            for (; at != archive->by_hash.end() && hashes[*at] == hash; ++at) {
                const std::size_t i = *at;
                if ((folder_only && !quodrel_entry_is_folder(archive, i)) ||
                    compared_path(entry_path(*archive, i), rules) != wanted)
                    continue;
                // What extraction writes at that path is the answer; only where it writes
                // nothing, a refused entry of that path tells why.
                if (is_written(archive->opened.plan.steps[i].action)) {
                    *index = i;
                    return QUODREL_OK;
                }
                if (refused == QUODREL_NO_INDEX)
                    refused = i; // entries of one hash come in table order
            }
            if (refused == QUODREL_NO_INDEX)
                return QUODREL_ERROR_NOT_FOUND;
            *index = refused_one(*archive, refused);
            return QUODREL_ERROR_REFUSED;
        },
        [] { return QUODREL_ERROR_NO_MEMORY; });
}

quodrel_error quodrel_entry_data_offset(const quodrel_archive* archive, size_t index,
                                        uint64_t* offset) {
    if (offset)
        *offset = 0;
    if (!valid(archive, index) || !offset)
        return QUODREL_ERROR_ARGUMENT;
    std::uint64_t start = 0;
    const quodrel_error error = data_start(*archive, index, start);
    if (error == QUODREL_OK)
        *offset = start;
    return error;
}

quodrel_error quodrel_read(const quodrel_archive* archive, size_t index, uint64_t offset,
                           void* buffer, size_t size, size_t* read) {
    if (read)
        *read = 0;
    if (!valid(archive, index) || !read || (!buffer && size != 0))
        return QUODREL_ERROR_ARGUMENT;
    std::uint64_t begin = 0;
    const quodrel_error error = data_start(*archive, index, begin);
    if (error != QUODREL_OK)
        return error;
    const OpenArchive& opened = archive->opened;
    const auto file_size = static_cast<std::uint64_t>(opened.table[index].record.size);
    if (offset >= file_size)
        return QUODREL_OK;
    const std::uint64_t left = file_size - offset;
    const std::size_t want = size < left ? size : static_cast<std::size_t>(left);
    const std::uint64_t start = static_cast<std::uint64_t>(begin) + offset;
    if (!opened.bytes->read_exactly(buffer, want, start))
        return QUODREL_ERROR_READ; // the archive shrank, or cannot be read
    *read = want;
    return QUODREL_OK;
}

} // extern "C"
