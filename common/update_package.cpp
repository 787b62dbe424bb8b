#include "common/update_package.h"

#include "common/ascii.h"
#include "common/version.h"

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

bool IsNewerVersion(std::string_view installed, std::string_view offered) {
  // Nine digits stay below the saturation of CompareVersions' numbers, so no two offers tie.
  constexpr std::size_t kMaxDigits = 9;
  std::size_t digits = 0;
  for (char c : offered) {
    if (c == '.') {
      if (digits == 0) return false;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > kMaxDigits) return false;
    } else {
      return false;
    }
  }
  return digits > 0 && CompareVersions(offered, installed) > 0;
}

bool IsUpdateInstallerName(std::string_view name, std::string_view appType) {
  constexpr std::string_view kEnd = "].exe";
  if (name.size() < appType.size() + 1 + kEnd.size()) return false;
  if (!EqualsIgnoreCase(name.substr(0, appType.size()), appType) || name[appType.size()] != '[') return false;
  if (!EqualsIgnoreCase(name.substr(name.size() - kEnd.size()), kEnd)) return false;
  return IsSafeNamePart(name.substr(appType.size() + 1, name.size() - appType.size() - 1 - kEnd.size()));
}

}  // namespace edms
