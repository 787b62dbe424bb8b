// The progress-bar rule shared by every transfer window: the new position is drawn at once.
#pragma once
#include <windows.h>

namespace edms::win {

// Sets `position` without the bar's easing animation: stepping one past the position and
// back makes the control draw immediately. Positions outside the range are clamped.
void SetProgress(HWND bar, int position);

}  // namespace edms::win
