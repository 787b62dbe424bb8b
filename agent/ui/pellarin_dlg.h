// The agent's main window (dialog 102): hidden in the notification area for the whole run,
// it owns the command service, the WebSocket server, the tray icon and its menu, the two
// interval trackbars and the three timers. The trackbars, and with them the common controls,
// are made when the window is first shown: an agent that is never opened does without them.
// Only one of each modal thing is open at a time: a second request for it brings the open one
// to the front. The update question and run have a thread of their own (agent/ui/update_run.h).
#pragma once
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "agent/service/edm_helper_service.h"
#include "agent/service/periodic_checks.h"
#include "agent/service/shared_config.h"
#include "agent/service/websocket_server.h"
#include "agent/ui/page_windows.h"
#include "agent/ui/system_tray.h"
#include "agent/ui/tray_programs.h"
#include "agent/ui/update_run.h"
#include "common/win/client_config.h"
#include "common/win/dialog.h"

namespace edms {

inline constexpr UINT_PTR kNoticeTimer = 0;
inline constexpr UINT_PTR kUpdateTimer = 1;
inline constexpr UINT_PTR kTooltipTimer = 2;
inline constexpr UINT_PTR kUserWaitTimer = 3;
inline constexpr UINT_PTR kPortRetryTimer = 4;
inline constexpr UINT kPortRetryMs = 5000;
// Posted by the periodic checks when an answer is ready.
inline constexpr UINT kChecksDoneMessage = WM_APP + 11;
// Posted to the main window with the number of working copies that hold unchecked edits.
inline constexpr UINT kUncheckedEditsMessage = WM_APP + 20;
// Posted with a text (a new std::string) for the user's balloon.
inline constexpr UINT kBalloonMessage = WM_APP + 21;
// Posted with the session user (a new std::string) once a fresh lookup has answered.
inline constexpr UINT kUserReadyMessage = WM_APP + 22;
// Posted when the update question or run has ended.
inline constexpr UINT kUpdateDoneMessage = WM_APP + 23;

class CNoticeDlg;

class CPellarinDlg : public win::CDialogBase {
 public:
  CPellarinDlg(HINSTANCE instance, SharedConfig& config);
  ~CPellarinDlg() override;

  // Creates the window and runs its message loop until Exit (0) or a failed start (-1).
  int Run();

  // After Run: stops the server, the update run and the page's windows, each within its
  // bound, and writes what the record still holds in memory. Threads left behind (a cycle
  // waiting for its editor, a lookup held up by a share that does not answer) may still point
  // into the agent's objects: the caller ends the process instead of destroying them.
  void Shutdown();

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
  // Starts listening; a port another program holds is said to the user and tried again
  // every kPortRetryMs. False when the agent cannot serve at all (it then exits).
  bool StartServer();
  void OnPortHeld();
  void ArmTimers();
  void ArmNoticeTimer();
  void ArmUpdateTimer();
  void LookForUncheckedEdits();
  // Deletes, aside from the window thread, the checked-in copies kept past KeepCheckedInDays.
  void RemoveOldCheckedInCopies();
  // Deletes the installers of earlier updates from the work folder, aside from this thread.
  void RemoveEarlierInstallers();
  void ShowUncheckedEdits(std::size_t count);
  void EndLoop(int result);
  void ShowInformation(const std::string& text, UINT icon = MB_ICONEXCLAMATION);
  void ShowBalloon(const std::string& text);
  std::string CurrentUser();
  CheckInputs Inputs();

  // Tray commands that act as the session user run once a fresh lookup has answered (or its
  // bound has passed): right after start or a change of the mapped drive's user, the cached
  // one is stale.
  void ActAsCurrentUser(int command);
  void OnUserReady(const std::string& user);
  void RunTrayCommand(int command, const std::string& user);
  void StartProgramFor(TrayProgram program, const std::string& user);
  void OpenEdmsPage(const std::string& user);
  void OpenNotice(const std::string& user);
  void CheckUpdatesNow();

  // Trackbars and periodic checks.
  void OnSliderReleased(int sliderId);
  void AskNoticeCount();
  void AskUpdate();
  void OnChecksDone();
  void OnNoticeCount(const CheckAnswer& answer);
  void OnUpdateAnswer(const CheckAnswer& answer, bool manual);
  void OnUpdateDone();
  // The configuration key the agent started from.
  std::string ConfigKeyPath() const {
    return startConfig_.KeyPath.empty() ? std::string(win::kConfigKeyPath) : startConfig_.KeyPath;
  }

  SharedConfig& config_;
  const win::ClientConfig startConfig_;  // the copy taken at start-up
  win::AgentSettings settings_;
  std::unique_ptr<CPageWindows> pageWindows_;
  std::unique_ptr<EdmHelperService> service_;
  WebsocketServer server_;  // declared after the service: stopped and gone before it
  std::unique_ptr<CUpdateRun> updateRun_;
  ServerSettings serverSettings_;
  bool portHeld_ = false;      // another program holds the port: the agent waits for it
  std::string portHeldText_;   // what the user is told about it (balloon, tool-tip)
  CSystemTray tray_;
  std::unique_ptr<PeriodicChecks> checks_;
  // The intervals in minutes, as the trackbars show them (or will, once made).
  int noticeMinutes_ = 0;
  int updateMinutes_ = 0;
  bool slidersCreated_ = false;
  bool noticeCheckPending_ = false;
  bool updateCheckPending_ = false;
  bool manualUpdateCheck_ = false;  // the pending update check was asked for from the menu
  std::vector<int> waitingForUser_;  // tray commands waiting for a fresh session-user lookup
  CNoticeDlg* notice_ = nullptr;     // the open notice window
  bool done_ = false;
  int result_ = 0;
};

}  // namespace edms
