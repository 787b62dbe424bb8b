#include "agent/service/worker_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace edms {
namespace {

using std::chrono::milliseconds;

TEST(WorkerQueue, TheThreadEndsWhenIdleAndTheNextJobStartsAnother) {
  WorkerQueue queue(16, milliseconds(50));
  EXPECT_TRUE(queue.WaitForNoThread(milliseconds(0)));  // nothing posted: no thread

  std::vector<int> order;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.Post([&order, round, i] { order.push_back(round * 10 + i); }));
    ASSERT_TRUE(queue.WaitIdle(milliseconds(10000)));
    ASSERT_TRUE(queue.WaitForNoThread(milliseconds(10000))) << "the idle thread did not end";
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 10, 11, 12}));
}

TEST(WorkerQueue, JobsPostedWhileTheThreadEndsAreNotLost) {
  // With a 1 ms idle time, each post after the last job has run lands just before, during or
  // after the thread's end; every one must still run.
  WorkerQueue queue(16, milliseconds(1));
  int ran = 0;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(queue.Post([&ran] { ++ran; }));
    ASSERT_TRUE(queue.WaitIdle(milliseconds(10000))) << "job " << i << " never ran";
  }
  EXPECT_EQ(ran, 300);
}

}  // namespace
}  // namespace edms
