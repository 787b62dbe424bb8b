#include "agent/service/worker_queue.h"

#include <exception>
#include <string>
#include <system_error>

#include "common/win/trace.h"

namespace edms {

WorkerQueue::WorkerQueue(std::size_t capacity, std::chrono::milliseconds idle) : capacity_(capacity), idle_(idle) {}

WorkerQueue::~WorkerQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool WorkerQueue::Post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || jobs_.size() >= capacity_) return false;
    if (!running_) {
      // The last thread cleared running_ as its final step under the lock: joining it waits
      // only for its exit, never for a job.
      if (thread_.joinable()) thread_.join();
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error& e) {
        win::Trace(std::string("no background thread: ") + e.what());
        return false;
      }
      running_ = true;
    }
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
  return true;
}

bool WorkerQueue::WaitForNoThread(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [this] { return !running_; });
}

bool WorkerQueue::WaitIdle(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [this] { return jobs_.empty() && !busy_; });
}

void WorkerQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!changed_.wait_for(lock, idle_, [this] { return stopping_ || !jobs_.empty(); }) || stopping_) {
      running_ = false;
      changed_.notify_all();
      return;
    }
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
