// The rules by which the installation kind (AppType) and the configured intervals shape the
// agent's window, icon, tray menu and timers.
#pragma once
#include <cstdint>
#include <string_view>

namespace edms {

inline constexpr char kCompatAppType[] = "ZELTO_CLIENT_COMPAT";

// The tray menu (and tray icon) of an installation kind: "EDMS_AGENT" and "ZELTO_CLIENT"
// have their own, every other kind the default one. Case-sensitive.
enum class TrayMenuKind { kEdmsAgent, kZeltoClient, kDefault };
TrayMenuKind TrayMenuFor(std::string_view appType);

// Every program shows the alternative icon when AppType is "EDMS_AGENT" in any case.
bool UsesAlternativeIcon(std::string_view appType);

// The compatibility kind arms no notice timer and hides its window on activation.
// Case-sensitive.
bool IsCompatAppType(std::string_view appType);

// The product word of the update question's caption: "EDMS Agent" for exactly
// "EDMS_AGENT", else "Zelto client".
std::string_view UpdateProductWord(std::string_view appType);

// The range of the interval trackbars, in minutes.
inline constexpr int kSliderMinutesMin = 1;
inline constexpr int kSliderMinutesMax = 60;

// The trackbar position a configured interval starts at: `fallback` for 0, else the value
// (clamped into the trackbar's range by the window).
int InitialSliderPosition(uint32_t configuredMinutes, int fallback);

struct TimerPlan {
  bool armNotice = true;
  unsigned noticeMs = 0;
  unsigned updateMs = 0;
  unsigned tooltipMs = 5000;
};

// The three timers from the positions read back from the trackbars.
TimerPlan PlanTimers(std::string_view appType, int noticeMinutes, int updateMinutes);

}  // namespace edms
