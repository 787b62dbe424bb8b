#include "common/read_pacer.h"

#include <algorithm>

namespace edms {

ReadPacer::ReadPacer(uint32_t capacity, Clock::time_point start, std::chrono::milliseconds target,
                     std::chrono::milliseconds window)
    : capacity_(std::max<uint32_t>(capacity, 1)), target_(target), window_(window) {
  history_.emplace_back(start, 0);
}

uint32_t ReadPacer::Next(uint32_t ready, Clock::time_point now) const {
  // The rate since the oldest point kept: the last `window` of the body, or all of it so far.
  // A span shorter than the window says nothing of the rate: the first bytes often come with
  // the reply's headers, and judged over a millisecond they would ask a slow link for a read
  // that holds the thread for many seconds.
  const auto& [since, base] = history_.front();
  const double seconds = std::max(std::chrono::duration<double>(now - since).count(),
                                  std::chrono::duration<double>(window_).count());
  const uint32_t floor = std::min(std::max<uint32_t>(ready, 1), capacity_);
  if (seconds <= 0) return floor;
  const double paced = static_cast<double>(total_ - base) / seconds * std::chrono::duration<double>(target_).count();
  if (paced <= floor) return floor;
  return paced >= capacity_ ? capacity_ : static_cast<uint32_t>(paced);
}

void ReadPacer::Took(uint32_t bytes, Clock::time_point now) {
  total_ += bytes;
  history_.emplace_back(now, total_);
  // Keep one point at or before the window's start as the base of the rate.
  while (history_.size() > 2 && history_[1].first <= now - window_) history_.pop_front();
}

}  // namespace edms
