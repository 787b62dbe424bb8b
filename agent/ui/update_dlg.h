// The update window (dialog 136): the installed and the offered version, the installer's
// download with its progress bar, and Cancel.
#pragma once
#include <windows.h>

#include <string>

#include "agent/ui/transfer_dlg.h"

namespace edms {

class CUpdateDlg : public CTransferDlg {
 public:
  // `caption` names the window (it shows none; the taskbar and other programs see it).
  CUpdateDlg(HINSTANCE instance, std::string appType, TransferRequest request, std::string caption,
             std::string installedVersion, std::string offeredVersion);

 private:
  void ShowTexts() override;

  std::string caption_;
  std::string installedVersion_;
  std::string offeredVersion_;
};

}  // namespace edms
