// ZTCheckOutCancel.exe: start-up. The exit code is always 0; the outcome shows in the
// registry (the check-out record is gone after a successful cancel).
#include <windows.h>

#include "cancel_dlg.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/program_start.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    edms::win::ProgramStartupResult startup =
        edms::win::ProgramStartup(edms::win::AppTypeRule::kOnlyWithLanguageId);

    edms::win::InitCommonControlsForDialogs();
    edms::win::SocketsForRun sockets;
    if (!sockets.ok()) {
      edms::win::ShowMessage(nullptr, edms::win::LoadStringLang(instance, IDS_SOCKET_INIT_FAILED),
                             edms::win::LoadStringLang(instance, IDS_INFORMATION),
                             MB_OK | MB_ICONWARNING, false);
      return 0;
    }
    edms::cancel::CZTCheckOutCancelDlg dialog(instance, startup.appType);
    dialog.DoModal();
  } catch (...) {
    // Nothing useful is left to do; the record tells the caller what happened.
  }
  return 0;
}
