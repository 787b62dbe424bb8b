#include "common/app_rules.h"

#include "common/ascii.h"

namespace edms {

TrayMenuKind TrayMenuFor(std::string_view appType) {
  if (appType == "EDMS_AGENT") return TrayMenuKind::kEdmsAgent;
  if (appType == "ZELTO_CLIENT") return TrayMenuKind::kZeltoClient;
  return TrayMenuKind::kDefault;
}

bool UsesAlternativeIcon(std::string_view appType) { return EqualsIgnoreCase(appType, "EDMS_AGENT"); }

bool IsCompatAppType(std::string_view appType) { return appType == kCompatAppType; }

std::string_view UpdateProductWord(std::string_view appType) {
  return appType == "EDMS_AGENT" ? "EDMS Agent" : "Zelto client";
}

int InitialSliderPosition(uint32_t configuredMinutes, int fallback) {
  if (configuredMinutes == 0) return fallback;
  // Anything above the trackbar's range ends at its top anyway; keep it in int range.
  return configuredMinutes > 1000 ? 1000 : static_cast<int>(configuredMinutes);
}

TimerPlan PlanTimers(std::string_view appType, int noticeMinutes, int updateMinutes) {
  TimerPlan plan;
  plan.armNotice = !IsCompatAppType(appType);
  plan.noticeMs = static_cast<unsigned>(noticeMinutes) * 60000u;
  plan.updateMs = static_cast<unsigned>(updateMinutes) * 60000u;
  return plan;
}

}  // namespace edms
