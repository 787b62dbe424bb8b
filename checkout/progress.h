// Moving a progress bar so that it draws the new position at once.
#pragma once
#include <windows.h>

namespace edms::checkout {

// Sets `position` without the bar's easing animation: stepping one past the position and
// back makes the control draw immediately. Positions outside the range are clamped.
void SetProgress(HWND bar, int position);

}  // namespace edms::checkout
