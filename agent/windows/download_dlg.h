// The single-file download window (dialog 134): a progress bar and Cancel over one transfer
// into a path its opener chose. The read-only view runs it on a window thread of its own.
#pragma once
#include <windows.h>

#include <string>

#include "agent/windows/transfer.h"
#include "common/win/dialog.h"

namespace edms {

class CDownloadDlg : public win::CDialogBase, private TransferHost {
 public:
  // `title` becomes the caption ("Downloading report.pdf...").
  CDownloadDlg(HINSTANCE instance, std::string appType, TransferRequest request, std::string title);

  // DoModal ends with IDOK when the transfer returned 0, IDCANCEL otherwise; result() then
  // holds the code and the reason.
  const TransferResult& result() const { return result_; }

 protected:
  bool OnInitDialog() override;
  bool OnTimer(UINT_PTR id) override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnPercent(int percent) override;
  bool Aborted() const override { return aborted_; }

  std::string appType_;
  TransferRequest request_;
  std::string title_;
  TransferResult result_;
  bool aborted_ = false;
  bool started_ = false;
};

}  // namespace edms
