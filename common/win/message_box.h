// Message boxes with UTF-8 text.
#pragma once
#include <windows.h>

#include <string>

namespace edms::win {

// MessageBoxW with the system's usual look: the exclamation icon unless `flags` names
// another; `topmost` adds MB_TOPMOST (the short-lived programs' boxes are topmost).
int ShowMessage(HWND owner, const std::string& text, const std::string& caption,
                UINT flags = MB_OK | MB_ICONEXCLAMATION, bool topmost = true);

// A message box of the calling thread with exactly `caption`; null when none is open.
HWND FindThreadMessageBox(const std::string& caption);

}  // namespace edms::win
