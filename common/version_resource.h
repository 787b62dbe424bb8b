// Where a value of a file's version resource is looked up: the update trusts an installer by
// the publisher it names there.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

struct VersionTranslation {
  uint16_t language = 0;
  uint16_t codePage = 0;
};

// "\StringFileInfo\LLLLCCCC\<name>" in upper-case hex: the language and code page of the only
// entry of the translation table when it has exactly one; otherwise `userLanguage` with code
// page 04B0 (Unicode).
std::string VersionValueQuery(const std::vector<VersionTranslation>& table, uint16_t userLanguage,
                              std::string_view name);

}  // namespace edms
