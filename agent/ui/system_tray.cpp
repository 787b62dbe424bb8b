#include "agent/ui/system_tray.h"

#include <algorithm>

#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/text.h"

namespace edms {
namespace {

constexpr wchar_t kTrayWindowClass[] = L"PellarinTrayWindow";
constexpr wchar_t kOwnerWindowClass[] = L"PellarinHiddenOwner";
constexpr UINT kBalloonTimeoutMs = 10000;

// Copies `text` into a fixed platform field, cut to `maxChars` characters.
template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text, size_t maxChars) {
  size_t count = std::min({text.size(), maxChars, N - 1});
  std::copy_n(text.data(), count, field);
  field[count] = L'\0';
}

bool RegisterPlainClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool MinimizeAnimationOn() {
  ANIMATIONINFO info{};
  info.cbSize = sizeof info;
  return SystemParametersInfoW(SPI_GETANIMATION, sizeof info, &info, 0) && info.iMinAnimate != 0;
}

std::wstring ClassNameOf(HWND window) {
  wchar_t name[256];
  int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? length : 0);
}

}  // namespace

CSystemTray::CSystemTray() { taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarCreated"); }

CSystemTray::~CSystemTray() {
  RemoveIcon();
  if (trayWindow_) DestroyWindow(trayWindow_);
}

bool CSystemTray::CreateIcon(HINSTANCE instance, HWND owner, HICON icon, UINT iconId) {
  instance_ = instance;
  if (!trayWindow_) {
    if (!RegisterPlainClass(instance, kTrayWindowClass, &CSystemTray::TrayWindowProc)) return false;
    trayWindow_ = CreateWindowExW(0, kTrayWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!trayWindow_) return false;
    SetWindowLongPtrW(trayWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  data_ = NOTIFYICONDATAW{};
  data_.cbSize = sizeof data_;
  data_.hWnd = owner ? owner : trayWindow_;
  data_.uID = iconId;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = kTrayNotifyMessage;
  data_.hIcon = icon;
  CopyField(data_.szTip, L"Pellarin", kMaxTipChars);
  creationFlags_ = data_.uFlags;
  if (!target_) target_ = owner;
  bool added = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  hidden_ = removed_ = showPending_ = !added;
  created_ = true;
  return true;
}

bool CSystemTray::Modify(UINT flags) {
  data_.uFlags = flags;
  return Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
}

bool CSystemTray::SetIconResource(UINT resourceId) {
  win::UniqueHIcon icon(static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
  if (!icon) return false;
  data_.hIcon = icon.get();
  // Kept: a restarted shell gets the icon added again from this record.
  icon_ = std::move(icon);
  return hidden_ ? true : Modify(NIF_ICON);
}

bool CSystemTray::SetTipText(const std::string& utf8) {
  CopyField(data_.szTip, win::Widen(utf8), kMaxTipChars);
  if (hidden_) return true;
  return Modify(NIF_TIP);
}

std::string CSystemTray::tipText() const { return win::Narrow(data_.szTip); }

bool CSystemTray::ShowBalloonText(const std::string& utf8) {
  CopyField(data_.szInfo, win::Widen(utf8), kMaxBalloonChars);
  data_.szInfoTitle[0] = L'\0';
  data_.dwInfoFlags = NIIF_NONE;
  data_.uTimeout = kBalloonTimeoutMs;
  bool ok = hidden_ ? false : Modify(NIF_INFO);
  data_.szInfo[0] = L'\0';
  return ok;
}

void CSystemTray::RemoveIcon() {
  if (removed_) return;
  data_.uFlags = 0;
  if (Shell_NotifyIconW(NIM_DELETE, &data_)) {
    hidden_ = removed_ = true;
  }
  created_ = false;
}

bool CSystemTray::OnIconNotify(WPARAM iconId, LPARAM mouseMessage) {
  if (iconId != data_.uID) return false;
  HWND target = target_;
  if (!target) return false;
  switch (LOWORD(mouseMessage)) {
    case WM_RBUTTONUP: {
      win::UniqueHMenu menu(win::LoadMenuLang(instance_, static_cast<int>(data_.uID)));
      if (!menu) return false;
      HMENU popup = GetSubMenu(menu.get(), 0);
      if (!popup) return false;
      SetMenuDefaultItem(popup, 0, TRUE);
      PrepareMenu(popup);
      POINT cursor{};
      GetCursorPos(&cursor);
      SetForegroundWindow(target);
      TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, target, nullptr);
      // Lets the menu close when the user clicks elsewhere.
      PostMessageW(target, WM_NULL, 0, 0);
      return true;
    }
    case WM_LBUTTONDBLCLK:
      SetForegroundWindow(target);
      RestoreFromTray(target);
      return true;
    default:
      return true;
  }
}

void CSystemTray::OnTaskbarCreated() {
  if (!created_) return;
  // A restarted shell has forgotten the icon: add it again with the creation flags.
  data_.uFlags = creationFlags_;
  data_.szInfo[0] = L'\0';
  if (Shell_NotifyIconW(NIM_ADD, &data_)) hidden_ = removed_ = showPending_ = false;
}

LRESULT CALLBACK CSystemTray::TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CSystemTray*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self) return self->OnTrayWindowMessage(window, message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CSystemTray::OnTrayWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreatedMessage_ && taskbarCreatedMessage_ != 0) {
    OnTaskbarCreated();
    return 0;
  }
  if (message == WM_SETTINGCHANGE && wParam == SPI_SETWORKAREA) {
    if (!hidden_) data_.uFlags = creationFlags_;
    return 0;
  }
  if (message == kTrayNotifyMessage) {
    OnIconNotify(wParam, lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// ---------------------------------------------------------------- window helpers

RECT GetNotificationAreaRect() {
  RECT rect{};
  if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) {
    GetWindowRect(tray, &rect);
    for (HWND child = GetWindow(tray, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      std::wstring name = ClassNameOf(child);
      if (name == L"TrayNotifyWnd") {
        GetWindowRect(child, &rect);
      } else if (name == L"TrayClockWClass") {
        RECT clock{};
        GetWindowRect(child, &clock);
        if (clock.bottom < rect.bottom - 5) {
          rect.top = clock.bottom;  // vertical taskbar
        } else {
          rect.right = clock.left;
        }
        break;
      }
    }
    return rect;
  }
  APPBARDATA bar{};
  bar.cbSize = sizeof bar;
  if (SHAppBarMessage(ABM_GETTASKBARPOS, &bar)) {
    rect = bar.rc;
    if (bar.uEdge == ABE_LEFT || bar.uEdge == ABE_RIGHT) {
      rect.top = bar.rc.bottom - 100;
      rect.bottom = bar.rc.bottom - 16;
    } else {
      rect.left = bar.rc.right - 100;
      rect.right = bar.rc.right - 16;
    }
    return rect;
  }
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  rect.right = work.right;
  rect.bottom = work.bottom;
  rect.left = rect.right - 150;
  rect.top = rect.bottom - 30;
  return rect;
}

bool DetachFromTaskbar(HWND window) {
  static HWND owner = nullptr;  // one per process, lives until the process ends
  if (!owner) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterPlainClass(instance, kOwnerWindowClass, DefWindowProcW)) return false;
    owner = CreateWindowExW(0, kOwnerWindowClass, L"", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!owner) return false;
  }
  SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  return true;
}

void HideToTray(HWND window, bool forceAnimation) {
  if (forceAnimation || MinimizeAnimationOn()) {
    RECT from{};
    GetWindowRect(window, &from);
    RECT to = GetNotificationAreaRect();
    DrawAnimatedRects(window, IDANI_CAPTION, &from, &to);
  }
  DetachFromTaskbar(window);
  ShowWindow(window, SW_HIDE);
}

void RestoreFromTray(HWND window) {
  if (MinimizeAnimationOn()) {
    RECT from = GetNotificationAreaRect();
    RECT to{};
    GetWindowRect(window, &to);
    DrawAnimatedRects(window, IDANI_CAPTION, &from, &to);
  }
  // Back to the desktop as its owner: the hidden owner of HideToTray took its taskbar button.
  SetWindowLongPtrW(window, GWLP_HWNDPARENT, 0);
  ShowWindow(window, SW_SHOWNORMAL);
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME | RDW_INVALIDATE | RDW_ERASE);
  if (HWND owner = GetWindow(window, GW_OWNER)) SetActiveWindow(owner);
  SetActiveWindow(window);
  SetForegroundWindow(window);
}

}  // namespace edms
