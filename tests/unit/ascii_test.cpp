#include "common/ascii.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(Ascii, OnlyAsciiLettersFoldCase) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"EDMS_AGENT", "edms_agent", true},
      {"Content-Length", "content-length", true},
      {"TRUE", "true ", false},
      {"\xC3\x89", "\xC3\xA9", false},  // É and é: not ASCII, compared byte for byte
      {"\xEA\xB9\x80", "\xEA\xB9\x80", true},
      {"@[`{", "@[`{", true},  // the neighbours of the letters do not fold
      {"@", "`", false},
      {"", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(EqualsIgnoreCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  EXPECT_TRUE(ContainsIgnoreCase("\\\\EDMS01\\share", "edms01"));
  EXPECT_TRUE(ContainsIgnoreCase("anything", ""));
  EXPECT_FALSE(ContainsIgnoreCase("edms", "edms01"));
  EXPECT_EQ(AsciiLower("AbC\xC3\x89"), "abc\xC3\x89");
}

}  // namespace
}  // namespace edms
