// Letting a window thread's windows answer while that thread does long work (a transfer, a
// wait for a program): the messages already queued are dispatched between steps of the work.
#pragma once
#include <windows.h>

namespace edms::win {

// Dispatches the messages waiting in the calling thread's queue (keys of a dialog through
// IsDialogMessage, so Tab, Enter and Esc behave), at most a bounded number per call, and
// returns. A WM_QUIT among them is taken out: false, with its code in `quitCode`, and the
// caller posts it again once its own work is over.
bool DispatchPendingMessages(WPARAM& quitCode);

}  // namespace edms::win
