#include "agent/core/worker_queue.h"

#include <exception>
#include <string>

#include "common/win/trace.h"

namespace edms {

WorkerQueue::WorkerQueue(std::size_t capacity) : capacity_(capacity), thread_([this] { Run(); }) {}

WorkerQueue::~WorkerQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

bool WorkerQueue::Post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || jobs_.size() >= capacity_) return false;
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
  return true;
}

bool WorkerQueue::WaitIdle(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [this] { return jobs_.empty() && !busy_; });
}

void WorkerQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    try {
      job();
    } catch (const std::exception& e) {
      win::Trace(std::string("background job failed: ") + e.what());
    } catch (...) {
      win::Trace("background job failed");
    }
    job = nullptr;
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace edms
