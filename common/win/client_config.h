// The client configuration shared by all programs: one registry key of the current user.
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

// Opens (creating if needed) `keyPath` below HKEY_CURRENT_USER and reads every field.
// False, with `config` unchanged, when the key can be neither opened nor listed.
bool LoadClientConfig(const std::string& keyPath, ClientConfig& config);

// Writes the agent-owned values to config.KeyPath (created if needed): the seven texts,
// LanguageID only when non-zero, both check times always. AppType, AppLastModified,
// UpdateURL and AppVersion are never written. False, with nothing written, when the key
// cannot be opened.
bool SaveClientConfig(const ClientConfig& config);

}  // namespace edms::win
