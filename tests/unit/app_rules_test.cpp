#include "common/app_rules.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(AppRules, AppTypeShapesMenuIconAndTimers) {
  struct Case {
    const char* appType;
    TrayMenuKind menu;
    bool alternativeIcon;
    bool notice;
    const char* product;
  } cases[] = {
      {"EDMS_AGENT", TrayMenuKind::kEdmsAgent, true, true, "EDMS Agent"},
      // The icon ignores case, the menu and the update caption do not.
      {"edms_agent", TrayMenuKind::kDefault, true, true, "Zelto client"},
      {"ZELTO_CLIENT", TrayMenuKind::kZeltoClient, false, true, "Zelto client"},
      {"ZELTO_CLIENT_COMPAT", TrayMenuKind::kDefault, false, false, "Zelto client"},
      {"zelto_client_compat", TrayMenuKind::kDefault, false, true, "Zelto client"},
      {"", TrayMenuKind::kDefault, false, true, "Zelto client"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrayMenuFor(c.appType), c.menu) << c.appType;
    EXPECT_EQ(UsesAlternativeIcon(c.appType), c.alternativeIcon) << c.appType;
    EXPECT_EQ(PlanTimers(c.appType, 5, 10).armNotice, c.notice) << c.appType;
    EXPECT_EQ(UpdateProductWord(c.appType), c.product) << c.appType;
  }
}

TEST(AppRules, AlternativeIconOnlyForTheAgentInstallation) {
  const struct {
    const char* appType;
    bool alternative;
  } cases[] = {
      {"Edms_Agent", true}, {"EDMS_AGENT ", false}, {"EDMS", false}, {"EDMS-AGENT", false}, {"XEDMS_AGENT", false},
  };
  for (const auto& c : cases) EXPECT_EQ(UsesAlternativeIcon(c.appType), c.alternative) << "'" << c.appType << "'";
}

TEST(AppRules, IntervalsStartFromTheConfiguration) {
  EXPECT_EQ(InitialSliderPosition(0, 5), 5);
  EXPECT_EQ(InitialSliderPosition(7, 5), 7);
  EXPECT_EQ(InitialSliderPosition(4000000000u, 5), 1000);
  const TimerPlan plan = PlanTimers("", 2, 3);
  EXPECT_EQ(plan.noticeMs, 120000u);
  EXPECT_EQ(plan.updateMs, 180000u);
}

}  // namespace
}  // namespace edms
