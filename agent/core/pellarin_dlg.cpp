#include "agent/core/pellarin_dlg.h"

#include <commctrl.h>

#include <exception>

#include "agent/core/app_rules.h"
#include "agent/core/trace.h"
#include "agent/resource.h"
#include "agent/windows/meta_reader.h"
#include "common/win/language.h"
#include "common/win/registry.h"
#include "common/win/text.h"

namespace edms {
namespace {

// Values of the configuration key that only the main window reads: the EDMS page, and the
// service's endpoint settings (ServicePort and LoginExpirySeconds exist for tests).
struct ServiceKeyValues {
  std::string edmsUrl;
  std::string allowedOrigins;
  uint32_t servicePort = 0;
  uint32_t loginExpirySeconds = 0;
};

ServiceKeyValues ReadServiceKeyValues(const std::string& keyPath) {
  ServiceKeyValues values;
  win::CRegistry key(win::CRegistry::kCreate);
  if (!key.Open(keyPath)) return values;
  values.edmsUrl = key["EdmsURL"].Text();
  values.allowedOrigins = key["AllowedOrigins"].Text();
  values.servicePort = key["ServicePort"].Number();
  values.loginExpirySeconds = key["LoginExpirySeconds"].Number();
  key.Close();
  return values;
}

void ShowInformation(HINSTANCE instance, HWND owner, const std::string& text) {
  MessageBoxW(owner, win::Widen(text).c_str(), win::Widen(win::LoadStringLang(instance, IDS_INFORMATION)).c_str(),
              MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

CPellarinDlg::CPellarinDlg(HINSTANCE instance, SharedConfig& config)
    : instance_(instance), config_(config), startConfig_(config.Snapshot()) {}

CPellarinDlg::~CPellarinDlg() {
  server_.stop();
  if (window_) DestroyWindow(window_);
}

int CPellarinDlg::Run() {
  window_ = win::CreateDialogLang(instance_, IDD_PELLARIN_DIALOG, nullptr, &CPellarinDlg::DialogProc,
                                  reinterpret_cast<LPARAM>(this));
  if (!window_) {
    Trace("the main window cannot be created");
    return -1;
  }
  MSG msg;
  while (!done_) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (!IsDialogMessageW(window_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DestroyWindow(window_);
  window_ = nullptr;
  Trace("exit with " + std::to_string(result_));
  return result_;
}

void CPellarinDlg::EndLoop(int result) {
  result_ = result;
  done_ = true;
  PostMessageW(window_, WM_NULL, 0, 0);
}

INT_PTR CALLBACK CPellarinDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<CPellarinDlg*>(lParam)->window_ = window;
  }
  auto* self = reinterpret_cast<CPellarinDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (const std::exception& e) {
    Trace(std::string("main window: ") + e.what());
  } catch (...) {
    Trace("main window: unknown failure");
  }
  return FALSE;
}

INT_PTR CPellarinDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // The tray icon comes first: without it the agent cannot start.
      if (!OnCreateTray()) {
        Trace("the notification-area icon cannot be created");
        EndLoop(-1);
        return TRUE;
      }
      OnInitDialog();
      return TRUE;
    case kTrayNotifyMessage:
      tray_.OnIconNotify(wParam, lParam);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        win::DialogBoxLang(instance_, IDD_ABOUTBOX, window_, AboutProc, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      HideToTray(window_, false);
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && IsCompatAppType(startConfig_.AppType)) HideToTray(window_, false);
      return FALSE;
    case WM_TIMER:
      OnTimer(wParam);
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      server_.stop();
      for (UINT_PTR id : {kNoticeTimer, kUpdateTimer, kTooltipTimer}) KillTimer(window_, id);
      tray_.RemoveIcon();
      return FALSE;
    default:
      return FALSE;
  }
}

bool CPellarinDlg::OnCreateTray() {
  HICON windowIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(AppIconFor(startConfig_.AppType)),
                                                   IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  return tray_.CreateIcon(instance_, window_, windowIcon, static_cast<UINT>(TrayMenuFor(startConfig_.AppType)));
}

void CPellarinDlg::InitSlider(int sliderId, int valueId, int position) {
  HWND slider = GetDlgItem(window_, sliderId);
  SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(1, 60));
  SendMessageW(slider, TBM_SETPOS, TRUE, position);
  SendMessageW(slider, TBM_SETTICFREQ, 5, 0);
  // The trackbar clamps the configured value; what it shows is what the timer uses.
  int shown = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
  SetDlgItemTextW(window_, valueId, std::to_wstring(shown).c_str());
}

void CPellarinDlg::OnInitDialog() {
  std::string about = win::LoadStringLang(instance_, IDS_ABOUTBOX);
  if (!about.empty()) {
    if (HMENU systemMenu = GetSystemMenu(window_, FALSE)) {
      AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, win::Widen(about).c_str());
    }
  }
  icons_ = win::SetProgramIcons(window_, instance_, startConfig_.AppType, IDR_MAINFRAME, IDR_MAINFRAME_EDMS);

