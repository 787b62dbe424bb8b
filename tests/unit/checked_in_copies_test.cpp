#include "common/checked_in_copies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace edms {
namespace {

const std::optional<std::string> kRefused = std::nullopt;

TEST(CheckedInCopyName, PutsTheVersionBeforeTheExtensionAndCountsTakenNames) {
  struct Case {
    std::string copy, version;
    unsigned attempt;
    std::optional<std::string> name;
  } cases[] = {
      {"Report(42).docx", "1.3", 1, "Report(42) v1.3.docx"},
      {"Report(42).docx", "1.3", 2, "Report(42) v1.3 (2).docx"},
      {"report.final(42).docx", "2.0", 12, "report.final(42) v2.0 (12).docx"},
      {"(42)", "1.3", 1, "(42) v1.3"},
      {"\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C(DOC-9).hwp", "1.02", 1,
       "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C(DOC-9) v1.02.hwp"},
      // A trailing dot inside the name is kept; at its end Windows would drop it.
      {"Report(42).docx", "1.", 1, "Report(42) v1..docx"},
      {"(42)", "1.", 1, kRefused},
      {"Report(42).docx", "", 1, kRefused},
      // A version from the server never leads out of the folder or into a stream.
      {"Report(42).docx", "1\\..\\..\\x", 1, kRefused},
      {"Report(42).docx", "1:3", 1, kRefused},
      {std::string(250, 'a') + "(42).docx", "1.3", 1, kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckedInCopyName(c.copy, c.version, c.attempt), c.name)
        << c.copy << " " << c.version << " " << c.attempt;
  }
}

TEST(CheckedInCopyExpired, AfterMoreThanTheKeptDays) {
  constexpr uint64_t kDay = 24ull * 3600 * 10000000;
  constexpr uint64_t kNow = 133'000'000'000'000'000ull;
  struct Case {
    uint64_t age;  // ticks before now; UINT64_MAX: written after now
    uint32_t days;
    bool expired;
  } cases[] = {
      {7 * kDay - 1, 7, false},
      {7 * kDay, 7, false},
      {7 * kDay + 1, 7, true},
      {1, 0, true},
      {0, 0, false},
      {UINT64_MAX, 0, false},
      {kNow - 1, UINT32_MAX, false},  // a keeping time beyond 64 bits of ticks
  };
  for (const auto& c : cases) {
    const uint64_t lastWrite = c.age == UINT64_MAX ? kNow + kDay : kNow - c.age;
    EXPECT_EQ(CheckedInCopyExpired(lastWrite, kNow, c.days), c.expired) << c.age << " " << c.days;
  }
}

}  // namespace
}  // namespace edms
