#include "common/win/message_box.h"

#include "common/win/text.h"
#include "common/win/window_search.h"

namespace edms::win {

int ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT flags,
                bool topmost) {
  if (topmost) flags |= MB_TOPMOST;
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), flags);
}

HWND FindThreadMessageBox(const std::string& caption) {
  struct Search {
    const std::string& caption;
    HWND found;
  } search{caption, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(param);
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (std::wstring(className) != L"#32770" || WindowTitle(window) != s.caption) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace edms::win
