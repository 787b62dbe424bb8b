// A text value of a file's version resource (CompanyName, FileVersion, ...), looked up by the
// rules of common/version_resource.h. What it says proves nothing about who made the file.
#pragma once
#include <optional>
#include <string>

namespace edms::win {

// Nullopt when the file cannot be read, has no version resource or no such value there.
std::optional<std::string> GetVersionString(const std::string& path, const std::string& name);

}  // namespace edms::win
