#include "common/update_package.h"

#include <gtest/gtest.h>

#include <string>

namespace edms {
namespace {

TEST(IsSafeNamePart, OnlyLettersDigitsDotsDashesUnderscores) {
  const struct {
    std::string text;
    bool safe;
  } cases[] = {
      {"EDMS_AGENT", true},
      {"2.0.1-rc_1", true},
      {"..", true},  // inside AppType[version].exe it is no path step
      {std::string(64, '9'), true},
      {"", false},
      {std::string(65, '9'), false},
      {"1.0/../x", false},
      {"..\\Pellarin", false},
      {"1.0 beta", false},
      {"C:evil", false},
      {"1.0\"", false},
      {"2.0\n", false},
      {"\xEB\xB2\x84\xEC\xA0\x84", false},  // Hangul
      {std::string("1.0\0x", 5), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeNamePart(c.text), c.safe) << c.text;
}

TEST(UpdateInstallerName, AppTypeAndVersionInBrackets) {
  EXPECT_EQ(UpdateInstallerName("EDMS_AGENT", "2.0.1"), "EDMS_AGENT[2.0.1].exe");
}

TEST(ChecksumMatches, SameDigestInAnyCaseOnly) {
  const std::string upper = "D41D8CD98F00B204E9800998ECF8427E";
  const struct {
    std::string expected, actual;
    bool match;
  } cases[] = {
      {upper, upper, true},
      {"d41d8cd98f00b204e9800998ecf8427e", upper, true},
      {upper, "900150983CD24FB0D6963F7D28E17F72", false},
      {"", "", false},  // no checksum on either side is no proof
      {upper, "", false},
      {upper + " ", upper, false},
      {upper.substr(0, 31), upper.substr(0, 31), false},
      {"G41D8CD98F00B204E9800998ECF8427E", "G41D8CD98F00B204E9800998ECF8427E", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ChecksumMatches(c.expected, c.actual), c.match) << c.expected << " " << c.actual;
}

TEST(IsNewerVersion, OnlyAPlainVersionAfterTheInstalledOne) {
  const struct {
    const char* installed;
    const char* offered;
    bool newer;
  } cases[] = {
      {"1.0.0.0", "1.0.0.1", true},
      {"1.9", "1.10", true},  // numbers, not text
      {"", "0.1", true},  // an installation that never wrote its version
      {"1.0.0.0", "1.0.0.0", false},
      {"1.0", "1.0.0", false},  // missing parts count as 0
      {"2.0.0.0", "1.9.9.9", false},
      {"1.0", "2.0-beta", false},  // read as 2.0 by CompareVersions: no plain version
      {"1.0", "2..0", false},
      {"1.0", "2.", false},
      {"1.0", "", false},
      {"1.0.2147483647", "1.0.9999999999", false},  // ten digits would tie at the saturation
  };
  for (const auto& c : cases) EXPECT_EQ(IsNewerVersion(c.installed, c.offered), c.newer) << c.installed << " " << c.offered;
}

TEST(IsUpdateInstallerName, TheAppTypesInstallersOfAnyVersion) {
  const struct {
    const char* name;
    bool installer;
  } cases[] = {
      {"EDMS_AGENT[2.0.1].exe", true},
      {"edms_agent[9.9.0.0].EXE", true},
      {"EDMS_AGENT[].exe", false},
      {"EDMS_AGENT[2.0].exe.~12-1.part", false},
      {"EDMS_OTHER[2.0].exe", false},
      {"EDMS_AGENT[a b].exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsUpdateInstallerName(c.name, "EDMS_AGENT"), c.installer) << c.name;
}

}  // namespace
}  // namespace edms
