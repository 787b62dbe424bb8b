// The agent's main window (dialog 102): hidden in the notification area for the whole run,
// it owns the command service, the WebSocket server, the tray icon and its menu, the two
// interval trackbars and the three timers. The trackbars, and with them the common controls,
// are made when the window is first shown: an agent that is never opened does without them.
// Only one of each modal thing is open at a time: a second request for it brings the open one
// to the front. While the update run's transfer holds the window's thread, commands that would
// open windows of their own wait for it.
#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "agent/core/edm_helper_service.h"
#include "agent/core/periodic_checks.h"
#include "agent/core/shared_config.h"
#include "agent/core/tray_programs.h"
#include "agent/core/websocket_server.h"
#include "agent/windows/self_update.h"
#include "agent/windows/system_tray.h"
#include "common/win/client_config.h"
#include "common/win/dialog.h"

namespace edms {

inline constexpr UINT_PTR kNoticeTimer = 0;
inline constexpr UINT_PTR kUpdateTimer = 1;
inline constexpr UINT_PTR kTooltipTimer = 2;
// Posted by the periodic checks when an answer is ready.
inline constexpr UINT kChecksDoneMessage = WM_APP + 11;
// Posted to the main window with the number of working copies that hold unchecked edits.
inline constexpr UINT kUncheckedEditsMessage = WM_APP + 20;

class CNoticeDlg;

class CPellarinDlg : public win::CDialogBase {
 public:
  CPellarinDlg(HINSTANCE instance, SharedConfig& config);
  ~CPellarinDlg() override;

  // Creates the window and runs its message loop until Exit (0) or a failed start (-1).
  int Run();

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool UsesCommonControls() const override { return false; }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  bool CreateTray();
  void SetInterval(int sliderId, int valueId, int minutes);
  void CreateSliders();
  int& Interval(int sliderId);  // the minutes of the trackbar `sliderId`
  bool StartService();
  void ArmTimers();
  void ArmNoticeTimer();
  void ArmUpdateTimer();
  void LookForUncheckedEdits();
  void ShowUncheckedEdits(std::size_t count);
  void EndLoop(int result);
  void ShowInformation(const std::string& text, UINT icon = MB_ICONEXCLAMATION);
  std::string CurrentUser();
  CheckInputs Inputs();

  // Tray commands.
  void StartProgramFor(TrayProgram program);
  void OpenEdmsPage();
  void OpenNotice();
  void CheckUpdatesNow();
  bool HeldByUpdate(int command);
  void CloseModalWindows();

  // Trackbars and periodic checks.
  void OnSliderReleased(int sliderId);
  void AskNoticeCount();
  void AskUpdate();
  void OnChecksDone();
  void OnNoticeCount(const CheckAnswer& answer);
  void OnUpdateAnswer(const CheckAnswer& answer, bool manual);
  HWND UpdateBoxWindow() const;

  SharedConfig& config_;
  const win::ClientConfig startConfig_;  // the copy taken at start-up
  win::AgentSettings settings_;
  std::unique_ptr<EdmHelperService> service_;
  WebsocketServer server_;  // declared after the service: stopped and gone before it
  CSystemTray tray_;
  std::unique_ptr<PeriodicChecks> checks_;
  // The intervals in minutes, as the trackbars show them (or will, once made).
  int noticeMinutes_ = 0;
  int updateMinutes_ = 0;
  bool slidersCreated_ = false;
  bool noticeCheckPending_ = false;
  bool updateCheckPending_ = false;
  bool manualUpdateCheck_ = false;  // the pending update check was asked for from the menu
  // The update message that is open: the latest-version message, the update question, or the
  // update run with its window and messages.
  enum class UpdateBox { None, LatestVersion, Question, Run } updateBox_ = UpdateBox::None;
  CSelfUpdate update_;
  CNoticeDlg* notice_ = nullptr;  // the open notice window
  bool done_ = false;
  int result_ = 0;
};

}  // namespace edms
