#include "common/win/message_box.h"

#include "common/win/text.h"

namespace edms::win {

int ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT flags,
                bool topmost) {
  if (topmost) flags |= MB_TOPMOST;
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), flags);
}

}  // namespace edms::win
