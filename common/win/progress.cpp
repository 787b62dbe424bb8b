#include "common/win/progress.h"

#include <commctrl.h>

namespace edms::win {

void SetProgress(HWND bar, int position) {
  if (!bar) return;
  PBRANGE range{};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  if (position < range.iLow) position = range.iLow;
  if (position >= range.iHigh) {
    // Stepping back is the only way to skip the animation, so at the top the range is
    // widened for a moment.
    SendMessageW(bar, PBM_SETRANGE32, range.iLow, range.iHigh + 1);
    SendMessageW(bar, PBM_SETPOS, range.iHigh + 1, 0);
    SendMessageW(bar, PBM_SETPOS, range.iHigh, 0);
    SendMessageW(bar, PBM_SETRANGE32, range.iLow, range.iHigh);
    return;
  }
  SendMessageW(bar, PBM_SETPOS, position + 1, 0);
  SendMessageW(bar, PBM_SETPOS, position, 0);
}

}  // namespace edms::win
