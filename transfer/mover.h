// The ordered mover both operations share: it cuts the entry table into jobs (batches
// of small files of one folder, and big files one by one), runs them on the pool,
// keeps at most kWindow of them under way, and reports the entries in table order
// on the caller's thread, whatever the timing. What one job does with its bytes
// (files into the archive, or the archive into files) is the operation's.
#pragma once

#include "platform/files.h"
#include "transfer/copy.h"
#include "transfer/workers.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quodrel::transfer {

// Small files move in batches: their bytes, back to back in the archive, go through
// one block with one read or write of the archive. Measured on a copy of
// /usr/include in tmpfs with 2 threads: packing took 0.60 of GNU tar's time against
// 0.63 when files from 16 KiB on were copied inside the kernel one by one (each with
// a call to check its end); batches of 512 KiB were no faster (105 against 103 ms).
constexpr std::uint64_t kBatchBytes = 1 << 17;
constexpr std::size_t kBatchFiles = 256;
// From this size on a file is a job of its own, moved by the copier.
constexpr std::uint64_t kBigFile = kBatchBytes;
// A run of bytes that lie back to back in their source as in the archive (an archive
// being updated, copied from): at most this much in one job, copied with one call.
// Measured on -u of a 1 MiB file over /usr/include's archive in tmpfs (medians of 9
// paired runs): 95 ms in runs of 64 MiB, 99 ms in runs of one batch; cp of the archive
// took 62 ms, cp over a copy of it (its pages freed, as -u frees the old archive's) 78.
constexpr std::uint64_t kRunBytes = 1 << 26;
// Jobs under way at most: enough to keep every thread busy while the caller's thread
// reports, few enough that their data stays small.
constexpr std::size_t kWindow = 256;
// Where each job keeps its bytes until they are reported (an archive written in order,
// the caller's thread writing what the others read), fewer: each holds a batch.
constexpr std::size_t kWindowHoldingBytes = 16;

// How an operation moves contents: on how many threads (the caller's included), and
// who is told of the files not complete yet.
struct Crew {
    unsigned threads = 1;
    platform::Watch watch;
};

// One job: a batch of small files, or one big file.
struct Job {
    std::size_t number = 0;          // 0, 1, 2, ... in the order jobs are given
    std::size_t first = 0, last = 0; // entries [first, last)
    std::shared_ptr<void> context;   // what the operation keeps for them (their open folder)
    std::uint64_t start = 0;         // where the first one's data lies in the archive
    std::uint64_t bytes = 0;
    bool run = false; // entries whose bytes lie back to back in one source (add_run)
    bool big() const { return !run && last - first == 1 && bytes >= kBigFile; }
};

// What one thread needs to move file contents.
struct Hands {
    unsigned thread = 0;     // the thread's number (0 is the caller's)
    std::vector<char> block; // a batch's bytes
    Copier copier;           // a big file's
};

class OrderedMover {
public:
    // `move(job, hands)` moves one job's bytes on some thread; `report(entry)` tells
    // the user what became of one entry, on the caller's thread, in table order, once
    // its job is done (false: nothing more is reported or given). `threads` threads in
    // all, the caller's included, each with a block of `block_bytes`, allocated here,
    // before anything is written, so that no thread runs out of memory halfway. At most
    // `window` jobs are under way: job number n may keep what it needs in place
    // n % window until its last entry is reported.
    OrderedMover(unsigned threads, std::size_t block_bytes,
                 std::function<void(const Job&, Hands&)> move,
                 std::function<bool(std::size_t)> report, std::size_t window = kWindow);
    OrderedMover(const OrderedMover&) = delete;
    OrderedMover& operator=(const OrderedMover&) = delete;

    // How many threads' hands there are: their numbers are below it.
    unsigned threads() const { return static_cast<unsigned>(hands_.size()); }

    // Takes file entry `i` of `size` bytes, whose data lies at `start` in the
    // archive, in the folder whose entry is `parent`. `begin(job)` sets what a job
    // needs to know of that folder (its open handle); it is called only when a batch
    // starts.
    template <class Begin>
    void add_file(std::size_t i, std::int32_t parent, std::uint64_t start, std::uint64_t size,
                  Begin&& begin) {
        if (batch_.last > batch_.first &&
            (batch_.run || size >= kBigFile || parent != batch_parent_ ||
             start != batch_.start + batch_.bytes || batch_.bytes + size > kBatchBytes ||
             batch_.last - batch_.first == kBatchFiles))
            cut();
        if (batch_.last == batch_.first) {
            batch_.first = i;
            begin(batch_);
            batch_.start = start;
            batch_parent_ = parent;
        }
        batch_.last = i + 1;
        batch_.bytes += size;
        if (size >= kBigFile)
            cut();
    }

    // Takes file entry `i` of `size` bytes whose data lies at `start` in the archive, and
    // whose bytes lie in a source that needs no folder, right after those of the entry
    // taken before it (the caller cuts where they do not): one job for many entries,
    // whatever their folders, up to kRunBytes.
    void add_run(std::size_t i, std::uint64_t start, std::uint64_t size) {
        if (batch_.last > batch_.first && (!batch_.run || start != batch_.start + batch_.bytes ||
                                           batch_.bytes + size > kRunBytes))
            cut();
        if (batch_.last == batch_.first) {
            batch_.first = i;
            batch_.start = start;
            batch_.run = true;
        }
        batch_.last = i + 1;
        batch_.bytes += size;
    }

    // Hands over the batch being gathered: any entry but a file ends it.
    void cut();

    // Reports every entry before `next` whose job is done by now, without waiting.
    void report_done(std::size_t next);

    // Hands over the batch and reports every entry before `i`, waiting for their
    // jobs: for an entry that may land where an earlier one does.
    void report_all_before(std::size_t i);

    // Hands over the batch and reports every entry, waiting for all jobs.
    void finish(std::size_t entries);

private:
    std::vector<Hands> hands_; // by thread number
    std::vector<Job> ring_;    // jobs under way, by job number modulo the window
    std::function<void(const Job&, Hands&)> move_;
    std::function<bool(std::size_t)> report_;
    Job batch_;
    std::int32_t batch_parent_ = -1;
    Workers workers_; // last: its threads end before the jobs and hands they use
};

} // namespace quodrel::transfer
