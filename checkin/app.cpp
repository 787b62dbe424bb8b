// ZTCheckIn.exe: start-up. The exit code is the result of the last check-in attempt.
#include <windows.h>

#include "checkin_dlg.h"
#include "common/win/program_start.h"
#include "common/win/trace.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int exitCode = 0;
  try {
    edms::win::SetTracePrefix("[ZTCheckIn]");
    edms::win::ProgramRun run(instance, edms::win::AppTypeRule::kAlways,
                              {IDS_SOCKET_INIT_FAILED, IDS_INFORMATION, {}, MB_ICONWARNING});
    if (!run.ready()) return 0;
    edms::checkin::CZTCheckInDlg dialog(instance, run.appType());
    dialog.DoModal();
    exitCode = dialog.exitCode();
  } catch (...) {
    // The exit code stays what the last attempt made it.
  }
  return exitCode;
}
