// The agent's one notification-area icon: tip, balloon, tray menu, restore on double-click.
// Only the main window's thread touches it.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/win/handles.h"

namespace edms {

inline constexpr UINT kTrayNotifyMessage = WM_APP + 10;
inline constexpr size_t kMaxTipChars = 127;
inline constexpr size_t kMaxBalloonChars = 255;  // plus the terminator: 256

class CSystemTray {
 public:
  CSystemTray();
  virtual ~CSystemTray();  // removes the icon and destroys the tray window
  CSystemTray(const CSystemTray&) = delete;
  CSystemTray& operator=(const CSystemTray&) = delete;

  // Creates the hidden tray window and adds the icon (tip "Pellarin", notifications as
  // kTrayNotifyMessage to `owner`, or to the tray window when `owner` is null). The icon
  // id is also the id of the tray menu resource. False when the tray window cannot be
  // created. An add that the shell refuses leaves the icon hidden; it is added again when
  // the shell announces a new taskbar.
  bool CreateIcon(HINSTANCE instance, HWND owner, HICON icon, UINT iconId);

  // Loads icon `resourceId` at the system size and shows it. True without a shell call
  // while the icon is hidden; false when the icon cannot be loaded.
  bool SetIconResource(UINT resourceId);
  // Tip text, cut to its first 127 characters.
  bool SetTipText(const std::string& utf8);
  // A balloon (cut to 255 characters, empty title, no icon, 10 s); false while the icon is
  // hidden or when the shell refuses it. The text is not kept for later modifications.
  bool ShowBalloonText(const std::string& utf8);
  void RemoveIcon();

  // The notification message of the icon: right button up opens the tray menu, left
  // double-click restores the target window. True when it was for this icon.
  virtual bool OnIconNotify(WPARAM iconId, LPARAM mouseMessage);

  // Window that receives menu commands; the owner given to CreateIcon by default.
  void SetTargetWindow(HWND target) { target_ = target; }
  bool hidden() const { return hidden_; }
  HWND trayWindow() const { return trayWindow_; }
  // The last tip text set (for diagnostics), UTF-8.
  std::string tipText() const;
  // The icon the shell is given (also when a restarted shell needs it again).
  HICON icon() const { return data_.hIcon; }

 protected:
  // Called with the popup menu before it shows; the agent changes nothing.
  virtual void PrepareMenu(HMENU) {}

 private:
  static LRESULT CALLBACK TrayWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnTrayWindowMessage(HWND, UINT, WPARAM, LPARAM);
  bool Modify(UINT flags);
  void OnTaskbarCreated();

  HINSTANCE instance_ = nullptr;
  NOTIFYICONDATAW data_{};
  HWND trayWindow_ = nullptr;
  HWND target_ = nullptr;
  UINT creationFlags_ = 0;
  bool created_ = false;
  bool hidden_ = true;
  bool removed_ = true;
  bool showPending_ = false;
  UINT taskbarCreatedMessage_ = 0;
  win::UniqueHIcon icon_;  // the icon set by SetIconResource
};

// Window helpers of the notification area.
// Animates the caption into the notification area (when the system animates minimising,
// or when forced), detaches the window from the taskbar and hides it.
void HideToTray(HWND window, bool forceAnimation = false);
// The reverse: animates out of the notification area, gives the window back its taskbar
// button, shows, redraws, activates.
void RestoreFromTray(HWND window);
// Gives the window a hidden owner so that it has no taskbar button. False when the owner
// window cannot be created.
bool DetachFromTaskbar(HWND window);
// The screen rectangle of the notification area (or a good guess at it).
RECT GetNotificationAreaRect();

}  // namespace edms
