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
    const char* product;
  } cases[] = {
      {"EDMS_AGENT", IDR_TRAYMENU_EDMS_AGENT, IDR_MAINFRAME_EDMS, true, "EDMS Agent"},
      // The icon ignores case, the menu and the update caption do not.
      {"edms_agent", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME_EDMS, true, "Zelto client"},
      {"ZELTO_CLIENT", IDR_TRAYMENU_ZELTO_CLIENT, IDR_MAINFRAME, true, "Zelto client"},
      {"ZELTO_CLIENT_COMPAT", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME, false, "Zelto client"},
      {"zelto_client_compat", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME, true, "Zelto client"},
      {"", IDR_TRAYMENU_DEFAULT, IDR_MAINFRAME, true, "Zelto client"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrayMenuFor(c.appType), c.menu) << c.appType;
    EXPECT_EQ(AppIconFor(c.appType), c.icon) << c.appType;
    EXPECT_EQ(PlanTimers(c.appType, 5, 10).armNotice, c.notice) << c.appType;
    EXPECT_EQ(UpdateProductWord(c.appType), c.product) << c.appType;
  }
}

}  // namespace
}  // namespace edms
