// How much of a reply body to ask for in the next read, when the thread that reads also keeps
// a window answering: WinInet's read returns only once it has all it was asked for, so a read
// is sized to take about `target` at the rate the body has been coming in lately. A slow link
// gets short reads (the window answers between them), a fast one large reads (the per-call
// cost stops mattering).
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

namespace edms {

class ReadPacer {
 public:
  using Clock = std::chrono::steady_clock;

  ReadPacer(uint32_t capacity, Clock::time_point start, std::chrono::milliseconds target = std::chrono::milliseconds(50),
            std::chrono::milliseconds window = std::chrono::milliseconds(250));

  // The size of the next read when `ready` bytes are already waiting (reading those never
  // waits): at least `ready`, at most the capacity.
  uint32_t Next(uint32_t ready, Clock::time_point now) const;
  // A read of `bytes` ended at `now`.
  void Took(uint32_t bytes, Clock::time_point now);

 private:
  uint32_t capacity_;
  std::chrono::milliseconds target_, window_;
  uint64_t total_ = 0;
  std::deque<std::pair<Clock::time_point, uint64_t>> history_;  // (time, total) of the recent reads
};

}  // namespace edms
