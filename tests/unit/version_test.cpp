#include "common/version.h"

#include <gtest/gtest.h>

namespace {

struct NextCase {
  const char* present;
  const char* same;
  const char* minor;
  const char* major;
};

class NextVersionsTest : public ::testing::TestWithParam<NextCase> {};

TEST_P(NextVersionsTest, OffersSameMinorAndMajor) {
  const NextCase& c = GetParam();
  edms::VersionChoices v = edms::NextVersions(c.present);
  EXPECT_EQ(v.same, c.same);
  EXPECT_EQ(v.minor, c.minor);
  EXPECT_EQ(v.major, c.major);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, NextVersionsTest,
    ::testing::Values(
        NextCase{"1.2", "1.2", "1.3", "2.0"},
        NextCase{"3.10.4", "3.10.4", "3.10.5", "3.11.0"},
        NextCase{"1.09", "1.9", "1.10", "2.0"},
        NextCase{"1.02", "1.2", "1.3", "2.0"},
        NextCase{"2.0", "2.0", "2.1", "3.0"},
        NextCase{"1.9", "1.9", "1.10", "2.0"},
        // Earlier parts pass through untouched, even when they are not numbers.
        NextCase{"a.b.7.3", "a.b.7.3", "a.b.7.4", "a.b.8.0"},
        NextCase{"01.2.3", "01.2.3", "01.2.4", "01.3.0"},
        // Trailing dot: the empty last part is a minor of 0.
        NextCase{"1.2.", "1.2.0", "1.2.1", "1.3.0"},
        // Numbers read as the C library reads them.
        NextCase{" 4.5x", "4.5", "4.6", "5.0"},
        NextCase{"x.y", "0.0", "0.1", "1.0"},
        NextCase{"-1.5", "-1.5", "-1.6", "0.0"},
        // No dot at all: a major number with minor 0.
        NextCase{"5", "5.0", "5.1", "6.0"},
        NextCase{"", "0.0", "0.1", "1.0"}));

struct CompareCase {
  const char* a;
  const char* b;
  int sign;
};

TEST(CompareVersionsTest, OrdersNumericallyPartByPart) {
  const CompareCase cases[] = {
      {"1.10", "1.9", 1}, {"1.9", "1.10", -1}, {"2", "2.0", 0},   {"2.0.1", "2.0", 1},
      {"1.0", "1.0", 0},  {"10.0", "9.9", 1},  {"1.2.3", "1.3", -1}, {"", "0", 0},
  };
  for (const CompareCase& c : cases) {
    int r = edms::CompareVersions(c.a, c.b);
    int sign = r < 0 ? -1 : (r > 0 ? 1 : 0);
    EXPECT_EQ(sign, c.sign) << c.a << " vs " << c.b;
  }
}

}  // namespace
