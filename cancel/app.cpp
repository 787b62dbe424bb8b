// ZTCheckOutCancel.exe: start-up. The exit code is always 0; the outcome shows in the
// registry (the check-out record is gone after a successful cancel).
#include <windows.h>
#include <commctrl.h>
#include <winsock2.h>

#include "cancel_dlg.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    edms::win::ProgramStartupResult startup =
        edms::win::ProgramStartup(edms::win::AppTypeRule::kOnlyWithLanguageId);

    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
      edms::win::ShowMessage(nullptr, edms::win::LoadStringLang(instance, IDS_SOCKET_INIT_FAILED),
                             edms::win::LoadStringLang(instance, IDS_INFORMATION),
                             MB_OK | MB_ICONWARNING, false);
      return 0;
    }
    edms::cancel::CZTCheckOutCancelDlg dialog(instance, startup.appType);
    dialog.DoModal();
    WSACleanup();
  } catch (...) {
    // Nothing useful is left to do; the record tells the caller what happened.
  }
  return 0;
}
