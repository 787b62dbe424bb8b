// Version numbers as the check-in program offers them: the same version, minor + 1
// and major + 1 of a dotted version text such as "1.2" or "3.10.4".
#pragma once
#include <string>
#include <string_view>

namespace edms {

struct VersionChoices {
  std::string same;   // "%s%d.%d"  prefix, major, minor
  std::string minor;  // "%s%d.%d"  prefix, major, minor + 1
  std::string major;  // "%s%d.0"   prefix, major + 1
};

// Only the last two dot-separated parts are numbers; the parts before them pass
// through as text (the prefix). Each number is read like the C library reads a
// decimal (leading blanks, optional sign, digits up to the first other character,
// 0 when there are none), so "1.09" -> 1.9 / 1.10 / 2.0 and "1.2." -> 1.2.0 / 1.2.1 /
// 1.3.0. A version without any "." is taken as a major number with minor 0:
// "5" -> 5.0 / 5.1 / 6.0 and "" -> 0.0 / 0.1 / 1.0. Never fails.
VersionChoices NextVersions(std::string_view versionNo);

// Orders two dotted versions part by part as numbers (missing parts count as 0):
// negative when a < b, 0 when equal, positive when a > b. "1.10" > "1.9", "2" == "2.0".
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace edms
