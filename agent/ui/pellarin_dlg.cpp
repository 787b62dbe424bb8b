#include "agent/ui/pellarin_dlg.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

#include "agent/resource.h"
#include "agent/service/network_drives.h"
#include "agent/service/peer_identity.h"
#include "agent/ui/notice_dlg.h"
#include "agent/ui/pellarin_app.h"
#include "common/app_rules.h"
#include "common/checked_in_copies.h"
#include "common/update_package.h"
#include "common/page_url.h"
#include "common/text_format.h"
#include "common/win/cancelled_copies.h"
#include "common/win/checked_in_copies.h"
#include "common/win/checkout_record.h"
#include "common/win/detached_thread.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/process.h"
#include "common/win/program_start.h"
#include "common/win/system_error.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {
namespace {

constexpr auto kUserWait = std::chrono::seconds(10);
// Exit waits this long for each kind of thread, then leaves it to the end of the process.
constexpr auto kUpdateStopBound = std::chrono::seconds(5);
constexpr auto kWindowsCloseBound = std::chrono::seconds(10);
// The update that started this agent left its installer, which may still be finishing: what
// cannot be deleted yet is tried again for a while.
constexpr int kInstallerRemovalTries = 12;
constexpr auto kInstallerRemovalPause = std::chrono::seconds(5);

int TrayMenuResource(std::string_view appType) {
  switch (TrayMenuFor(appType)) {
    case TrayMenuKind::kEdmsAgent: return IDR_TRAYMENU_EDMS_AGENT;
    case TrayMenuKind::kZeltoClient: return IDR_TRAYMENU_ZELTO_CLIENT;
    case TrayMenuKind::kDefault: break;
  }
  return IDR_TRAYMENU_DEFAULT;
}

int AppIconResource(std::string_view appType) {
  return UsesAlternativeIcon(appType) ? IDR_MAINFRAME_EDMS : IDR_MAINFRAME;
}

// Takes the text that came with a posted message.
std::string TakePosted(LPARAM lParam) {
  std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
  return text ? *text : std::string();
}

void PostText(HWND window, UINT message, const std::string& text) {
  auto posted = std::make_unique<std::string>(text);
  if (PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(posted.get()))) posted.release();
}

}  // namespace

CPellarinDlg::CPellarinDlg(HINSTANCE instance, SharedConfig& config)
    : CDialogBase(instance, IDD_PELLARIN_DIALOG), config_(config), startConfig_(config.Snapshot()) {}

CPellarinDlg::~CPellarinDlg() {
  Shutdown();
  if (hwnd()) DestroyWindow(hwnd());
}

void CPellarinDlg::Shutdown() {
  server_.stop();
  if (updateRun_ && !updateRun_->Stop(kUpdateStopBound)) win::Trace("the update run does not end: left behind");
  if (pageWindows_ && !pageWindows_->Close(kWindowsCloseBound)) win::Trace("a page window does not close: left behind");
  if (!config_.SaveChanges()) win::Trace("the configuration record could not be written at exit");
}

