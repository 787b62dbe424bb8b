// ZTCheckIn.exe: start-up. The exit code is the result of the last check-in attempt.
#include <windows.h>

#include "checkin_dlg.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/program_start.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int exitCode = 0;
  try {
    edms::win::ProgramStartupResult startup =
        edms::win::ProgramStartup(edms::win::AppTypeRule::kAlways);

    edms::win::InitCommonControlsForDialogs();
    edms::win::SocketsForRun sockets;
    if (!sockets.ok()) {
      edms::win::ShowMessage(nullptr, edms::win::LoadStringLang(instance, IDS_SOCKET_INIT_FAILED),
                             edms::win::LoadStringLang(instance, IDS_INFORMATION),
                             MB_OK | MB_ICONWARNING, false);
      return 0;
    }
    edms::checkin::CZTCheckInDlg dialog(instance, startup.appType);
    dialog.DoModal();
    exitCode = dialog.exitCode();
  } catch (...) {
    // The exit code stays what the last attempt made it.
  }
  return exitCode;
}
