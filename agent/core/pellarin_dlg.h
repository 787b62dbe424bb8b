// The agent's main window (dialog 102): hidden in the notification area for the whole run,
// it owns the command service, the WebSocket server, the tray icon and the three timers.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "agent/core/edm_helper_service.h"
#include "agent/core/shared_config.h"
#include "agent/core/websocket_server.h"
#include "agent/windows/system_tray.h"
#include "common/win/app_icon.h"

namespace edms {

inline constexpr UINT_PTR kNoticeTimer = 0;
inline constexpr UINT_PTR kUpdateTimer = 1;
inline constexpr UINT_PTR kTooltipTimer = 2;

class CPellarinDlg {
 public:
  CPellarinDlg(HINSTANCE instance, SharedConfig& config);
  ~CPellarinDlg();
  CPellarinDlg(const CPellarinDlg&) = delete;
  CPellarinDlg& operator=(const CPellarinDlg&) = delete;

  // Creates the window and runs its message loop until Exit (0) or a failed start (-1).
  int Run();

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool OnCreateTray();
  void OnInitDialog();
  void InitSlider(int sliderId, int valueId, int position);
  void StartServer();
  void OnTimer(UINT_PTR id);
  void OnCommand(UINT id);
  void EndLoop(int result);
  std::string CurrentUser();

  HINSTANCE instance_;
  SharedConfig& config_;
  win::ClientConfig startConfig_;  // the copy taken at start-up
  std::unique_ptr<EdmHelperService> service_;
  WebsocketServer server_;  // declared after the service: stopped and gone before it
  CSystemTray tray_;
  std::string edmsUrl_;
  win::WindowIcons icons_;
  HWND window_ = nullptr;
  bool done_ = false;
  int result_ = 0;
};

}  // namespace edms
