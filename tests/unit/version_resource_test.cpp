#include "common/version_resource.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(VersionValueQuery, OnlyEntryElseUserLanguageWithUnicode) {
  const struct {
    std::vector<VersionTranslation> table;
    uint16_t userLanguage;
    const char* query;
  } cases[] = {
      {{{0x0409, 0x04B0}}, 0x0412, "\\StringFileInfo\\040904B0\\CompanyName"},
      {{{0x0412, 0x03B5}}, 0x0409, "\\StringFileInfo\\041203B5\\CompanyName"},
      {{{0x0000, 0x04E4}}, 0x0409, "\\StringFileInfo\\000004E4\\CompanyName"},
      {{}, 0x0412, "\\StringFileInfo\\041204B0\\CompanyName"},
      {{{0x0409, 0x04B0}, {0x0412, 0x04B0}}, 0x0c0a, "\\StringFileInfo\\0C0A04B0\\CompanyName"},
  };
  for (const auto& c : cases) EXPECT_EQ(VersionValueQuery(c.table, c.userLanguage, "CompanyName"), c.query);
}

}  // namespace
}  // namespace edms
