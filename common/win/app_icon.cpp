#include "common/win/app_icon.h"

namespace edms::win {
namespace {

UniqueHIcon LoadIconSized(HINSTANCE instance, int iconId, int cxMetric, int cyMetric) {
  return UniqueHIcon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconId),
                                                   IMAGE_ICON, GetSystemMetrics(cxMetric),
                                                   GetSystemMetrics(cyMetric), 0)));
}

}  // namespace

WindowIcons SetWindowIcons(HWND window, HINSTANCE instance, int iconId) {
  WindowIcons icons;
  icons.bigIcon = LoadIconSized(instance, iconId, SM_CXICON, SM_CYICON);
  icons.smallIcon = LoadIconSized(instance, iconId, SM_CXSMICON, SM_CYSMICON);
  if (window) {
    if (icons.bigIcon)
      SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.bigIcon.get()));
    if (icons.smallIcon)
      SendMessageW(window, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(icons.smallIcon.get()));
  }
  return icons;
}

WindowIcons SetProgramIcons(HWND window, HINSTANCE instance, std::string_view appType,
                            int normalId, int alternativeId) {
  return SetWindowIcons(window, instance,
                        UsesAlternativeIcon(appType) ? alternativeId : normalId);
}

}  // namespace edms::win
