// What became of each entry an operation moves: set by the thread that moved it, read
// on the caller's thread once the entry's job is done. One byte an entry; the
// system's error number only for the rare entry that failed.
#pragma once

#include "platform/sync.h"
#include "quodrel/quodrel.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace quodrel::transfer {

class Outcomes {
public:
    explicit Outcomes(std::size_t entries) : errors_(entries, QUODREL_OK) {}

    // Entry i failed with `error` (QUODREL_ERROR_REFUSED: a name clash found on disk),
    // the system having said `system_error`.
    void fail(std::size_t i, quodrel_error error, int system_error) {
        errors_[i] = static_cast<std::uint8_t>(error);
        if (system_error != 0) {
            platform::Lock hold(lock_);
            system_errors_[i] = system_error;
        }
    }

    quodrel_error error(std::size_t i) const { return static_cast<quodrel_error>(errors_[i]); }

    int system_error(std::size_t i) const {
        platform::Lock hold(lock_);
        const auto found = system_errors_.find(i);
        return found == system_errors_.end() ? 0 : found->second;
    }

    bool any(quodrel_error error) const {
        for (const std::uint8_t e : errors_)
            if (e == error)
                return true;
        return false;
    }

private:
    std::vector<std::uint8_t> errors_; // quodrel_error values, which fit a byte
    mutable platform::Mutex lock_;
    std::unordered_map<std::size_t, int> system_errors_;
};

} // namespace quodrel::transfer
