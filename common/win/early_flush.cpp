#include "common/win/early_flush.h"

#include <system_error>

namespace edms::win {

EarlyFlush::EarlyFlush(HANDLE file, uint64_t step) : file_(file), step_(step ? step : kDefaultStep), next_(step_) {}

EarlyFlush::~EarlyFlush() { Stop(); }

void EarlyFlush::Wrote(uint64_t total) {
  if (total < next_) return;
  next_ = total + step_;
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  pending_ = true;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      stopping_ = true;  // no thread: the final flush does it all
      return;
    }
  }
  wake_.notify_one();
}

void EarlyFlush::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool EarlyFlush::WaitForFlush(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return flushed_.wait_for(lock, bound, [this] { return flushes_ > 0; });
}

void EarlyFlush::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || stopping_; });
    // Stopping: the owner flushes the rest itself, right after.
    if (stopping_) return;
    pending_ = false;
    lock.unlock();
    FlushFileBuffers(file_);
    lock.lock();
    ++flushes_;
    flushed_.notify_all();
  }
}

}  // namespace edms::win
