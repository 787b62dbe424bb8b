#include "common/win/client_config.h"

#include <optional>

#include "common/win/registry.h"
#include "common/win/trace.h"
#include "common/working_copy.h"

namespace edms::win {
namespace {

// The values the agent owns and writes back, each with how it is written.
struct OwnedText {
  const char* name;
  std::string ClientConfig::*field;
};
constexpr OwnedText kOwnedTexts[] = {
    {"VersionableTypes", &ClientConfig::VersionableTypes}, {"UserId", &ClientConfig::UserId},
    {"EdmUserId", &ClientConfig::EdmUserId},               {"ServerAddress", &ClientConfig::ServerAddress},
    {"AdaptorURL", &ClientConfig::AdaptorURL},             {"WorkFolder", &ClientConfig::WorkFolder},
    {"DownloadFolder", &ClientConfig::DownloadFolder},
};

// Writes the owned values of `after`; with `before`, only those that differ from it.
bool WriteOwnedValues(const ClientConfig* before, const ClientConfig& after) {
  // An empty path would name HKEY_CURRENT_USER itself.
  if (after.KeyPath.empty()) return false;
  CRegistry reg(CRegistry::kWrite);
  if (reg.Open(after.KeyPath) != ERROR_SUCCESS) return false;
  bool ok = true;
  for (const OwnedText& value : kOwnedTexts) {
    if (before && before->*value.field == after.*value.field) continue;
    ok = reg[value.name].SetText(after.*value.field) && ok;
  }
  // Zero means "not chosen": the value the key holds stays.
  if (after.LanguageID != 0 && (!before || before->LanguageID != after.LanguageID)) {
    ok = reg["LanguageID"].SetNumber(after.LanguageID) && ok;
  }
  if (!before || before->NoticeCheckTime != after.NoticeCheckTime) {
    ok = reg["NoticeCheckTime"].SetNumber(after.NoticeCheckTime) && ok;
  }
  if (!before || before->UpdateCheckTime != after.UpdateCheckTime) {
    ok = reg["UpdateCheckTime"].SetNumber(after.UpdateCheckTime) && ok;
  }
  reg.Close();
  return ok;
}

// A byte count given as decimal text or as a number; 0 (no cap) when absent or no count.
uint64_t ByteCount(CRegEntry& entry) {
  if (!entry.HasValue()) return 0;
  const std::optional<uint64_t> count = ParseDecimal(entry.Text());
  if (!count) Trace(entry.Name() + " is no byte count: no cap");
  return count.value_or(0);
}

}  // namespace

LONG LoadClientConfig(const std::string& keyPath, ClientConfig& config) {
  CRegistry reg(CRegistry::kRead);
  if (const LONG status = reg.Open(keyPath); status != ERROR_SUCCESS) return status;

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
  config.OpenableTypes = reg["OpenableTypes"].Text();
  config.MaxDownloadBytes = ByteCount(reg["MaxDownloadBytes"]);
  return ERROR_SUCCESS;
}

bool SaveClientConfig(const ClientConfig& config) { return WriteOwnedValues(nullptr, config); }

bool SaveChangedConfigValues(const ClientConfig& before, const ClientConfig& after) {
  return WriteOwnedValues(&before, after);
}

LONG LoadAgentSettings(const std::string& keyPath, AgentSettings& settings) {
  CRegistry reg(CRegistry::kRead);
  if (const LONG status = reg.Open(keyPath); status != ERROR_SUCCESS) return status;
  settings.edmsUrl = reg["EdmsURL"].Text();
  settings.noticeUrl = reg["NoticeURL"].Text();
  settings.allowedOrigins = reg["AllowedOrigins"].Text();
  settings.servicePort = reg["ServicePort"].Number();
  settings.loginExpirySeconds = reg["LoginExpirySeconds"].Number();
  settings.testLookupHoldSeconds = reg["TestLookupHoldSeconds"].Number();
  settings.testUpdateHoldSeconds = reg["TestUpdateHoldSeconds"].Number();
  return ERROR_SUCCESS;
}

ProgramSettings LoadProgramSettings(bool appTypeOnlyWithLanguage, const std::string& keyPath) {
  ProgramSettings settings;
  CRegistry reg(CRegistry::kRead);
  settings.status = reg.Open(keyPath);
  if (settings.status != ERROR_SUCCESS) return settings;
  CRegEntry& language = reg["LanguageID"];
  if (language.HasValue()) {
    settings.hasLanguage = true;
    settings.language = static_cast<uint16_t>(language.Number() & 0xFFFF);
  }
  if (!appTypeOnlyWithLanguage || settings.hasLanguage) settings.appType = reg["AppType"].Text();
  settings.maxDownloadBytes = ByteCount(reg["MaxDownloadBytes"]);
  settings.markWorkingCopies = reg["MarkWorkingCopies"].Number() == 1;
  return settings;
}

CheckedInSettings LoadCheckedInSettings(const std::string& keyPath) {
  CheckedInSettings settings;
  CRegistry reg(CRegistry::kRead);
  if (reg.Open(keyPath) != ERROR_SUCCESS) return settings;
  settings.workFolder = reg["WorkFolder"].Text();
  if (CRegEntry& days = reg["KeepCheckedInDays"]; days.HasValue()) settings.keepDays = days.Number();
  return settings;
}

}  // namespace edms::win
