// ZTCheckOut: checks one document version out of the EDMS server into the work folder.
// Started with one argument string; ends with the check-out's exit code.
#include <windows.h>

#include <string>
#include <utility>

#include "checkout/checkout_dlg.h"
#include "checkout/resource.h"
#include "common/win/program_start.h"

namespace edms::checkout {

class CZTCheckOutApp {
 public:
  explicit CZTCheckOutApp(HINSTANCE instance) : instance_(instance) {}

  int Run() {
    win::ProgramRun run(instance_, win::AppTypeRule::kAlways,
                        {IDS_SOCKET_INIT_FAILED, 0, "ZTCheckOut", MB_ICONEXCLAMATION});
    if (!run.ready()) return 0;
    appType_ = run.appType();

    CZTCheckOutDlg dialog(instance_, appType_);
    dialog.DoModal();
    // A dialog that could not be shown did not check anything out.
    exitCode_ = dialog.ran() ? dialog.exitCode() : win::kResultOtherFailure;
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
    return edms::win::kResultOtherFailure;
  }
}
