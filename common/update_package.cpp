#include "common/update_package.h"

#include "common/ascii.h"

namespace edms {
namespace {

bool IsAsciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsMd5Text(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    const char lower = AsciiLower(c);
    if (!((lower >= '0' && lower <= '9') || (lower >= 'a' && lower <= 'f'))) return false;
  }
  return true;
}

}  // namespace

bool IsSafeNamePart(std::string_view text) {
  if (text.empty() || text.size() > kMaxNamePartLength) return false;
  for (char c : text) {
    if (!IsAsciiAlnum(c) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

std::string UpdateInstallerName(std::string_view appType, std::string_view version) {
  return std::string(appType) + "[" + std::string(version) + "].exe";
}

bool ChecksumMatches(std::string_view expected, std::string_view actual) {
  return IsMd5Text(expected) && IsMd5Text(actual) && EqualsIgnoreCase(expected, actual);
}

}  // namespace edms