int CPellarinDlg::Run() {
  if (!Create()) {
    win::Trace("the main window cannot be created");
    return -1;
  }
  MSG msg;
  while (!done_ && hwnd()) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (!IsDialogMessageW(hwnd(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (hwnd()) DestroyWindow(hwnd());
  return result_;
}

void CPellarinDlg::EndLoop(int result) {
  result_ = result;
  done_ = true;
  PostMessageW(hwnd(), WM_NULL, 0, 0);
}

void CPellarinDlg::ShowInformation(const std::string& text, UINT icon) {
  win::ShowMessage(hwnd(), text, win::LoadStringLang(instance(), IDS_INFORMATION), MB_OK | icon, false);
}

void CPellarinDlg::ShowBalloon(const std::string& text) {
  const bool shown = tray_.ShowBalloonText(text);
  win::Trace("balloon " + std::string(shown ? "shown: " : "not shown: ") + text);
}

std::string CPellarinDlg::CurrentUser() { return service_ ? service_->CurrentUser() : std::string(); }

CheckInputs CPellarinDlg::Inputs() {
  return CheckInputs{config_.Snapshot().AdaptorURL, CurrentUser(), startConfig_.AppType, startConfig_.AppVersion};
}

bool CPellarinDlg::OnInitDialog() {
  // The tray icon comes first: without it the agent cannot start.
  if (!CreateTray()) {
    win::Trace("the notification-area icon cannot be created");
    EndLoop(-1);
    return true;
  }
  win::AddSystemMenuItem(hwnd(), win::LoadStringLang(instance(), IDS_ABOUTBOX), IDM_ABOUTBOX);
  SetProgramIcon(startConfig_.AppType, IDR_MAINFRAME, IDR_MAINFRAME_EDMS);
  if (const LONG status = win::LoadAgentSettings(ConfigKeyPath(), settings_); status != ERROR_SUCCESS) {
    win::Trace("page settings not read: " + win::DescribeError(static_cast<DWORD>(status)));
  }
  updateRun_ = std::make_unique<CUpdateRun>(instance(), hwnd(), kUpdateDoneMessage,
                                            std::chrono::seconds(settings_.testUpdateHoldSeconds));
  SetWindowTextW(hwnd(), win::Widen("Pellarin[" + startConfig_.AppVersion + "]").c_str());
  SetInterval(IDC_NOTICE_SLIDER, IDC_NOTICE_VALUE, InitialSliderPosition(startConfig_.NoticeCheckTime, 5));
  SetInterval(IDC_UPDATE_SLIDER, IDC_UPDATE_VALUE, InitialSliderPosition(startConfig_.UpdateCheckTime, 10));
  tray_.SetIconResource(static_cast<UINT>(AppIconResource(startConfig_.AppType)));
  checks_ = std::make_unique<PeriodicChecks>([window = hwnd()] { PostMessageW(window, kChecksDoneMessage, 0, 0); });
  if (!StartService()) return true;
  HideToTray(hwnd(), false);
  ArmTimers();
  win::Trace(portHeld_ ? "not serving: the port is held" : "serving");
  LookForUncheckedEdits();
  RemoveOldCheckedInCopies();
  RemoveEarlierInstallers();
  return true;
}

void CPellarinDlg::RemoveOldCheckedInCopies() {
  const bool started = win::StartDetachedThread([keyPath = ConfigKeyPath()] {
    const win::CheckedInSettings settings = win::LoadCheckedInSettings(keyPath);
    const std::optional<std::string> folder = CheckedInFolder(settings.workFolder);
    if (!folder) return;
    const size_t removed = win::RemoveExpiredCheckedInCopies(*folder, settings.keepDays, win::NowFileTicks());
    win::Trace(std::to_string(removed) + " checked-in copies older than " + std::to_string(settings.keepDays) +
               " days removed");
  });
  if (!started) win::Trace("no clearing of checked-in copies");
}

void CPellarinDlg::RemoveEarlierInstallers() {
  const std::string folder = startConfig_.WorkFolder;
  const std::string appType = startConfig_.AppType;
  const bool started = win::StartDetachedThread([folder, appType] {
    for (int i = 0; i < kInstallerRemovalTries && !RemoveUpdateInstallers(folder, appType).empty(); ++i) {
      std::this_thread::sleep_for(kInstallerRemovalPause);
    }
  });
  if (!started) win::Trace("no removal of earlier installers");
}

void CPellarinDlg::LookForUncheckedEdits() {
  // The registry and the copies' stamps are read aside; what was found comes back as messages.
  HWND window = hwnd();
  const std::string savedAfterCancel = win::LoadStringLang(instance(), IDS_SAVED_AFTER_CANCEL);
  const bool started = win::StartDetachedThread([window, savedAfterCancel] {
    WPARAM count = 0;
    for (const auto& [oid, record] : win::ListCheckOutRecords()) count += win::MayHoldUncheckedEdits(record) ? 1 : 0;
    if (count > 0) PostMessageW(window, kUncheckedEditsMessage, count, 0);
    // A copy whose check-out the agent cancelled as unchanged, saved since by an editor that
    // still had it: its edits are in no check-out.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    for (const win::CancelledCopy& note : win::ListCancelledCopies()) {
      switch (FateOfCancelledCopy(win::GetFileStamp(note.localPath), note.cancelledAt, ticks)) {
        case CancelledCopyFate::kSavedSince:
          win::Trace("saved after its check-out was cancelled: " + note.localPath);
          PostText(window, kBalloonMessage, FillPlaceholders(savedAfterCancel, {note.localPath}));
          win::ForgetCancelledCopy(note.oid);
          break;
        case CancelledCopyFate::kGone:
        case CancelledCopyFate::kStale:
          win::ForgetCancelledCopy(note.oid);
          break;
        case CancelledCopyFate::kUntouched:
          break;
      }
    }
  });
  if (!started) win::Trace("no look for unchecked edits");
}

void CPellarinDlg::ShowUncheckedEdits(std::size_t count) {
  win::Trace(std::to_string(count) + " documents have changes that are not checked in");
  ShowBalloon(FillPlaceholders(win::LoadStringLang(instance(), IDS_UNCHECKED_EDITS), {std::to_string(count)}));
}

bool CPellarinDlg::CreateTray() {
  HICON windowIcon = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(AppIconResource(startConfig_.AppType)),
                                                   IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  return tray_.CreateIcon(instance(), hwnd(), windowIcon, static_cast<UINT>(TrayMenuResource(startConfig_.AppType)));
}

// The configured value is clamped to the trackbar's range; what it shows is what the timer uses.
void CPellarinDlg::SetInterval(int sliderId, int valueId, int minutes) {
  int& kept = Interval(sliderId);
  kept = std::clamp(minutes, kSliderMinutesMin, kSliderMinutesMax);
  SetItemText(valueId, std::to_string(kept));
}

// Each trackbar takes its placeholder's place, size and tab position. One that cannot be made
// leaves the placeholder: the window still shows the interval, and the timers keep it.
void CPellarinDlg::CreateSliders() {
  if (slidersCreated_) return;
  slidersCreated_ = true;
  win::InitCommonControlsForDialogs();
  for (int id : {IDC_NOTICE_SLIDER, IDC_UPDATE_SLIDER}) {
    HWND placeholder = Item(id);
    RECT place{};
    if (!placeholder || !GetWindowRect(placeholder, &place)) continue;
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&place), 2);
    HWND slider = CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_AUTOTICKS | TBS_BOTH,
                                  place.left, place.top, place.right - place.left, place.bottom - place.top, hwnd(),
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance(), nullptr);
    if (!slider) {
      win::Trace("trackbar " + std::to_string(id) + " cannot be made: " + win::DescribeError(GetLastError()));
      continue;
    }
    SetWindowPos(slider, placeholder, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    DestroyWindow(placeholder);
    SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(kSliderMinutesMin, kSliderMinutesMax));
    SendMessageW(slider, TBM_SETTICFREQ, 5, 0);
    SendMessageW(slider, TBM_SETPOS, TRUE, Interval(id));
  }
  win::Trace("trackbars made");
}

