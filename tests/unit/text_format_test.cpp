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