  ServiceKeyValues keyValues = ReadServiceKeyValues(startConfig_.KeyPath.empty() ? win::kConfigKeyPath
                                                                                  : startConfig_.KeyPath);
  edmsUrl_ = keyValues.edmsUrl;
  SetWindowTextW(window_, win::Widen("Pellarin[" + startConfig_.AppVersion + "]").c_str());

  InitSlider(IDC_NOTICE_SLIDER, IDC_NOTICE_VALUE, InitialSliderPosition(startConfig_.NoticeCheckTime, 5));
  InitSlider(IDC_UPDATE_SLIDER, IDC_UPDATE_VALUE, InitialSliderPosition(startConfig_.UpdateCheckTime, 10));

  tray_.SetIconResource(static_cast<UINT>(AppIconFor(startConfig_.AppType)));

  service_ = std::make_unique<EdmHelperService>(
      config_, [](const std::string& serverAddress) { return FindSessionUser(serverAddress); });

  ServerSettings settings;
  if (keyValues.servicePort >= 1 && keyValues.servicePort <= 65535) {
    settings.port = static_cast<uint16_t>(keyValues.servicePort);
  }
  if (keyValues.loginExpirySeconds > 0) settings.loginExpiry = std::chrono::seconds(keyValues.loginExpirySeconds);
  settings.allowedOrigins = AllowedOriginSet(keyValues.allowedOrigins, edmsUrl_, startConfig_.AdaptorURL);

  try {
    server_.start(*service_, settings);
    HideToTray(window_, false);
    int noticeMinutes = static_cast<int>(SendDlgItemMessageW(window_, IDC_NOTICE_SLIDER, TBM_GETPOS, 0, 0));
    int updateMinutes = static_cast<int>(SendDlgItemMessageW(window_, IDC_UPDATE_SLIDER, TBM_GETPOS, 0, 0));
    TimerPlan plan = PlanTimers(startConfig_.AppType, noticeMinutes, updateMinutes);
    if (plan.armNotice) {
      SetTimer(window_, kNoticeTimer, plan.noticeMs, nullptr);
      Trace("timer 0 armed " + std::to_string(plan.noticeMs) + " ms");
    } else {
      Trace("timer 0 not armed");
    }
    SetTimer(window_, kUpdateTimer, plan.updateMs, nullptr);
    Trace("timer 1 armed " + std::to_string(plan.updateMs) + " ms");
    SetTimer(window_, kTooltipTimer, plan.tooltipMs, nullptr);
    Trace("timer 2 armed " + std::to_string(plan.tooltipMs) + " ms");
    Trace("serving");
  } catch (const std::exception& e) {
    Trace(std::string("server start failed: ") + e.what());
    ShowInformation(instance_, window_, std::string("Failed to start server. Exception : ") + e.what());
    EndLoop(-1);
  }
}

std::string CPellarinDlg::CurrentUser() {
  std::string user = FindSessionUser(config_.Snapshot().ServerAddress);
  if (!user.empty()) return user;
  return service_ ? service_->userId() : std::string();
}

void CPellarinDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kTooltipTimer: {
      std::string user = CurrentUser();
      tray_.SetTipText(user.empty() ? std::string("Pellarin") : "Pellarin[" + user + "]");
      break;
    }
    case kNoticeTimer:
      Trace("notice check is not available yet");
      break;
    case kUpdateTimer:
      Trace("update check is not available yet");
      break;
    default:
      break;
  }
}

void CPellarinDlg::OnCommand(UINT id) {
  switch (id) {
    case IDOK:
      HideToTray(window_, false);
      break;
    case IDCANCEL:
      break;  // Escape must not end the agent
    case ID_TRAY_EXIT:
      EndLoop(0);
      break;
    case ID_TRAY_WORKING_DOCUMENTS:
    case ID_TRAY_TRASHCAN:
    case ID_TRAY_EDMS:
    case ID_TRAY_NOTICE:
    case ID_TRAY_CHECK_UPDATES:
      Trace("tray command " + std::to_string(id) + " is not available yet");
      break;
    default:
      break;
  }
}

}  // namespace edms
