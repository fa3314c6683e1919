// What an archive's writer gathers before it sends: many small writes (records, names,
// small files) become few, each a block of transfer::kCopyBlock bytes (the last one
// less). Where the blocks go is the writer's own: a file at its position, a caller's
// sequential writer.
#pragma once

#include "archive/table.h"
#include "transfer/copy.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quodrel {

class BlockSink : public ByteSink {
public:
    BlockSink() { block_.reserve(transfer::kCopyBlock); }

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const std::size_t n = std::min(size, transfer::kCopyBlock - block_.size());
            block_.insert(block_.end(), bytes, bytes + n);
            bytes += n;
            size -= n;
            if (block_.size() == transfer::kCopyBlock && !flush())
                return false;
        }
        return true;
    }

    // Sends what is gathered; false when it could not be sent.
    bool flush() {
        const bool sent = block_.empty() || send(block_.data(), block_.size());
        block_.clear();
        return sent;
    }

protected:
    ~BlockSink() = default;

private:
    // Sends one block, in order after the ones before it.
    virtual bool send(const char* data, std::size_t size) = 0;

    std::vector<char> block_;
};

} // namespace quodrel
