#include "mount/rules.h"

#include <cstdlib>

namespace quodrel::mount {
namespace {

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

std::vector<std::string> option_words(const std::vector<std::string>& lists) {
    std::vector<std::string> words;
    for (const std::string& list : lists) {
        std::string word;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i] == '\\' && i + 1 < list.size()) {
                word += list[++i];
            } else if (list[i] == ',') {
                words.push_back(word);
                word.clear();
            } else {
                word += list[i];
            }
        }
        words.push_back(word);
    }
    return words;
}

AskedOptions read_options(const std::vector<std::string>& lists) {
    AskedOptions asked;
    for (const std::string& word : option_words(lists)) {
        asked.writing = asked.writing || word == "rw";
        if (word.rfind("max_read=", 0) == 0)
            asked.max_read = static_cast<unsigned>(std::strtoul(word.c_str() + 9, nullptr, 10));
    }
    return asked;
}

bool same_contents(const struct stat& before, const struct stat& now) {
    return now.st_size == before.st_size && same_time(now.st_mtim, before.st_mtim) &&
           (same_time(now.st_ctim, before.st_ctim) || now.st_nlink != before.st_nlink);
}

} // namespace quodrel::mount
