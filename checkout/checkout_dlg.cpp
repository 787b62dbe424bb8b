#include "checkout/checkout_dlg.h"

#include <commctrl.h>

#include <utility>

#include "common/win/progress.h"
#include "checkout/resource.h"
#include "common/win/command_line.h"
#include "common/win/language.h"
#include "common/win/message_box.h"

namespace edms::checkout {
namespace {
constexpr UINT_PTR kStartTimer = 1;
// A timer message comes only once the window has been shown and painted: the shortest one
// lets the user see the window before the check-out holds its thread.
constexpr UINT kStartDelayMs = USER_TIMER_MINIMUM;
}  // namespace

CZTCheckOutDlg::CZTCheckOutDlg(HINSTANCE instance, std::string appType)
    : CDialogBase(instance, IDD_ZTCHECKOUT_DIALOG), appType_(std::move(appType)) {}

bool CZTCheckOutDlg::OnInitDialog() {
  SetProgramIcon(appType_, IDR_MAINFRAME, IDI_AGENT);
  argumentString_ = win::ProgramArgumentString();
  CheckOutArguments args = CheckOutArguments::Parse(argumentString_);
  SetItemText(IDC_DOC_NAME, args.DocumentName());
  SetItemText(IDC_VERSION, args.versionNo);
  SendMessageW(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
  SetTimer(hwnd(), kStartTimer, kStartDelayMs, nullptr);
  return true;
}

bool CZTCheckOutDlg::OnTimer(UINT_PTR timerId) {
  if (timerId != kStartTimer) return false;
  KillTimer(hwnd(), kStartTimer);
  win::ProgramResult result = RunCheckOut(CheckOutArguments::Parse(argumentString_), *this);
  if (!result.ok()) ShowNotice(result.message);
  ran_ = true;
  exitCode_ = result.code;
  End(result.code);
  return true;
}

bool CZTCheckOutDlg::OnCommand(int id, int, HWND) {
  return id == IDOK || id == IDCANCEL;
}

void CZTCheckOutDlg::ShowProgress(int percent) {
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: the modal loop must still see it after the check-out.
      PostQuitMessage(static_cast<int>(msg.wParam));
    } else {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (percent >= 0) win::SetProgress(Item(IDC_PROGRESS), percent);
}

std::string CZTCheckOutDlg::Text(unsigned id) { return win::LoadStringLang(instance(), id); }

void CZTCheckOutDlg::ShowNotice(const std::string& text) {
  win::ShowMessage(hwnd(), text, Text(IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, true);
}

}  // namespace edms::checkout
