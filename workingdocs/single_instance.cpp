#include "single_instance.h"

#include <chrono>
#include <thread>

#include "common/win/text.h"
#include "resource.h"

namespace edms::workingdocs {
namespace {

constexpr wchar_t kClassName[] = L"" WORKINGDOCS_DIALOG_CLASS;
// Hiding a window can take the X11 driver two seconds where no window manager answers; an
// ending list is gone well within this even on a loaded machine.
constexpr auto kCloseWait = std::chrono::milliseconds(5000);
constexpr auto kPoll = std::chrono::milliseconds(50);

// The window is destroyed, or hidden on its way there: a list hides only when it ends.
bool Gone(HWND window, bool wasVisible) {
  return !IsWindow(window) || (wasVisible && !IsWindowVisible(window));
}

}  // namespace

bool RegisterListWindowClass(HINSTANCE instance) {
  WNDCLASSEXW dialogClass{};
  dialogClass.cbSize = sizeof dialogClass;
  if (!GetClassInfoExW(nullptr, WC_DIALOG, &dialogClass)) return false;
  dialogClass.hInstance = instance;
  dialogClass.lpszClassName = kClassName;
  return RegisterClassExW(&dialogClass) != 0;
}

bool CloseEarlierList(const std::string& title) {
  HWND earlier = FindWindowW(kClassName, win::Widen(title).c_str());
  if (!earlier) return true;
  // A list that waits for a check-in or cancel it started is disabled meanwhile.
  if (!IsWindowEnabled(earlier)) return false;
  const bool wasVisible = IsWindowVisible(earlier) != FALSE;
  PostMessageW(earlier, WM_QUIT, 0, 0);
  const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
  while (!Gone(earlier, wasVisible)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

}  // namespace edms::workingdocs
