// One thread that runs posted jobs in the order they came: the place for work that may wait
// (the registry, a network share) and so must not run on the command service's I/O threads
// or the window thread. The thread starts with a job and ends after `idle` without one: under
// Wine each thread keeps about 1 MiB resident, and the agent spends most of its life idle.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace edms {

class WorkerQueue {
 public:
  explicit WorkerQueue(std::size_t capacity = 1024, std::chrono::milliseconds idle = std::chrono::seconds(30));
  // Runs no new job, lets the running one finish and drops the rest.
  ~WorkerQueue();
  WorkerQueue(const WorkerQueue&) = delete;
  WorkerQueue& operator=(const WorkerQueue&) = delete;

  // Queues `job`, starting the thread when none runs; false (and the job dropped) when the
  // queue is full or stopping or no thread can be made. A job that throws is traced and the
  // queue goes on.
  bool Post(std::function<void()> job);

  // Waits until every job posted before the call has run; false when `bound` ran out first.
  bool WaitIdle(std::chrono::milliseconds bound);

  // True once no thread serves the queue, waiting at most `bound` for the idle one to end
  // (for tests).
  bool WaitForNoThread(std::chrono::milliseconds bound);

 private:
  void Run();

  const std::size_t capacity_;
  const std::chrono::milliseconds idle_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  bool running_ = false;
  std::thread thread_;  // the one serving now, or the last one, ended or ending
};

}  // namespace edms
