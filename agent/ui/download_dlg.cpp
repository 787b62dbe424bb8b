#include "agent/ui/download_dlg.h"

#include <utility>

#include "agent/resource.h"
#include "common/win/text.h"

namespace edms {

CDownloadDlg::CDownloadDlg(HINSTANCE instance, std::string appType, TransferRequest request, std::string title)
    : CTransferDlg(instance, IDD_DOWNLOAD, IDC_DOWNLOAD_PROGRESS, std::move(appType), std::move(request)),
      title_(std::move(title)) {}

void CDownloadDlg::ShowTexts() {
  SetWindowTextW(hwnd(), win::Widen(title_).c_str());
  // Opened for a page in the browser: in front, where the user is looking.
  SetForegroundWindow(hwnd());
}

}  // namespace edms
