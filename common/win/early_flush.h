// Puts a file's data on disk while the file is still being written: once a step of bytes has
// been written since the last flush began, a thread of its own flushes the file, so the
// flush that ends the write waits only for the last part instead of the whole file (over a
// second on a 1 GiB download). Best effort: a flush that fails here is left to the final
// flush to see and report, and without a thread the final flush simply does all the work.
// Windows runs the I/O of one synchronous handle one call at a time, so there a write may
// wait for a flush under way: each such wait is a step's flush, never the whole file's.
#pragma once
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace edms::win {

class EarlyFlush {
 public:
  static constexpr uint64_t kDefaultStep = 32ull << 20;

  // `file` must stay open until Stop() has returned; it is not owned.
  explicit EarlyFlush(HANDLE file, uint64_t step = kDefaultStep);
  ~EarlyFlush();
  EarlyFlush(const EarlyFlush&) = delete;
  EarlyFlush& operator=(const EarlyFlush&) = delete;

  // `total` bytes have been written so far. Never waits for the disk.
  void Wrote(uint64_t total);
  // Waits for a flush under way and ends the thread; the handle may be closed afterwards.
  void Stop();

  // True once a flush has ended, waiting at most `bound` for one (for tests).
  bool WaitForFlush(std::chrono::milliseconds bound);

 private:
  void Run();

  HANDLE file_;
  const uint64_t step_;
  uint64_t next_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable flushed_;
  bool pending_ = false;
  bool stopping_ = false;
  unsigned flushes_ = 0;
  std::thread thread_;  // started at the first step: short files never pay for it
};

}  // namespace edms::win
