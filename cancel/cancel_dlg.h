// The cancel program's one window: document name, version and progress while the cancel runs.
#pragma once
#include <windows.h>

#include <string>

#include "common/win/dialog.h"

namespace edms::cancel {

class CZTCheckOutCancelDlg : public win::CDialogBase {
 public:
  CZTCheckOutCancelDlg(HINSTANCE instance, std::string appType);

 protected:
  bool OnInitDialog() override;
  bool OnTimer(UINT_PTR timerId) override;

 private:
  void Message(const std::string& text, UINT flags = MB_OK | MB_ICONEXCLAMATION);

  std::string appType_;
  std::string args_;
};

}  // namespace edms::cancel
