// The client configuration shared by all programs: one registry key of the current user.
// This is the one place that opens that key.
#pragma once
#include <cstdint>
#include <string>

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
};

// True when the key exists (it is not created). An installation writes it; a program that
// finds none has nothing to serve.
bool ConfigKeyExists(const std::string& keyPath = kConfigKeyPath);

// Opens (creating if needed) `keyPath` below HKEY_CURRENT_USER and reads every field.
// False, with `config` unchanged, when the key can be neither opened nor listed.
bool LoadClientConfig(const std::string& keyPath, ClientConfig& config);

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
};
AgentSettings LoadAgentSettings(const std::string& keyPath = kConfigKeyPath);

// What the four short-lived programs read at start, before any window exists: the key is
// opened (created when missing); LanguageID when present (even 0); AppType, always or, with
// `appTypeOnlyWithLanguage`, only when LanguageID is present. Nothing when the key cannot be
// opened.
struct ProgramSettings {
  bool opened = false;
  bool hasLanguage = false;
  uint16_t language = 0;
  std::string appType;
};
ProgramSettings LoadProgramSettings(bool appTypeOnlyWithLanguage, const std::string& keyPath = kConfigKeyPath);

}  // namespace edms::win
