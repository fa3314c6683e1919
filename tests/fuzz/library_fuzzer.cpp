// The library's reading side through its C interface, on any bytes: opening never
// crashes, a file and the same bytes in memory open alike, every entry has a path, a
// size and a verdict, finding an entry's path gives what extraction writes there (or
// why nothing is), and reads stay within each file and return exactly its bytes.
#include "quodrel/quodrel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// An entry's own path finds what extraction writes there: the entry itself when it is
// written; else one written of the same path, or the refused entry (this one or one
// before it, or the folder it lies in) that tells why.
template <class PathOf>
void check_found(const quodrel_archive* archive, std::size_t count, const std::string& entry,
                 std::size_t i, PathOf path_of) {
    std::size_t found = count;
    const quodrel_error find = quodrel_find(archive, entry.c_str(), &found);
    require(find == QUODREL_OK || find == QUODREL_ERROR_REFUSED, "an entry's path is found");
    require(found < count, "found as an entry");
    if (quodrel_entry_refusal(archive, i) == QUODREL_WRITTEN)
        require(find == QUODREL_OK && found == i, "a written entry is found by its path");
    if (find == QUODREL_OK)
        require(quodrel_entry_refusal(archive, found) == QUODREL_WRITTEN && path_of(found) == entry,
                "what is found is written at that path");
    else
        require(quodrel_entry_refusal(archive, found) != QUODREL_WRITTEN &&
                    quodrel_entry_refusal(archive, found) != QUODREL_REFUSED_INSIDE,
                "a refusal is told by the refused entry itself");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* base = std::getenv("QUODREL_FUZZ_DIR");
    const std::string path =
        std::string(base ? base : "/tmp") + "/library-" + std::to_string(getpid()) + ".dat";
    FILE* file = std::fopen(path.c_str(), "wb");
    require(file && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0,
            "the input written");
    quodrel_archive* archive = nullptr;
    const quodrel_error error = quodrel_open(path.c_str(), 0, &archive);
    require((error == QUODREL_OK) == (archive != nullptr), "an archive exactly on success");
    quodrel_archive* in_memory = nullptr;
    require(quodrel_open_memory(data, size, nullptr, 0, &in_memory) == error,
            "bytes in memory open as the file does");
    require(quodrel_entry_count(in_memory) == quodrel_entry_count(archive), "the same entries");
    quodrel_close(in_memory);
    const std::size_t count = quodrel_entry_count(archive);
    const auto path_of = [archive](std::size_t i) {
        std::string entry(quodrel_entry_path(archive, i, nullptr, 0), '\0');
        quodrel_entry_path(archive, i, &entry[0], entry.size() + 1);
        return entry;
    };
    for (std::size_t i = 0; i < count && i < 2000; ++i) {
        const std::string entry = path_of(i);
        const quodrel_refusal refusal = quodrel_entry_refusal(archive, i);
        // (A name ending in "/" is left out: such a path asks for a folder without it.)
        if (entry.empty() || entry.back() != '/')
            check_found(archive, count, entry, i, path_of);
        const std::int64_t file_size = quodrel_entry_size(archive, i);
        char buffer[64];
        std::size_t got = 0;
        const quodrel_error read = quodrel_read(archive, i, 0, buffer, sizeof buffer, &got);
        if (quodrel_entry_is_folder(archive, i)) {
            require(read == QUODREL_ERROR_NOT_A_FILE, "a folder has no bytes");
            continue;
        }
        if (refusal == QUODREL_REFUSED_DATA_CUT_SHORT ||
            refusal == QUODREL_REFUSED_DATA_OUT_OF_RANGE) {
            require(read == QUODREL_ERROR_REFUSED, "data outside the archive is never read");
            continue;
        }
        if (read != QUODREL_OK) {
            require(got == 0, "nothing told read on an error");
            continue; // outside the table's rules (inside a refused folder): not checked
        }
        require(got == static_cast<std::size_t>(file_size < 64 ? file_size : 64),
                "a read gives the file's bytes, no more");
    }
    quodrel_close(archive);
    unlink(path.c_str());
    return 0;
}
