// A text value of a file's version resource (CompanyName, FileVersion, ...), looked up the way
// the update looks up an installer's publisher (common/version_resource.h).
#pragma once
#include <optional>
#include <string>

namespace edms::win {

// Nullopt when the file cannot be read, has no version resource or no such value there.
std::optional<std::string> GetVersionString(const std::string& path, const std::string& name);

}  // namespace edms::win
