// A whole extraction into a fresh folder. Whatever the archive holds, the program
// ends normally, the archive itself is left as it was, and nothing appears outside
// the destination (a few levels of empty folders around it would show any escape).
#include "quodrel/quodrel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_root; // g_root/a/b/box/{a.dat,out}: the only things that may exist

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* item = readdir(d)) {
            const std::string name = item->d_name;
            if (name != "." && name != "..")
                names.insert(name);
        }
        closedir(d);
    }
    return names;
}

int remove_one(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("QUODREL_FUZZ_DIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/quodrel-fuzz-XXXXXX";
    require(mkdtemp(&pattern[0]) != nullptr, "a folder to extract into");
    g_root = pattern;
    mkdir((g_root + "/a").c_str(), 0777);
    mkdir((g_root + "/a/b").c_str(), 0777);
    std::atexit([] { nftw(g_root.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string box = g_root + "/a/b/box";
    const std::string archive = box + "/a.dat";
    require(mkdir(box.c_str(), 0777) == 0, "a fresh box");
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(archive, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // Every event's words are made (what they say is checked by the test suite).
    quodrel_options options = QUODREL_OPTIONS_INIT;
    options.threads = 1;
    options.on_event = [](void*, const quodrel_event* event) {
        char text[64];
        quodrel_event_text(event, text, sizeof text);
        return 0;
    };
    const quodrel_error error =
        quodrel_extract(archive.c_str(), (box + "/out").c_str(), nullptr, 0, &options);
    require(error != QUODREL_ERROR_ARGUMENT && error != QUODREL_ERROR_CANCELLED,
            "an extraction runs on any bytes");

    require(names_in(g_root) == std::set<std::string>{"a"}, "nothing beside a");
    require(names_in(g_root + "/a") == std::set<std::string>{"b"}, "nothing beside b");
    require(names_in(g_root + "/a/b") == std::set<std::string>{"box"}, "nothing beside box");
    const std::set<std::string> in_box = names_in(box);
    require(in_box == std::set<std::string>{"a.dat"} ||
                in_box == std::set<std::string>{"a.dat", "out"},
            "nothing in the box but the archive and the destination");
    std::ifstream in(archive, std::ios::binary);
    require(std::string(std::istreambuf_iterator<char>(in), {}) == bytes, "archive unchanged");
    nftw(box.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