int& CPellarinDlg::Interval(int sliderId) { return sliderId == IDC_NOTICE_SLIDER ? noticeMinutes_ : updateMinutes_; }

bool CPellarinDlg::StartService() {
  HWND window = hwnd();
  pageWindows_ = std::make_unique<CPageWindows>(
      config_, [window](const std::string& text) { PostText(window, kBalloonMessage, text); });
  const DWORD holdMs = settings_.testLookupHoldSeconds * 1000u;
  service_ = std::make_unique<EdmHelperService>(config_, *pageWindows_, [holdMs](const std::string& serverAddress) {
    if (holdMs) Sleep(holdMs);
    return FindSessionUser(serverAddress);
  });
  serverSettings_ = ServerSettings{};
  if (settings_.servicePort >= 1 && settings_.servicePort <= 65535) {
    serverSettings_.port = static_cast<uint16_t>(settings_.servicePort);
  }
  if (settings_.loginExpirySeconds > 0) serverSettings_.loginExpiry = std::chrono::seconds(settings_.loginExpirySeconds);
  serverSettings_.allowedOrigins = AllowedOriginSet(settings_.allowedOrigins, settings_.edmsUrl);
  for (const auto& [name, url] : {std::pair<const char*, std::string>{"EdmsURL", settings_.edmsUrl},
                                  std::pair<const char*, std::string>{"AdaptorURL", startConfig_.AdaptorURL}}) {
    if (IsPlainHttpElsewhere(url)) {
      win::Trace(std::string("warning: ") + name + " is plain http on another computer (" + url +
                 "): browsers keep such an EDMS page from the agent; serve the EDMS over https");
    }
  }
  serverSettings_.checkPeer = CheckPeer;
  return StartServer();
}

