#include "common/read_pacer.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

using std::chrono::milliseconds;
constexpr uint32_t kCapacity = 256 * 1024;

// Feeds reads of `bytes` every `every` for `span`, then asks what the next read should be.
uint32_t After(ReadPacer& pacer, ReadPacer::Clock::time_point& now, uint32_t bytes, milliseconds every,
               milliseconds span, uint32_t ready) {
  for (milliseconds t{0}; t < span; t += every) {
    now += every;
    pacer.Took(bytes, now);
  }
  return pacer.Next(ready, now);
}

TEST(ReadPacer, SizesReadsToTheRecentRate) {
  ReadPacer::Clock::time_point now{};
  ReadPacer pacer(kCapacity, now);
  EXPECT_EQ(pacer.Next(8192, now), 8192u) << "nothing known yet: only what is there";
  // 8 KiB every millisecond (8 MB/s): 50 ms bring 400 KiB, more than one read may take.
  EXPECT_EQ(After(pacer, now, 8192, milliseconds(1), milliseconds(300), 8192), kCapacity);
  // The link slows to 1000 bytes a second: within the window the reads shrink to what waits.
  EXPECT_EQ(After(pacer, now, 1000, milliseconds(1000), milliseconds(2000), 1000), 1000u);
  // 400 KB/s: 50 ms bring 20 000 bytes.
  const uint32_t medium = After(pacer, now, 4000, milliseconds(10), milliseconds(1000), 100);
  EXPECT_GE(medium, 19000u);
  EXPECT_LE(medium, 21000u);
}

TEST(ReadPacer, NeverBelowWhatWaitsNorAboveTheCapacity) {
  ReadPacer::Clock::time_point now{};
  ReadPacer pacer(4096, now);
  EXPECT_EQ(pacer.Next(100000, now), 4096u);
  now += milliseconds(100);
  pacer.Took(4096, now);
  EXPECT_EQ(pacer.Next(10, now), 819u) << "4096 bytes over no less than the 250 ms window: 819 in 50 ms";
}

TEST(ReadPacer, FirstBytesWithTheHeadersDoNotAskASlowLinkForMore) {
  // 4 KiB came with the headers a millisecond after the start; the link then brings 10 KiB a
  // second. The next read must not ask for more than a fraction of what came.
  ReadPacer::Clock::time_point now{};
  ReadPacer pacer(1024 * 1024, now);
  now += milliseconds(1);
  pacer.Took(4096, now);
  EXPECT_LE(pacer.Next(100, now + milliseconds(1)), 4096u);
}

}  // namespace
}  // namespace edms
