// Working copies kept after their check-in. The server's "accepted" carries nothing that proves
// it stored the bytes, so the copy is moved aside for a number of days instead of deleted: the
// user's edits survive a server that said yes and lost them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace edms {

// The folder below the work folder that holds them, the same name in every language.
inline constexpr char kCheckedInFolderName[] = "Checked in";
// KeepCheckedInDays when the configuration has none.
inline constexpr uint32_t kDefaultKeepCheckedInDays = 7;
// Names tried for one copy before it is left where it was.
inline constexpr unsigned kCheckedInNameAttempts = 999;

// workFolder + "\Checked in"; nullopt for an empty work folder (never a folder of whatever
// drive is current).
std::optional<std::string> CheckedInFolder(std::string_view workFolder);

// The kept copy's name: the working copy's name with " v" + version before its extension,
// cut at the last '.' ("Report(42).docx", "1.3" -> "Report(42) v1.3.docx"; "(42)" ->
// "(42) v1.3"), and from attempt 2 on " (n)" after the version ("Report(42) v1.3 (2).docx").
// nullopt when the version is empty, the attempt is 0, or the name made breaks the file-name
// rule of common/name_rule.h (a separator or ':' from the version, a name too long, a trailing
// '.' that Windows would drop, ...).
std::optional<std::string> CheckedInCopyName(std::string_view copyName, std::string_view version,
                                             unsigned attempt);

// True when a kept copy last written at `lastWrite` is more than `keepDays` whole days old at
// `now` (both in 100 ns ticks since 1601). With 0 days every copy written before now is due;
// a copy written after `now` (a clock set back) is never due.
bool CheckedInCopyExpired(uint64_t lastWrite, uint64_t now, uint32_t keepDays);

}  // namespace edms
