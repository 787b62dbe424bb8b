// The offered update: the server's version text and the installation's AppType become the name
// of a file that is then run, and the file must be the one the server vouched for.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace edms {

inline constexpr std::size_t kMaxNamePartLength = 64;

// True for 1 to kMaxNamePartLength letters, digits, dots, dashes and underscores (ASCII).
bool IsSafeNamePart(std::string_view text);

// AppType + "[" + version + "].exe", the installer's name in the work folder.
std::string UpdateInstallerName(std::string_view appType, std::string_view version);

// True when both are 32 hexadecimal digits naming the same MD5, without regard to case. An
// empty or malformed checksum (one that could not be computed, or a server that sent none)
// never matches.
bool ChecksumMatches(std::string_view expected, std::string_view actual);

// True when `offered` is a version (1 to 9 decimal digits a part, parts joined by single
// dots) that CompareVersions puts after `installed`. An equal or lower version, or an offer
// that is no plain version, is not an update: a server can never take an installation back.
bool IsNewerVersion(std::string_view installed, std::string_view offered);

// True when `name` is an installer an update of `appType` downloads (UpdateInstallerName of
// any version that IsSafeNamePart accepts), without regard to ASCII case as Windows names are.
bool IsUpdateInstallerName(std::string_view name, std::string_view appType);

}  // namespace edms
