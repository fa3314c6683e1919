// Copying between files by position: a source that ends early and one that cannot be
// read are told apart, so that creation stores the first as it was read and leaves
// the second out.
#include "transfer/copy.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace quodrel::transfer {
namespace {

// Bytes that end at `end`, or fail to be read from `fails_at` on.
class Source : public Readable {
public:
    Source(std::uint64_t end, std::uint64_t fails_at) : end_(end), fails_at_(fails_at) {}
    std::int64_t read_at(void* to, std::size_t size, std::uint64_t offset) const override {
        if (offset >= fails_at_)
            return -1;
        if (offset >= end_)
            return 0;
        std::uint64_t n = end_ - offset < size ? end_ - offset : size;
        if (fails_at_ - offset < n)
            n = fails_at_ - offset;
        for (std::uint64_t k = 0; k < n; ++k)
            static_cast<char*>(to)[k] = static_cast<char>('a' + (offset + k) % 26);
        return static_cast<std::int64_t>(n);
    }

private:
    std::uint64_t end_, fails_at_;
};

TEST(Copying, ASourceThatEndsIsToldFromOneThatFails) {
    constexpr std::uint64_t kWanted = 3 * kCopyBlock + 100;
    constexpr std::uint64_t kNever = ~std::uint64_t{0};
    const struct {
        std::uint64_t end, fails_at;
        Copy result;
        std::uint64_t copied;
    } rows[] = {
        {kWanted, kNever, Copy::done, kWanted},
        {kWanted + 5, kNever, Copy::done, kWanted}, // what follows is not asked for
        {kCopyBlock + 7, kNever, Copy::short_read, kCopyBlock + 7},
        {0, kNever, Copy::short_read, 0},
        {kWanted, 2 * kCopyBlock + 1, Copy::read_failed, 2 * kCopyBlock + 1},
        {kWanted, 0, Copy::read_failed, 0},
    };
    for (const auto& row : rows) {
        char name[] = "/tmp/quodrel-copy-XXXXXX";
        const int to = mkstemp(name);
        ASSERT_GE(to, 0);
        unlink(name);
        Copier copier;
        std::uint64_t copied = 99;
        EXPECT_EQ(copier.copy(Source(row.end, row.fails_at), 0, to, 10, kWanted, copied),
                  row.result)
            << row.end << " " << row.fails_at;
        EXPECT_EQ(copied, row.copied) << row.end << " " << row.fails_at;
        // What arrived is the source's bytes, where they were asked to go.
        std::string back(copied, '\0');
        EXPECT_EQ(pread(to, &back[0], copied, 10), static_cast<ssize_t>(copied));
        for (std::uint64_t k = 0; k < copied; ++k)
            if (back[k] != static_cast<char>('a' + k % 26)) {
                ADD_FAILURE() << "byte " << k;
                break;
            }
        close(to);
    }
}

} // namespace
} // namespace quodrel::transfer
