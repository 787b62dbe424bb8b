#include "agent/core/pellarin_dlg.h"

#include <commctrl.h>

#include <exception>
#include <thread>

#include "agent/core/app_rules.h"
#include "agent/resource.h"
#include "agent/windows/meta_reader.h"
#include "common/win/checkout_record.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {

CPellarinDlg::CPellarinDlg(HINSTANCE instance, SharedConfig& config)
    : CDialogBase(instance, IDD_PELLARIN_DIALOG), config_(config), startConfig_(config.Snapshot()) {}

CPellarinDlg::~CPellarinDlg() {
  server_.stop();
  if (hwnd()) DestroyWindow(hwnd());
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
  win::Trace("exit with " + std::to_string(result_));
  return result_;
}

void CPellarinDlg::EndLoop(int result) {
  result_ = result;
  done_ = true;
  PostMessageW(hwnd(), WM_NULL, 0, 0);
}

void CPellarinDlg::ShowInformation(const std::string& text) {
  win::ShowMessage(hwnd(), text, win::LoadStringLang(instance(), IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION,
                   false);
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
  settings_ = win::LoadAgentSettings(startConfig_.KeyPath.empty() ? win::kConfigKeyPath : startConfig_.KeyPath);
  SetWindowTextW(hwnd(), win::Widen("Pellarin[" + startConfig_.AppVersion + "]").c_str());
  InitSlider(IDC_NOTICE_SLIDER, IDC_NOTICE_VALUE, InitialSliderPosition(startConfig_.NoticeCheckTime, 5));
  InitSlider(IDC_UPDATE_SLIDER, IDC_UPDATE_VALUE, InitialSliderPosition(startConfig_.UpdateCheckTime, 10));
  tray_.SetIconResource(static_cast<UINT>(AppIconFor(startConfig_.AppType)));
  if (!StartService()) return true;
  HideToTray(hwnd(), false);
  ArmTimers();
  win::Trace("serving");
  LookForUncheckedEdits();
  return true;
}

void CPellarinDlg::LookForUncheckedEdits() {
  // The registry and the copies' stamps are read aside; the count comes back as a message.
  HWND window = hwnd();
  try {
    std::thread([window] {
      WPARAM count = 0;
      for (const auto& [oid, record] : win::ListCheckOutRecords()) count += win::MayHoldUncheckedEdits(record) ? 1 : 0;
      if (count > 0) PostMessageW(window, kUncheckedEditsMessage, count, 0);
    }).detach();
  } catch (const std::exception& e) {
    win::Trace(std::string("no look for unchecked edits: ") + e.what());
  }
}

void CPellarinDlg::ShowUncheckedEdits(std::size_t count) {
  std::string text = win::LoadStringLang(instance(), IDS_UNCHECKED_EDITS);
  const size_t slot = text.find("%d");
  if (slot != std::string::npos) text.replace(slot, 2, std::to_string(count));
  const bool shown = tray_.ShowBalloonText(text);
  win::Trace(std::to_string(count) + " documents have changes that are not checked in" +
             (shown ? "" : " (no balloon)"));
}

bool CPellarinDlg::CreateTray() {
  HICON windowIcon = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(AppIconFor(startConfig_.AppType)),
                                                   IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  return tray_.CreateIcon(instance(), hwnd(), windowIcon, static_cast<UINT>(TrayMenuFor(startConfig_.AppType)));
}

void CPellarinDlg::InitSlider(int sliderId, int valueId, int position) {
  HWND slider = Item(sliderId);
  SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(1, 60));
  SendMessageW(slider, TBM_SETPOS, TRUE, position);
  SendMessageW(slider, TBM_SETTICFREQ, 5, 0);
  // The trackbar clamps the configured value; what it shows is what the timer uses.
  int shown = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
  SetItemText(valueId, std::to_string(shown));
}

bool CPellarinDlg::StartService() {
  service_ = std::make_unique<EdmHelperService>(
      config_, [](const std::string& serverAddress) { return FindSessionUser(serverAddress); });
  ServerSettings settings;
  if (settings_.servicePort >= 1 && settings_.servicePort <= 65535) {
    settings.port = static_cast<uint16_t>(settings_.servicePort);
  }
  if (settings_.loginExpirySeconds > 0) settings.loginExpiry = std::chrono::seconds(settings_.loginExpirySeconds);
  settings.allowedOrigins = AllowedOriginSet(settings_.allowedOrigins, settings_.edmsUrl, startConfig_.AdaptorURL);
  try {
    server_.start(*service_, settings);
    return true;
  } catch (const std::exception& e) {
    win::Trace(std::string("server start failed: ") + e.what());
    ShowInformation(std::string("Failed to start server. Exception : ") + e.what());
    EndLoop(-1);
    return false;
  }
}

void CPellarinDlg::ArmTimers() {
  const int noticeMinutes = static_cast<int>(SendDlgItemMessageW(hwnd(), IDC_NOTICE_SLIDER, TBM_GETPOS, 0, 0));
  const int updateMinutes = static_cast<int>(SendDlgItemMessageW(hwnd(), IDC_UPDATE_SLIDER, TBM_GETPOS, 0, 0));
  const TimerPlan plan = PlanTimers(startConfig_.AppType, noticeMinutes, updateMinutes);
  if (plan.armNotice) {
    SetTimer(hwnd(), kNoticeTimer, plan.noticeMs, nullptr);
    win::Trace("timer 0 armed " + std::to_string(plan.noticeMs) + " ms");
  } else {
    win::Trace("timer 0 not armed");
  }
  SetTimer(hwnd(), kUpdateTimer, plan.updateMs, nullptr);
  win::Trace("timer 1 armed " + std::to_string(plan.updateMs) + " ms");
  SetTimer(hwnd(), kTooltipTimer, plan.tooltipMs, nullptr);
  win::Trace("timer 2 armed " + std::to_string(plan.tooltipMs) + " ms");
}

bool CPellarinDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case kTrayNotifyMessage:
      tray_.OnIconNotify(wParam, lParam);
      return true;
    case kUncheckedEditsMessage:
      ShowUncheckedEdits(static_cast<std::size_t>(wParam));
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
    default:
      (void)result;
      return false;
  }
}

bool CPellarinDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kTooltipTimer: {
      // Never waits: the session user is looked up in the background.
      const std::string user = service_ ? service_->CurrentUser() : std::string();
      tray_.SetTipText(user.empty() ? std::string("Pellarin") : "Pellarin[" + user + "]");
      return true;
    }
    case kNoticeTimer:
      win::Trace("notice check is not available yet");
      return true;
    case kUpdateTimer:
      win::Trace("update check is not available yet");
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
      EndLoop(0);
      return true;
    case ID_TRAY_WORKING_DOCUMENTS:
    case ID_TRAY_TRASHCAN:
    case ID_TRAY_EDMS:
    case ID_TRAY_NOTICE:
    case ID_TRAY_CHECK_UPDATES:
      win::Trace("tray command " + std::to_string(id) + " is not available yet");
      return true;
    default:
      return false;
  }
}

void CPellarinDlg::OnDestroy() {
  server_.stop();
  for (UINT_PTR id : {kNoticeTimer, kUpdateTimer, kTooltipTimer}) KillTimer(hwnd(), id);
  tray_.RemoveIcon();
}

}  // namespace edms
