// The library's reading side through its C interface, on any bytes: opening never
// crashes, every entry has a path, a size and a verdict, finding a path gives back
// its first entry, and reads stay within each file and return exactly its bytes.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* base = std::getenv("QUODREL_FUZZ_DIR");
    const std::string path =
        std::string(base ? base : "/tmp") + "/library-" + std::to_string(getpid()) + ".dat";
    FILE* file = std::fopen(path.c_str(), "wb");
    require(file && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0,
            "the input written");
    quodrel_archive* archive = nullptr;
    const quodrel_error error = quodrel_open(path.c_str(), &archive);
    require((error == QUODREL_OK) == (archive != nullptr), "an archive exactly on success");
    const std::size_t count = quodrel_entry_count(archive);
    for (std::size_t i = 0; i < count && i < 2000; ++i) {
        const char* entry = quodrel_entry_path(archive, i);
        require(entry != nullptr, "every entry has a path");
        // Finding a path gives the first entry of that path. One trailing "/" is taken
        // for a folder's and left off, so a path that ends in one (an empty name, a
        // name holding "/") finds what the path without it names, if anything.
        std::string wanted = entry;
        if (wanted.size() > 1 && wanted.back() == '/')
            wanted.pop_back();
        std::size_t found = count;
        const quodrel_error find = quodrel_find(archive, entry, &found);
        if (find == QUODREL_OK)
            require(wanted == quodrel_entry_path(archive, found), "finds an entry of that path");
        if (wanted == entry)
            require(find == QUODREL_OK && found <= i, "an entry's path finds it or one before");
        const std::int64_t file_size = quodrel_entry_size(archive, i);
        const quodrel_refusal refusal = quodrel_entry_refusal(archive, i);
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
        if (read != QUODREL_OK)
            continue; // outside the table's rules (inside a refused folder): not checked
        require(got == static_cast<std::size_t>(file_size < 64 ? file_size : 64),
                "a read gives the file's bytes, no more");
    }
    quodrel_close(archive);
    unlink(path.c_str());
    return 0;
}
