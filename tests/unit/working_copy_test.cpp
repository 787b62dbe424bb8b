#include "common/working_copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace edms {
namespace {

const std::optional<std::string> kRefused = std::nullopt;

TEST(WorkingCopyPath, NamesTheCopyAfterDocumentAndObjectId) {
  struct Case {
    std::string folder, name, oid;
    std::optional<std::string> path;
  } cases[] = {
      {"C:\\Work", "report.final.docx", "42", "C:\\Work\\report.final(42).docx"},
      {"C:\\Work\\", "report.docx", "42", "C:\\Work\\report(42).docx"},
      {"C:/Work/", "report.docx", "42", "C:/Work/report(42).docx"},
      // A name without a dot keeps its whole text before the id.
      {"C:\\Work", "README", "42", "C:\\Work\\(42)"},
      {"C:\\Work", ".profile", "7", "C:\\Work\\(7).profile"},
      {"C:\\Work", "", "42", "C:\\Work\\(42)"},
      {"C:\\Work", "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C.hwp", "DOC-9",
       "C:\\Work\\\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C(DOC-9).hwp"},
      // Never the root of the current drive.
      {"", "report.docx", "42", kRefused},
      // Object ids that would leave the work folder or break the name.
      {"C:\\Work", "report.docx", "", kRefused},
      {"C:\\Work", "report.docx", "..", kRefused},
      {"C:\\Work", "report.docx", "..\\..\\Windows\\x", kRefused},
      {"C:\\Work", "report.docx", "a/b", kRefused},
      {"C:\\Work", "report.docx", "a:stream", kRefused},
      {"C:\\Work", "report.docx", "4\n2", kRefused},
      {"C:\\Work", "report.docx", "4\"2", kRefused},
      {"C:\\Work", "report.docx", "4*2", kRefused},
      // A drive-relative or stream name in the document name.
      {"C:\\Work", "D:report.docx", "42", kRefused},
      {"C:\\Work", "report.docx\x01", "42", kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WorkingCopyPath(c.folder, c.name, c.oid), c.path)
        << "folder=" << c.folder << " name=" << c.name << " oid=" << c.oid;
  }
}

TEST(ParseFileSize, ReadsLeadingDecimalDigits) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  struct Case {
    std::string text;
    uint64_t size;
  } cases[] = {
      {"0", 0},
      {"10240", 10240},
      {"  17", 17},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"-5", 0},
      // Beyond 32 bits: a 5 GiB document.
      {"5368709120", 5368709120ull},
      {"18446744073709551615", kMax},
      {"18446744073709551616", kMax},
      {"99999999999999999999999", kMax},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFileSize(c.text), c.size) << c.text;
}

TEST(ProgressPercent, TruncatesAndStaysExactForLargeCounts) {
  constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
  struct Case {
    uint64_t done, total;
    int percent;
  } cases[] = {
      {0, 100, 0},
      {1, 3, 33},
      {2, 3, 66},
      {10239, 10240, 99},
      {10240, 10240, 100},
      {0, 0, 100},
      {20, 10, 100},
      {3 * kGiB - 1, 3 * kGiB, 99},
      {3 * kGiB / 2, 3 * kGiB, 50},
      {std::numeric_limits<uint64_t>::max() - 1, std::numeric_limits<uint64_t>::max(), 99},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
  }
}

}  // namespace
}  // namespace edms
