#include "common/win/client_config.h"

#include "common/win/registry.h"

namespace edms::win {

bool LoadClientConfig(const std::string& keyPath, ClientConfig& config) {
  CRegistry reg(CRegistry::kCreate);
  if (!reg.Open(keyPath)) return false;

  config.KeyPath = keyPath;
  config.VersionableTypes = reg["VersionableTypes"].Text();
  config.UserId = reg["UserId"].Text();
  config.EdmUserId = reg["EdmUserId"].Text();
  config.ServerAddress = reg["ServerAddress"].Text();
  config.AdaptorURL = reg["AdaptorURL"].Text();
  config.WorkFolder = reg["WorkFolder"].Text();
  config.DownloadFolder = reg["DownloadFolder"].Text();
  config.AppType = reg["AppType"].Text();
  config.AppLastModified = reg["AppLastModified"].Text();
  CRegEntry& language = reg["LanguageID"];
  config.LanguageID = language.HasValue() ? static_cast<uint16_t>(language.Number() & 0xFFFF) : 0;
  config.UpdateURL = reg["UpdateURL"].Text();
  config.AppVersion = reg["AppVersion"].Text();
  config.NoticeCheckTime = reg["NoticeCheckTime"].Number();
  config.UpdateCheckTime = reg["UpdateCheckTime"].Number();
  reg.Close();
  return true;
}

bool SaveClientConfig(const ClientConfig& config) {
  // An empty path would name HKEY_CURRENT_USER itself.
  if (config.KeyPath.empty()) return false;
  CRegistry reg(CRegistry::kCreate);
  if (!reg.Open(config.KeyPath)) return false;

  reg["VersionableTypes"] = config.VersionableTypes;
  reg["UserId"] = config.UserId;
  reg["EdmUserId"] = config.EdmUserId;
  reg["ServerAddress"] = config.ServerAddress;
  reg["AdaptorURL"] = config.AdaptorURL;
  reg["WorkFolder"] = config.WorkFolder;
  reg["DownloadFolder"] = config.DownloadFolder;
  // Zero means "not chosen": the value the key holds stays.
  if (config.LanguageID != 0) reg["LanguageID"] = static_cast<uint32_t>(config.LanguageID);
  reg["NoticeCheckTime"] = config.NoticeCheckTime;
  reg["UpdateCheckTime"] = config.UpdateCheckTime;
  reg.Close();
  return true;
}

}  // namespace edms::win
