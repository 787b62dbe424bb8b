#include "agent/windows/download_dlg.h"

#include <utility>

#include "agent/resource.h"
#include "common/win/progress.h"
#include "common/win/text.h"

namespace edms {
namespace {

constexpr UINT_PTR kStartTimer = 0;
// Lets the window appear and paint before the transfer holds its thread.
constexpr UINT kStartDelayMs = 200;

}  // namespace

CDownloadDlg::CDownloadDlg(HINSTANCE instance, std::string appType, TransferRequest request, std::string title)
    : CDialogBase(instance, IDD_DOWNLOAD),
      appType_(std::move(appType)),
      request_(std::move(request)),
      title_(std::move(title)) {}

bool CDownloadDlg::OnInitDialog() {
  SetProgramIcon(appType_, IDR_MAINFRAME, IDR_MAINFRAME_EDMS);
  SetWindowTextW(hwnd(), win::Widen(title_).c_str());
  // Opened for a page in the browser: in front, where the user is looking.
  SetForegroundWindow(hwnd());
  SetTimer(hwnd(), kStartTimer, kStartDelayMs, nullptr);
  return true;
}

bool CDownloadDlg::OnTimer(UINT_PTR id) {
  if (id != kStartTimer) return false;
  KillTimer(hwnd(), kStartTimer);
  if (started_) return true;
  started_ = true;
  result_ = DoOpen(request_, *this);
  win::SetProgress(Item(IDC_DOWNLOAD_PROGRESS), 100);
  End(result_.code == kTransferOk ? IDOK : IDCANCEL);
  return true;
}

bool CDownloadDlg::OnCommand(int id, int, HWND) {
  // Cancel (button, Esc or the close box) only asks the transfer to stop; the window ends
  // when it has. Enter does nothing.
  if (id == IDCANCEL) {
    aborted_ = true;
    return true;
  }
  return id == IDOK;
}

void CDownloadDlg::OnPercent(int percent) { win::SetProgress(Item(IDC_DOWNLOAD_PROGRESS), percent); }

}  // namespace edms
