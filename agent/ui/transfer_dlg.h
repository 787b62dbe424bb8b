// A window over one transfer (doOpen): it appears, starts the transfer from a short timer,
// shows its progress, and ends when the transfer has: IDOK for 0, IDCANCEL otherwise. Cancel
// (button, Esc, close box) only asks the transfer to stop; Enter does nothing.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

#include "agent/service/transfer.h"
#include "common/win/dialog.h"

namespace edms {

class CTransferDlg : public win::CDialogBase, private TransferHost {
 public:
  // result() holds the code and the reason once DoModal has returned.
  const TransferResult& result() const { return result_; }
  // Asks the running transfer to stop, as Cancel does. Any thread may call it.
  void Abort() { aborted_ = true; }

 protected:
  CTransferDlg(HINSTANCE instance, int templateId, int progressId, std::string appType, TransferRequest request);

  // The window's own texts, set before the transfer starts.
  virtual void ShowTexts() = 0;

  bool OnInitDialog() override;
  bool OnTimer(UINT_PTR id) override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnPercent(int percent) override;
  bool Aborted() const override { return aborted_; }

  int progressId_;
  std::string appType_;
  TransferRequest request_;
  TransferResult result_;
  std::atomic<bool> aborted_{false};
  bool started_ = false;
};

}  // namespace edms
