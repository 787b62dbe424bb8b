// The check-in dialog: the document, the version choices the rules allow, a version note,
// and OK, which runs one check-in attempt.
#pragma once
#include <windows.h>

#include <string>

#include "common/version_choices.h"
#include "common/win/dialog.h"

namespace edms::checkin {

class CZTCheckInDlg : public win::CDialogBase {
 public:
  CZTCheckInDlg(HINSTANCE instance, std::string appType);

  // The result of the last check-in attempt; 0 when none was made.
  int exitCode() const { return exitCode_; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void ApplyChoices(const VersionChoiceSet& set);
  void CheckOnly(int radioId);
  void OnOK();
  void SetBusy(bool busy);
  void Message(const std::string& text);
  void PumpMessages();

  std::string appType_;
  std::string args_;
  std::string oid_;
  int exitCode_ = 0;
  bool busy_ = false;
};

}  // namespace edms::checkin
