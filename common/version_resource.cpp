#include "common/version_resource.h"

#include <cstdio>

namespace edms {

std::string VersionValueQuery(const std::vector<VersionTranslation>& table, uint16_t userLanguage,
                              std::string_view name) {
  const VersionTranslation block = table.size() == 1 ? table.front() : VersionTranslation{userLanguage, 0x04B0};
  char hex[9];
  std::snprintf(hex, sizeof hex, "%04X%04X", unsigned(block.language), unsigned(block.codePage));
  return std::string("\\StringFileInfo\\") + hex + "\\" + std::string(name);
}

}  // namespace edms
