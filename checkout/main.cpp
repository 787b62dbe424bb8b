// ZTCheckOut: checks one document version out of the EDMS server into the work folder.
// Started with one argument string; ends with the check-out's exit code.
#include <windows.h>

#include <string>
#include <utility>

#include "checkout/checkout_dlg.h"
#include "checkout/resource.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/program_start.h"

namespace edms::checkout {

class CZTCheckOutApp {
 public:
  explicit CZTCheckOutApp(HINSTANCE instance) : instance_(instance) {}

  int Run() {
    win::ProgramStartupResult startup = win::ProgramStartup(win::AppTypeRule::kAlways);
    appType_ = std::move(startup.appType);

    win::InitCommonControlsForDialogs();
    win::SocketsForRun sockets;
    if (!sockets.ok()) {
      win::ShowMessage(nullptr, win::LoadStringLang(instance_, IDS_SOCKET_INIT_FAILED),
                       "ZTCheckOut", MB_OK | MB_ICONEXCLAMATION, false);
      return 0;
    }

    CZTCheckOutDlg dialog(instance_, appType_);
    dialog.DoModal();
    // A dialog that could not be shown did not check anything out.
    exitCode_ = dialog.ran() ? dialog.exitCode() : kOtherFailure;
    return exitCode_;
  }

 private:
  HINSTANCE instance_;
  std::string appType_;
  int exitCode_ = 0;
};

}  // namespace edms::checkout

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    edms::checkout::CZTCheckOutApp app(instance);
    return app.Run();
  } catch (...) {
    return edms::checkout::kOtherFailure;
  }
}
