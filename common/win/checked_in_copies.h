// Keeping checked-in working copies in the work folder's "Checked in" folder, and clearing
// out the ones kept long enough (the rules: common/checked_in_copies.h).
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/checked_in_copies.h"

namespace edms::win {

// Creates `folder` when missing (its parent must exist). ERROR_SUCCESS when it is a folder
// afterwards, ERROR_DIRECTORY when a file holds its name, else the Win32 error.
DWORD MakeCheckedInFolder(const std::string& folder);

// Moves `copyPath` into `folder` (created when missing, its parent must exist) under the
// first free CheckedInCopyName of its name and `version`, never replacing a file, and sets
// its last-write time to now so that its days count from the check-in. The new path; nullopt
// with the Win32 error in `error` when the copy is still where it was.
std::optional<std::string> KeepCheckedInCopy(const std::string& copyPath, const std::string& folder,
                                             const std::string& version, DWORD& error);

// Deletes the files directly in `folder` that CheckedInCopyExpired calls due at `now` (ticks
// since 1601) when kept `keepDays` days. Subfolders, read-only files and files in use stay.
// How many were deleted; 0 when the folder is missing.
size_t RemoveExpiredCheckedInCopies(const std::string& folder, uint32_t keepDays, uint64_t now);

// The present time in ticks since 1601, as file times count.
uint64_t NowFileTicks();

}  // namespace edms::win
