// A small, independent writer of archives for tests: it lays out bytes by hand so
// tests can build valid, odd and damaged archives without the program's own encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline void put32(std::string& out, std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((v >> shift) & 0xff);
}

// A name_length of kPadded pads the name by the format's rule.
constexpr std::int64_t kPadded = INT64_MIN;

struct TestRecord {
    std::int64_t offset = 0, size = 0, listing_count = 0, child_count = 0, name_length = kPadded;
    std::string name; // written as is
};

class ArchiveWriter {
public:
    ArchiveWriter& dir(const std::string& name, std::int64_t children) {
        TestRecord r;
        r.name = name;
        r.child_count = children;
        records_.push_back(r);
        return *this;
    }
    ArchiveWriter& file(const std::string& name, const std::string& contents) {
        TestRecord r;
        r.name = name;
        r.offset = static_cast<std::int64_t>(data_.size());
        r.size = static_cast<std::int64_t>(contents.size());
        data_ += contents;
        records_.push_back(r);
        return *this;
    }
    // Sets the listing_count of the entry added last.
    ArchiveWriter& listing(std::int64_t count) {
        records_.back().listing_count = count;
        return *this;
    }
    ArchiveWriter& record(const TestRecord& r) {
        records_.push_back(r);
        return *this;
    }
    ArchiveWriter& data(const std::string& bytes) {
        data_ += bytes;
        return *this;
    }
    // The whole archive; a count or data offset given here replaces the true one.
    std::string bytes(std::int64_t count = -1, std::int64_t data_offset = -1) const {
        std::string table;
        for (const TestRecord& r : records_) {
            const std::int64_t length = r.name_length != kPadded
                                            ? r.name_length
                                            : static_cast<std::int64_t>(r.name.size() / 4 * 4 + 4);
            put32(table, r.offset);
            put32(table, r.size);
            put32(table, r.listing_count);
            put32(table, r.child_count);
            put32(table, length);
            std::string name = r.name;
            name.resize(static_cast<std::size_t>(length < 0 ? 0 : length), '\0');
            table += name;
        }
        std::string out = "CHELALIC";
        put32(out, count >= 0 ? count : static_cast<std::int64_t>(records_.size()));
        put32(out, data_offset >= 0 ? data_offset : static_cast<std::int64_t>(16 + table.size()));
        return out + table + data_;
    }

private:
    std::vector<TestRecord> records_;
    std::string data_;
};

// The names of an archive's entries in table order, read the simple way.
inline std::vector<std::string> stored_names(const std::string& archive) {
    auto get32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(archive.at(at + static_cast<std::size_t>(i)));
        return v;
    };
    std::vector<std::string> names;
    std::size_t at = 16;
    for (std::uint32_t i = 0, n = get32(8); i < n; ++i) {
        const std::uint32_t length = get32(at + 16);
        const std::string stored = archive.substr(at + 20, length);
        names.push_back(stored.substr(0, stored.find('\0')));
        at += 20 + length;
    }
    return names;
}

} // namespace testing_support
