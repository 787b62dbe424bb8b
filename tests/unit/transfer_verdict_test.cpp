#include "common/transfer_verdict.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace edms {
namespace {

TEST(ParseAnnouncedSize, OnlyAPlainByteCountCounts) {
  struct Case {
    std::string text;
    std::optional<uint64_t> size;
  } cases[] = {
      {"0", 0},
      {"10240", 10240},
      {" 17\t", 17},
      {"5368709120", 5368709120ull},
      {"18446744073709551615", 18446744073709551615ull},
      {"18446744073709551616", std::nullopt},
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+5", std::nullopt},
      {"12abc", std::nullopt},
      {"1 2", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseAnnouncedSize(c.text), c.size) << "'" << c.text << "'";
}

TEST(ContentLength, TheHeaderWhateverItsCase) {
  EXPECT_EQ(ContentLength("HTTP/1.1 200 OK\r\ncontent-length: 42\r\nX: 1\r\n\r\n"), 42u);
  EXPECT_EQ(ContentLength("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"), std::nullopt);
  EXPECT_EQ(ContentLength("HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\n"), std::nullopt);
}

TEST(JudgeTransfer, EveryEnding) {
  auto facts = [](uint64_t written, uint64_t announced) {
    TransferFacts f;
    f.written = written;
    f.announced = announced;
    f.bodyBytes = written;
    return f;
  };
  TransferFacts badSize = facts(0, 0);
  badSize.badSize = true;
  TransferFacts notClosed = facts(5, 5);
  notClosed.closed = false;
  TransferFacts cutOff = facts(3, 10);
  cutOff.contentLength = 10;
  TransferFacts shortWithoutLength = facts(3, 10);
  TransferFacts cancelled = facts(3, 10);
  cancelled.contentLength = 10;
  cancelled.stopped = true;
  TransferFacts more = facts(7, 5);
  more.contentLength = 7;
  struct Case {
    const char* what;
    TransferFacts facts;
    TransferVerdict verdict;
  } cases[] = {
      {"complete", facts(5, 5), TransferVerdict::kComplete},
      {"announced empty", facts(0, 0), TransferVerdict::kComplete},
      {"no byte count", badSize, TransferVerdict::kBadSize},
      {"not closed", notClosed, TransferVerdict::kNotClosed},
      {"peer gone before its own length", cutOff, TransferVerdict::kCutOff},
      {"short, no length to hold it to", shortWithoutLength, TransferVerdict::kShort},
      {"stopped early", cancelled, TransferVerdict::kShort},
      {"more than announced", more, TransferVerdict::kShort},
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeTransfer(c.facts), c.verdict) << c.what;
}

}  // namespace
}  // namespace edms