bool CPellarinDlg::StartServer() {
  try {
    server_.start(*service_, serverSettings_);
    if (std::exchange(portHeld_, false)) {
      KillTimer(hwnd(), kPortRetryTimer);
      win::Trace("the port is free again: serving");
      OnTimer(kTooltipTimer);
    }
    return true;
  } catch (const ListenError& e) {
    if (e.code() != WSAEADDRINUSE && e.code() != WSAEACCES) {
      win::Trace(std::string("server start failed: ") + e.what());
      ShowInformation(std::string("Failed to start server. Exception : ") + e.what());
      EndLoop(-1);
      return false;
    }
    // Another program holds the port: on a shared computer, most likely another user's agent.
    // This agent stays for its tray commands and takes the port once it is free.
    if (!std::exchange(portHeld_, true)) OnPortHeld();
    SetTimer(hwnd(), kPortRetryTimer, kPortRetryMs, nullptr);
    return true;
  } catch (const std::exception& e) {
    win::Trace(std::string("server start failed: ") + e.what());
    ShowInformation(std::string("Failed to start server. Exception : ") + e.what());
    EndLoop(-1);
    return false;
  }
}

void CPellarinDlg::OnPortHeld() {
  const uint16_t port = serverSettings_.port;
  const std::optional<uint32_t> owner = ListenerOwner(port);
  const std::optional<PeerIdentity> holder = owner ? ProcessIdentity(*owner) : std::nullopt;
  static const PeerIdentity self = ThisProcessIdentity();
  // A holder of this session is another program of this user's; anything else (another
  // session, or a process this session cannot even see) is taken for another user's agent.
  portHeldText_ = holder && holder->session == self.session
                      ? FillPlaceholders(win::LoadStringLang(instance(), IDS_PORT_IN_USE),
                                         {std::to_string(port), std::to_string(*owner)})
                      : win::LoadStringLang(instance(), IDS_PORT_OTHER_SESSION);
  win::Trace("port " + std::to_string(port) + " is held by " +
             (owner ? "process " + std::to_string(*owner) : std::string("a process that cannot be identified")) +
             ": retrying every " + std::to_string(kPortRetryMs / 1000) + " s");
  ShowBalloon(portHeldText_);
  OnTimer(kTooltipTimer);
  win::Trace("tool-tip: Pellarin " + portHeldText_);
}

void CPellarinDlg::ArmTimers() {
  ArmNoticeTimer();
  ArmUpdateTimer();
  SetTimer(hwnd(), kTooltipTimer, TimerPlan{}.tooltipMs, nullptr);
  win::Trace("timer 2 armed " + std::to_string(TimerPlan{}.tooltipMs) + " ms");
}

void CPellarinDlg::ArmNoticeTimer() {
  const TimerPlan plan = PlanTimers(startConfig_.AppType, Interval(IDC_NOTICE_SLIDER), 0);
  if (!plan.armNotice) {
    win::Trace("timer 0 not armed");
    return;
  }
  SetTimer(hwnd(), kNoticeTimer, plan.noticeMs, nullptr);
  win::Trace("timer 0 armed " + std::to_string(plan.noticeMs) + " ms");
}

void CPellarinDlg::ArmUpdateTimer() {
  const TimerPlan plan = PlanTimers(startConfig_.AppType, 0, Interval(IDC_UPDATE_SLIDER));
  SetTimer(hwnd(), kUpdateTimer, plan.updateMs, nullptr);
  win::Trace("timer 1 armed " + std::to_string(plan.updateMs) + " ms");
}

