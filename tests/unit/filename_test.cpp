#include "common/filename.h"

#include <gtest/gtest.h>

#include <string>

namespace edms {
namespace {

TEST(LastPathComponent, TakesTextAfterLastSeparator) {
  struct Case {
    std::string path, last;
  } cases[] = {
      {"C:\\Work\\report.docx", "report.docx"},
      {"/srv/docs/plan.txt", "plan.txt"},
      {"dir/sub\\mixed.txt", "mixed.txt"},
      {"dir\\sub/mixed2.txt", "mixed2.txt"},
      {"bare.txt", "bare.txt"},
      {"folder\\", ""},
      {"", ""},
      {"C:\\\xEB\xB3\xB4\xEA\xB3\xA0\\\xEC\x84\x9C.hwp", "\xEC\x84\x9C.hwp"},
  };
  for (const auto& c : cases) EXPECT_EQ(LastPathComponent(c.path), c.last) << c.path;
}

TEST(SplitExtension, SplitsAtLastDot) {
  struct Case {
    std::string name, base, extension;
  } cases[] = {
      {"report.docx", "report", ".docx"},
      {"archive.tar.gz", "archive.tar", ".gz"},
      {"README", "README", ""},
      {"trailing.", "trailing", "."},
      {".hidden", "", ".hidden"},
      {"", "", ""},
      {"\xEB\xB3\xB4\xEA\xB3\xA0.v2.hwp", "\xEB\xB3\xB4\xEA\xB3\xA0.v2", ".hwp"},
  };
  for (const auto& c : cases) {
    const NameParts parts = SplitExtension(c.name);
    EXPECT_EQ(parts.base, c.base) << c.name;
    EXPECT_EQ(parts.extension, c.extension) << c.name;
    EXPECT_EQ(parts.base + parts.extension, c.name);
  }
}

TEST(IsAbsolutePath, OnlyPathsThatNeedNoCurrentFolder) {
  const struct {
    const char* path;
    bool absolute;
  } cases[] = {
      {"C:\\docs\\a.docx", true}, {"z:/a", true},          {"\\\\edms\\share\\a", true},
      {"//edms/share", true},     {"a.docx", false},       {"C:a.docx", false},
      {"\\a.docx", false},        {"\\\\\\a", false},      {"", false},
      {"1:\\a", false},           {"\xEB\xB3\xB4:\\a", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << c.path;
}

TEST(JoinPath, OneSeparatorBetween) {
  EXPECT_EQ(JoinPath("C:\\Work", "View"), "C:\\Work\\View");
  EXPECT_EQ(JoinPath("C:\\Work\\", "View"), "C:\\Work\\View");
  EXPECT_EQ(JoinPath("Z:/tmp/", "a.txt"), "Z:/tmp/a.txt");
  EXPECT_EQ(JoinPath("", "a.txt"), "a.txt");
}

}  // namespace
}  // namespace edms
