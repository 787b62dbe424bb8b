// Moving a progress bar so that it shows the new position at once.
#pragma once
#include <windows.h>

namespace edms::checkin {

// Steps one past `position` and back (the only way to skip the bar's easing); at the top
// of the range the range is widened for a moment. Positions below the range are clamped.
void SetProgress(HWND bar, int position);

}  // namespace edms::checkin