bool CPellarinDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case kTrayNotifyMessage:
      tray_.OnIconNotify(wParam, lParam);
      return true;
    case kUncheckedEditsMessage:
      ShowUncheckedEdits(static_cast<std::size_t>(wParam));
      return true;
    case kBalloonMessage:
      ShowBalloon(TakePosted(lParam));
      return true;
    case kUserReadyMessage:
      OnUserReady(TakePosted(lParam));
      return true;
    case kUpdateDoneMessage:
      OnUpdateDone();
      return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
      win::ShowPlainDialog(instance(), IDD_ABOUTBOX, hwnd());
      return true;
    case WM_CLOSE:
      HideToTray(hwnd(), false);
      return true;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && IsCompatAppType(startConfig_.AppType)) HideToTray(hwnd(), false);
      return false;
    case WM_WINDOWPOSCHANGING:
      // A window that is already the active one is shown without a new activation: the
      // compatibility kind's window is kept from showing at all.
      if (IsCompatAppType(startConfig_.AppType)) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
      return false;
    case WM_SHOWWINDOW:
      if (wParam) CreateSliders();
      return false;
    case WM_HSCROLL:
      // Sent at the end of every move, by mouse or keyboard.
      if (LOWORD(wParam) == TB_ENDTRACK && lParam) OnSliderReleased(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
      return true;
    case kChecksDoneMessage:
      OnChecksDone();
      return true;
    default:
      (void)result;
      return false;
  }
}

bool CPellarinDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kTooltipTimer: {
      if (portHeld_) {
        tray_.SetTipText("Pellarin\n" + portHeldText_);
        return true;
      }
      // Never waits: the session user is looked up in the background.
      const std::string user = service_ ? service_->CurrentUser() : std::string();
      tray_.SetTipText(user.empty() ? std::string("Pellarin") : "Pellarin[" + user + "]");
      return true;
    }
    case kPortRetryTimer:
      StartServer();
      return true;
    case kNoticeTimer:
      AskNoticeCount();
      return true;
    case kUpdateTimer:
      AskUpdate();
      return true;
    case kUserWaitTimer:
      KillTimer(hwnd(), kUserWaitTimer);
      win::Trace("the session-user lookup did not answer in time: acting as the last known user");
      OnUserReady(CurrentUser());
      return true;
    default:
      return false;
  }
}

bool CPellarinDlg::OnCommand(int id, int, HWND) {
  switch (id) {
    case IDOK:
      HideToTray(hwnd(), false);
      return true;
    case IDCANCEL:
      return true;  // Escape must not end the agent
    case ID_TRAY_EXIT:
      if (notice_) notice_->Close();
      EndLoop(0);
      return true;
    case ID_TRAY_NOTICE:
      if (IsCompatAppType(startConfig_.AppType)) return true;  // this installation kind has no notices
      if (notice_) {
        notice_->BringToFront();
        return true;
      }
      ActAsCurrentUser(id);
      return true;
    case ID_TRAY_WORKING_DOCUMENTS:
    case ID_TRAY_TRASHCAN:
    case ID_TRAY_EDMS:
      ActAsCurrentUser(id);
      return true;
    case ID_TRAY_CHECK_UPDATES:
      CheckUpdatesNow();
      return true;
    default:
      return false;
  }
}

void CPellarinDlg::ActAsCurrentUser(int command) {
  waitingForUser_.push_back(command);
  if (waitingForUser_.size() > 1) return;  // a lookup is under way already
  HWND window = hwnd();
  if (!service_ ||
      !service_->FreshCurrentUser([window](const std::string& user) { PostText(window, kUserReadyMessage, user); })) {
    OnUserReady(CurrentUser());
    return;
  }
  SetTimer(hwnd(), kUserWaitTimer, static_cast<UINT>(std::chrono::milliseconds(kUserWait).count()), nullptr);
}

void CPellarinDlg::OnUserReady(const std::string& user) {
  KillTimer(hwnd(), kUserWaitTimer);
  // A late answer after the bound finds nothing waiting.
  for (int command : std::exchange(waitingForUser_, {})) RunTrayCommand(command, user);
}

