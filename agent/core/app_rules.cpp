#include "agent/core/app_rules.h"

#include "agent/resource.h"
#include "common/win/app_icon.h"

namespace edms {

int TrayMenuFor(std::string_view appType) {
  if (appType == "EDMS_AGENT") return IDR_TRAYMENU_EDMS_AGENT;
  if (appType == "ZELTO_CLIENT") return IDR_TRAYMENU_ZELTO_CLIENT;
  return IDR_TRAYMENU_DEFAULT;
}

int AppIconFor(std::string_view appType) {
  return win::UsesAlternativeIcon(appType) ? IDR_MAINFRAME_EDMS : IDR_MAINFRAME;
}

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
