#include "agent/core/worker_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace edms {
namespace {

using std::chrono::milliseconds;

// Bounded wait for a condition that another thread makes true.
template <typename Predicate>
bool Within(milliseconds bound, Predicate done) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

TEST(WorkerQueue, TheThreadEndsWhenIdleAndTheNextJobStartsAnother) {
  WorkerQueue queue(16, milliseconds(50));
  EXPECT_FALSE(queue.running());  // nothing posted: no thread

  std::vector<int> order;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.Post([&order, round, i] { order.push_back(round * 10 + i); }));
    ASSERT_TRUE(queue.WaitIdle(milliseconds(10000)));
    ASSERT_TRUE(Within(milliseconds(10000), [&] { return !queue.running(); })) << "the idle thread did not end";
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 10, 11, 12}));
}

TEST(WorkerQueue, JobsPostedWhileTheThreadEndsAreNotLost) {
  // Posts land at every moment of the idle thread's end; each must still run.
  WorkerQueue queue(4096, milliseconds(1));
  std::atomic<int> ran{0};
  int posted = 0;
  for (int i = 0; i < 300; ++i) {
    if (queue.Post([&ran] { ++ran; })) ++posted;
    std::this_thread::sleep_for(std::chrono::microseconds(i % 7 * 300));
  }
  EXPECT_EQ(posted, 300);
  EXPECT_TRUE(Within(milliseconds(20000), [&] { return ran.load() == posted; })) << ran.load() << " of " << posted;
}

}  // namespace
}  // namespace edms
