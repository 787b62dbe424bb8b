#include <gtest/gtest.h>

#include <string>

#include "agent/core/app_rules.h"
#include "agent/resource.h"

namespace edms {
namespace {

TEST(AppRules, AppTypeShapesMenuIconAndTimers) {
  struct Case {
    const char* appType;
    int menu;
    int icon;
    bool notice;
  } cases[] = {
      {"EDMS_AGENT", IDR_TRAYMENU_EDMS_AGENT, IDR_MAINFRAME_EDMS, true},
      // The icon ignores case, the menu does not.
      {"edms_agent", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME_EDMS, true},
      {"ZELTO_CLIENT", IDR_TRAYMENU_ZELTO_CLIENT, IDR_MAINFRAME, true},
      {"ZELTO_CLIENT_COMPAT", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME, false},
      {"zelto_client_compat", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME, true},
      {"", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrayMenuFor(c.appType), c.menu) << c.appType;
    EXPECT_EQ(AppIconFor(c.appType), c.icon) << c.appType;
    EXPECT_EQ(PlanTimers(c.appType, 5, 10).armNotice, c.notice) << c.appType;
  }
}

}  // namespace
}  // namespace edms
