// The window icon of each program: the installation kind "EDMS_AGENT" selects an
// alternative icon.
#pragma once
#include <windows.h>

#include <string_view>

#include "common/app_rules.h"
#include "common/win/handles.h"

namespace edms::win {

using edms::UsesAlternativeIcon;

// The icons set on a window. Keep them alive as long as the window shows them.
struct WindowIcons {
  UniqueHIcon bigIcon;
  UniqueHIcon smallIcon;
};

// Loads icon `iconId` in the system's big and small sizes and sets them on `window`
// (WM_SETICON). An icon that cannot be loaded is left null and not set.
WindowIcons SetWindowIcons(HWND window, HINSTANCE instance, int iconId);

// Same, choosing `alternativeId` when UsesAlternativeIcon(appType), else `normalId`.
WindowIcons SetProgramIcons(HWND window, HINSTANCE instance, std::string_view appType,
                            int normalId, int alternativeId);

}  // namespace edms::win
