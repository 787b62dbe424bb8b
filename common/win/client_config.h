// The client configuration shared by all programs: one registry key of the current user.
// This is the one place that opens that key.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/checked_in_copies.h"

namespace edms::win {

inline constexpr char kConfigKeyPath[] = "Software\\kelvora\\Zelto\\Config";

// The agent's in-memory copy of the configuration. Absent text reads as empty, absent
// numbers as 0.
struct ClientConfig {
  std::string VersionableTypes;
  std::string UserId;
  std::string EdmUserId;
  std::string AdaptorURL;
  std::string WorkFolder;
  std::string DownloadFolder;
  std::string ServerAddress;
  std::string AppType;
  std::string AppLastModified;
  uint16_t LanguageID = 0;  // low 16 bits of the value; 0 when absent
  std::string KeyPath;      // the key path the record was loaded from
  std::string UpdateURL;
  std::string AppVersion;
  uint32_t NoticeCheckTime = 0;  // minutes
  uint32_t UpdateCheckTime = 0;  // minutes
  // The administrator's limits, read but never written: the types the agent opens by itself
  // (';'-separated, empty: the default list, "*": any type but a program) and the largest
  // file any download may write (0: no cap beyond the disk's free space).
  std::string OpenableTypes;
  uint64_t MaxDownloadBytes = 0;
};

// Reads every field of `keyPath` below HKEY_CURRENT_USER, asking only for the right to read
// (an administrator may leave the key readable but not writable); a missing key is never
// created. The Win32 result: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the key is missing,
// ERROR_ACCESS_DENIED when this user may not read it; `config` is unchanged unless it succeeds.
LONG LoadClientConfig(const std::string& keyPath, ClientConfig& config);

// Writes the agent-owned values to config.KeyPath (created if needed): the seven texts,
// LanguageID only when non-zero, both check times always. AppType, AppLastModified,
// UpdateURL and AppVersion are never written. False when the key cannot be opened or any
// value was not written.
bool SaveClientConfig(const ClientConfig& config);

// Writes only the agent-owned values that differ between `before` (what the key holds as far
// as the agent knows) and `after`, under the same rules, so that values an administrator
// changed meanwhile are left alone. True when there was nothing to write or every write
// succeeded.
bool SaveChangedConfigValues(const ClientConfig& before, const ClientConfig& after);

// Values of the key that only the agent's main window reads: the EDMS and notice pages and
// the command service's endpoint (ServicePort and LoginExpirySeconds exist for tests).
struct AgentSettings {
  std::string edmsUrl;         // EdmsURL
  std::string noticeUrl;       // NoticeURL
  std::string allowedOrigins;  // AllowedOrigins
  uint32_t servicePort = 0;
  uint32_t loginExpirySeconds = 0;
  // Tests only: every session-user lookup first waits this long, as behind a share that does
  // not answer.
  uint32_t testLookupHoldSeconds = 0;
  // Tests only: an update's downloaded installer is held this long before its checks.
  uint32_t testUpdateHoldSeconds = 0;
};
// Read as LoadClientConfig reads; `settings` is unchanged unless it answers ERROR_SUCCESS.
LONG LoadAgentSettings(const std::string& keyPath, AgentSettings& settings);

// What the four short-lived programs read at start, before any window exists, read as
// LoadClientConfig reads: LanguageID when present (even 0); AppType, always or, with
// `appTypeOnlyWithLanguage`, only when LanguageID is present. Nothing but `status` (the Win32
// result of reading the key) when the key cannot be read.
struct ProgramSettings {
  uint64_t maxDownloadBytes = 0;   // MaxDownloadBytes: the largest file a download may write; 0 no cap
  bool markWorkingCopies = false;  // MarkWorkingCopies=1: working copies carry the internet mark too
  LONG status = ERROR_FILE_NOT_FOUND;
  bool hasLanguage = false;
  uint16_t language = 0;
  std::string appType;
};
ProgramSettings LoadProgramSettings(bool appTypeOnlyWithLanguage, const std::string& keyPath = kConfigKeyPath);

// Where copies are kept after their check-in and for how long: WorkFolder and
// KeepCheckedInDays (kDefaultKeepCheckedInDays when absent; 0: not kept at all). A key that
// cannot be read gives no work folder and the default days.
struct CheckedInSettings {
  std::string workFolder;
  uint32_t keepDays = kDefaultKeepCheckedInDays;
};
CheckedInSettings LoadCheckedInSettings(const std::string& keyPath = kConfigKeyPath);

}  // namespace edms::win
