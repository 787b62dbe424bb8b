#include "common/text_format.h"

#include <gtest/gtest.h>

namespace {

TEST(FillPlaceholder, ReplacesOnlyTheFirstPlaceholder) {
  struct Case {
    const char* pattern;
    const char* value;
    const char* expected;
  } cases[] = {
      {"Please retry after closing window titled %s.", "Checked out documents",
       "Please retry after closing window titled Checked out documents."},
      {"%s and %s", "a", "a and %s"},
      {"no placeholder", "x", "no placeholder"},
      {"%s", "%s", "%s"},
      {"문서 %s 열림", "보고서", "문서 보고서 열림"},
  };
  for (const Case& c : cases) EXPECT_EQ(edms::FillPlaceholder(c.pattern, c.value), c.expected) << c.pattern;
}

}  // namespace

TEST(FillPlaceholders, FillsEachPlaceholderInOrderWithoutRescanning) {
  EXPECT_EQ(edms::FillPlaceholders("%d unread messages...", {"3"}), "3 unread messages...");
  EXPECT_EQ(edms::FillPlaceholders("An update(Version:%s,Size:%s) is now available.", {"2.0", "1.5 KB"}),
            "An update(Version:2.0,Size:1.5 KB) is now available.");
  // A server's version text that holds a placeholder does not take the size's place.
  EXPECT_EQ(edms::FillPlaceholders("(%s,%s)", {"%s", "9"}), "(%s,9)");
  EXPECT_EQ(edms::FillPlaceholders("100% %s", {"x"}), "100% x");
  EXPECT_EQ(edms::FillPlaceholders("%s and %s", {"a"}), "a and %s");
  EXPECT_EQ(edms::FillPlaceholders("trailing %", {"a"}), "trailing %");
}
