#include "transfer/mover.h"

namespace quodrel::transfer {
namespace {

std::vector<Hands> make_hands(unsigned threads, std::size_t block_bytes) {
    std::vector<Hands> hands(threads == 0 ? 1 : threads);
    for (std::size_t i = 0; i < hands.size(); ++i) {
        hands[i].thread = static_cast<unsigned>(i);
        hands[i].block.resize(block_bytes);
    }
    return hands;
}

} // namespace

OrderedMover::OrderedMover(unsigned threads, std::size_t block_bytes,
                           std::function<void(const Job&, Hands&)> move,
                           std::function<bool(std::size_t)> report, std::size_t window)
    : hands_(make_hands(threads, block_bytes)), ring_(window), move_(std::move(move)),
      report_(std::move(report)),
      workers_(static_cast<unsigned>(hands_.size()), window, [this](std::size_t job, int slot) {
          Job& it = ring_[job % ring_.size()];
          move_(it, hands_[static_cast<std::size_t>(slot)]);
          it = Job{}; // what it held (an open folder, say) is let go as soon as it is done
      }) {}

void OrderedMover::cut() {
    if (batch_.last == batch_.first)
        return;
    const std::size_t first = batch_.first, last = batch_.last;
    // When the window is full, the oldest job is waited for and reported first.
    const std::size_t number = workers_.make_room(report_);
    batch_.number = number;
    ring_[number % ring_.size()] = std::move(batch_);
    workers_.give(first, last);
    batch_ = Job{};
}

void OrderedMover::report_done(std::size_t next) {
    workers_.report_until(batch_.last > batch_.first ? batch_.first : next, false, report_);
}

void OrderedMover::report_all_before(std::size_t i) {
    cut();
    workers_.report_until(i, true, report_);
}

void OrderedMover::finish(std::size_t entries) { report_all_before(entries); }

} // namespace quodrel::transfer
