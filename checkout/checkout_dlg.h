// The check-out window: document name, version and progress, topmost. It runs the check-out
// once, 100 ms after it appears, and ends with the check-out's exit code.
#pragma once
#include <windows.h>

#include <string>

#include "checkout/checkout_flow.h"
#include "common/win/dialog.h"

namespace edms::checkout {

class CZTCheckOutDlg : public win::CDialogBase, private CheckOutHost {
 public:
  CZTCheckOutDlg(HINSTANCE instance, std::string appType);

  // True once the check-out has run; exitCode() is then its result.
  bool ran() const { return ran_; }
  int exitCode() const { return exitCode_; }

 protected:
  bool OnInitDialog() override;
  bool OnTimer(UINT_PTR timerId) override;
  // The hidden buttons, Escape and the close box never stop a check-out: the window ends
  // only when the check-out has run.
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void ShowProgress(int percent) override;
  std::string Text(unsigned id) override;
  void ShowNotice(const std::string& text) override;
  HWND Owner() override { return hwnd(); }

  std::string appType_;
  std::string argumentString_;
  bool ran_ = false;
  int exitCode_ = 0;
};

}  // namespace edms::checkout
