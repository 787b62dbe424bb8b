#include "common/checked_in_copies.h"

#include <limits>

#include "common/filename.h"
#include "common/name_rule.h"

namespace edms {
namespace {

constexpr uint64_t kTicksPerDay = 24ull * 3600 * 10000000;

}  // namespace

std::optional<std::string> CheckedInFolder(std::string_view workFolder) {
  if (workFolder.empty()) return std::nullopt;
  return JoinPath(workFolder, kCheckedInFolderName);
}

std::optional<std::string> CheckedInCopyName(std::string_view copyName, std::string_view version,
                                             unsigned attempt) {
  if (version.empty() || attempt == 0) return std::nullopt;
  const NameParts parts = SplitExtension(copyName);
  std::string name = parts.base + " v" + std::string(version);
  if (attempt > 1) name += " (" + std::to_string(attempt) + ")";
  name += parts.extension;
  if (CheckNameText(name) != NameProblem::kNone) return std::nullopt;
  return name;
}

bool CheckedInCopyExpired(uint64_t lastWrite, uint64_t now, uint32_t keepDays) {
  if (lastWrite >= now) return false;
  // A keeping time beyond what 64 bits of ticks can count never ends.
  if (keepDays > std::numeric_limits<uint64_t>::max() / kTicksPerDay) return false;
  return now - lastWrite > keepDays * kTicksPerDay;
}

}  // namespace edms
