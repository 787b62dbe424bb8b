// The single-file download window (dialog 134): a progress bar and Cancel over one transfer
// into a path its opener chose. The read-only view runs it on a window thread of its own.
#pragma once
#include <windows.h>

#include <string>

#include "agent/ui/transfer_dlg.h"

namespace edms {

class CDownloadDlg : public CTransferDlg {
 public:
  // `title` becomes the caption ("Downloading report.pdf...").
  CDownloadDlg(HINSTANCE instance, std::string appType, TransferRequest request, std::string title);

 private:
  void ShowTexts() override;

  std::string title_;
};

}  // namespace edms