void CPellarinDlg::RunTrayCommand(int command, const std::string& user) {
  switch (command) {
    case ID_TRAY_WORKING_DOCUMENTS:
      StartProgramFor(TrayProgram::WorkingDocuments, user);
      break;
    case ID_TRAY_TRASHCAN:
      StartProgramFor(TrayProgram::TrashCan, user);
      break;
    case ID_TRAY_EDMS:
      OpenEdmsPage(user);
      break;
    case ID_TRAY_NOTICE:
      OpenNotice(user);
      break;
    default:
      break;
  }
}

void CPellarinDlg::StartProgramFor(TrayProgram program, const std::string& user) {
  if (user.empty()) {
    ShowInformation(win::LoadStringLang(instance(), IDS_NO_USER));
    return;
  }
  const std::string problem = StartTrayProgram(instance(), program, config_.Snapshot(), user);
  if (!problem.empty()) ShowInformation(problem);
}

void CPellarinDlg::OpenEdmsPage(const std::string& user) {
  const std::optional<std::string> url = EdmsPageUrl(settings_.edmsUrl, user);
  if (!url) {
    win::Trace("EdmsURL is not a web address");
    ShowInformation(FillPlaceholders(win::LoadStringLang(instance(), IDS_PAGE_ADDRESS_INVALID), {settings_.edmsUrl}));
    return;
  }
  if (const DWORD error = win::OpenWithShell(*url, SW_SHOWNORMAL); error != 0) {
    win::Trace("the EDMS page could not be opened, error " + std::to_string(error));
    ShowInformation(FillPlaceholders(win::LoadStringLang(instance(), IDS_PAGE_OPEN_FAILED), {win::DescribeError(error)}));
  }
}

void CPellarinDlg::OpenNotice(const std::string& user) {
  if (notice_) {
    notice_->BringToFront();
    return;
  }
  if (user.empty()) {
    ShowInformation(win::LoadStringLang(instance(), IDS_NO_USER));
    return;
  }
  // The notice page's address is read afresh each time, as an administrator may move it.
  win::AgentSettings current;
  if (const LONG status = win::LoadAgentSettings(ConfigKeyPath(), current); status != ERROR_SUCCESS) {
    ShowInformation(ConfigProblemText(instance(), status, ConfigKeyPath()));
    return;
  }
  const std::optional<std::string> url = NoticePageUrl(current.noticeUrl, user, win::EffectiveLanguage());
  if (!url) {
    win::Trace("NoticeURL is not a web address");
    ShowInformation(FillPlaceholders(win::LoadStringLang(instance(), IDS_PAGE_ADDRESS_INVALID), {current.noticeUrl}));
    return;
  }
  CNoticeDlg dialog(instance(), *url, startConfig_.AppType, CreateSystemBrowser());
  notice_ = &dialog;
  const INT_PTR result = dialog.DoModal(hwnd());
  notice_ = nullptr;
  if (result != CNoticeDlg::kNoBrowser && result != -1) return;
  // No browser control that can show the page here: the user's own browser shows it.
  win::Trace("notice page goes to the default browser");
  if (const DWORD error = win::OpenWithShell(*url, SW_SHOWNORMAL); error != 0) {
    ShowInformation(FillPlaceholders(win::LoadStringLang(instance(), IDS_PAGE_OPEN_FAILED), {win::DescribeError(error)}));
  }
}

void CPellarinDlg::CheckUpdatesNow() {
  if (updateRun_ && updateRun_->Open()) {
    win::Trace("update message already open");
    updateRun_->BringForward();
    return;
  }
  manualUpdateCheck_ = true;
  AskUpdate();
}

