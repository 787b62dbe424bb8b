#include "common/win/detached_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace edms::win {
namespace {

// Short threads started in bursts, as the agent starts its background work: each must run its
// own body once, including those that end before the next is started, and one that throws
// ends alone.
TEST(DetachedThread, ManyShortThreadsEachRunTheirOwnBodyOnce) {
  struct Tally {
    std::mutex mutex;
    std::condition_variable changed;
    int ran = 0;
    long long sum = 0;
  };
  const auto tally = std::make_shared<Tally>();
  constexpr int kThreads = 1000;
  long long expected = 0;
  for (int i = 1; i <= kThreads; ++i) {
    expected += i;
    ASSERT_TRUE(StartDetachedThread([tally, i] {
      {
        std::lock_guard<std::mutex> lock(tally->mutex);
        ++tally->ran;
        tally->sum += i;
      }
      tally->changed.notify_all();
      if (i % 100 == 0) throw std::runtime_error("a body that fails");
    }));
  }
  std::unique_lock<std::mutex> lock(tally->mutex);
  ASSERT_TRUE(tally->changed.wait_for(lock, std::chrono::seconds(60), [&] { return tally->ran == kThreads; }))
      << tally->ran << " of " << kThreads << " ran";
  EXPECT_EQ(tally->sum, expected);
}

}  // namespace
}  // namespace edms::win
