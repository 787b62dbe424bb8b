#include "agent/ui/transfer_dlg.h"

#include <utility>

#include "agent/resource.h"
#include "common/win/progress.h"

namespace edms {
namespace {

constexpr UINT_PTR kStartTimer = 0;
// Lets the window appear and paint before the transfer holds its thread.
constexpr UINT kStartDelayMs = 200;

}  // namespace

CTransferDlg::CTransferDlg(HINSTANCE instance, int templateId, int progressId, std::string appType,
                           TransferRequest request)
    : CDialogBase(instance, templateId),
      progressId_(progressId),
      appType_(std::move(appType)),
      request_(std::move(request)) {}

bool CTransferDlg::OnInitDialog() {
  SetProgramIcon(appType_, IDR_MAINFRAME, IDR_MAINFRAME_EDMS);
  ShowTexts();
  SetTimer(hwnd(), kStartTimer, kStartDelayMs, nullptr);
  return true;
}

bool CTransferDlg::OnTimer(UINT_PTR id) {
  if (id != kStartTimer) return false;
  KillTimer(hwnd(), kStartTimer);
  if (started_) return true;
  started_ = true;
  result_ = DoOpen(request_, *this);
  win::SetProgress(Item(progressId_), 100);
  End(result_.code == kTransferOk ? IDOK : IDCANCEL);
  return true;
}

bool CTransferDlg::OnCommand(int id, int, HWND) {
  if (id == IDCANCEL) {
    aborted_ = true;
    return true;
  }
  return id == IDOK;
}

void CTransferDlg::OnPercent(int percent) { win::SetProgress(Item(progressId_), percent); }

}  // namespace edms