void CPellarinDlg::OnSliderReleased(int sliderId) {
  if (sliderId != IDC_NOTICE_SLIDER && sliderId != IDC_UPDATE_SLIDER) return;
  const bool notice = sliderId == IDC_NOTICE_SLIDER;
  const int minutes = static_cast<int>(SendMessageW(Item(sliderId), TBM_GETPOS, 0, 0));
  SetInterval(sliderId, notice ? IDC_NOTICE_VALUE : IDC_UPDATE_VALUE, minutes);
  if (notice) {
    ArmNoticeTimer();
  } else if (!updateRun_ || !updateRun_->Open()) {
    ArmUpdateTimer();  // while an offer is open the timer stays paused; it is armed after it
  }
  // In memory as well as in the key: the next save of the record must not bring back the
  // interval it held before.
  config_.Update([&](win::ClientConfig& config) {
    (notice ? config.NoticeCheckTime : config.UpdateCheckTime) = static_cast<uint32_t>(minutes);
  });
  if (!config_.SaveChanges()) win::Trace("the interval could not be saved");
}

void CPellarinDlg::AskNoticeCount() {
  // A notice window that is open shows the notices already; the compatibility kind has none.
  if (noticeCheckPending_ || notice_ || IsCompatAppType(startConfig_.AppType)) return;
  noticeCheckPending_ = checks_ && checks_->Ask(CheckAnswer::Kind::Notices, Inputs());
}

void CPellarinDlg::AskUpdate() {
  if (updateCheckPending_ || (updateRun_ && updateRun_->Open())) return;
  updateCheckPending_ = checks_ && checks_->Ask(CheckAnswer::Kind::Update, Inputs());
  if (!updateCheckPending_) manualUpdateCheck_ = false;
}

void CPellarinDlg::OnChecksDone() {
  if (!checks_) return;
  for (const CheckAnswer& answer : checks_->TakeAnswers()) {
    if (answer.kind == CheckAnswer::Kind::Notices) {
      noticeCheckPending_ = false;
      OnNoticeCount(answer);
    } else {
      updateCheckPending_ = false;
      OnUpdateAnswer(answer, std::exchange(manualUpdateCheck_, false));
    }
  }
}

void CPellarinDlg::OnNoticeCount(const CheckAnswer& answer) {
  if (answer.result != kCheckOk) {
    win::Trace("notice check failed, result " + std::to_string(answer.result));
    return;
  }
  win::Trace("notice count " + std::to_string(answer.count));
  if (answer.count < 1 || notice_) return;
  const std::string text =
      FillPlaceholders(win::LoadStringLang(instance(), IDS_UNREAD_MESSAGES), {std::to_string(answer.count)});
  ShowBalloon(text);
}

void CPellarinDlg::OnUpdateAnswer(const CheckAnswer& answer, bool manual) {
  if (answer.result != kCheckOk) {
    win::Trace("update check failed, result " + std::to_string(answer.result));
    return;
  }
  UpdateOffer offer{CurrentUser(), config_.Snapshot().AdaptorURL, startConfig_.AppType, startConfig_.AppVersion,
                    answer.version, answer.size};
  if (answer.size < 1) {
    win::Trace("no update offered");
    if (!manual) return;
    offer.offeredVersion.clear();
  } else {
    win::Trace("update offered: " + answer.version);
    if (!IsAcceptableOffer(offer)) return;
    if (!IsNewerVersion(offer.installedVersion, offer.offeredVersion)) {
      // An offer of this version or an older one is no update: never installed, never asked.
      win::Trace("update " + answer.version + " is not newer than " + offer.installedVersion + ": not offered");
      if (!manual) return;
      offer.size = 0;
      offer.offeredVersion.clear();
    }
  }
  if (done_ || !updateRun_ || !updateRun_->Start(offer, config_.Snapshot().WorkFolder)) return;
  if (offer.size > 0) {
    // No second offer while this one is open: the timer waits for the answer.
    KillTimer(hwnd(), kUpdateTimer);
    win::Trace("timer 1 paused");
  }
}

void CPellarinDlg::OnUpdateDone() {
  if (!done_) ArmUpdateTimer();
}

void CPellarinDlg::OnDestroy() {
  server_.stop();
  for (UINT_PTR id : {kNoticeTimer, kUpdateTimer, kTooltipTimer}) KillTimer(hwnd(), id);
  tray_.RemoveIcon();
}

}  // namespace edms
