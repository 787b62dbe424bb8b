#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "agent/ui/pellarin_app.h"
#include "common/win/client_config.h"
#include "common/win/language.h"
#include "tests/win/scratch_key.h"

namespace edms {
namespace {

// The message the agent stops with tells a missing key from one this user may not read.
TEST(AgentConfigMessage, SaysWhetherTheKeyIsMissingOrUnreadable) {
  win::ApplyLanguage(win::kLangEnglish);
  for (const bool exists : {false, true}) {
    SCOPED_TRACE(exists ? "unreadable" : "missing");
    win::testing::ScratchKey scratch;
    const std::string key = scratch.Sub("Config");
    std::optional<win::testing::KeyAccessLimit> limit;
    if (exists) {
      ASSERT_TRUE(win::testing::RawSetText(key, "AppType", "EDMS_AGENT"));
      limit.emplace(key, READ_CONTROL);  // the user may read nothing
      ASSERT_TRUE(limit->ok());
    }
    win::ClientConfig config;
    const LONG status = win::LoadClientConfig(key, config);
    ASSERT_NE(status, ERROR_SUCCESS);
    EXPECT_EQ(ConfigProblemText(GetModuleHandleW(nullptr), status, key),
              exists ? "Configuration information cannot be read: this user may not read the key HKEY_CURRENT_USER\\" +
                           key + ".\nPlease ask your administrator to allow you to read it."
                     : "Configuration information is not valid.");
  }
}

}  // namespace
}  // namespace edms
