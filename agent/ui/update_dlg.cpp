#include "agent/ui/update_dlg.h"

#include <utility>

#include "agent/resource.h"
#include "common/win/text.h"

namespace edms {

CUpdateDlg::CUpdateDlg(HINSTANCE instance, std::string appType, TransferRequest request, std::string caption,
                       std::string installedVersion, std::string offeredVersion)
    : CTransferDlg(instance, IDD_UPDATE, IDC_UPDATE_PROGRESS, std::move(appType), std::move(request)),
      caption_(std::move(caption)),
      installedVersion_(std::move(installedVersion)),
      offeredVersion_(std::move(offeredVersion)) {}

void CUpdateDlg::ShowTexts() {
  SetWindowTextW(hwnd(), win::Widen(caption_).c_str());
  SetItemText(IDC_UPDATE_CURRENT, installedVersion_);
  SetItemText(IDC_UPDATE_NEW, offeredVersion_);
}

}  // namespace edms
