#include "common/win/message_pump.h"

namespace edms::win {

bool DispatchPendingMessages(WPARAM& quitCode) {
  // Bounded: a window that keeps posting to itself must not hold the work up for ever.
  constexpr int kMaxPerCall = 256;
  bool quit = false;
  MSG msg;
  for (int i = 0; i < kMaxPerCall && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      quit = true;
      quitCode = msg.wParam;
      continue;
    }
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return !quit;
}

}  // namespace edms::win
