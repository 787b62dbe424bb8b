// ZTCheckOutCancel.exe: start-up. The exit code is always 0; the outcome shows in the
// registry (the check-out record is gone after a successful cancel).
#include <windows.h>

#include "cancel_dlg.h"
#include "common/win/program_start.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    // AppType counts only where the configuration also names a language.
    edms::win::ProgramRun run(instance, edms::win::AppTypeRule::kOnlyWithLanguageId,
                              {IDS_SOCKET_INIT_FAILED, IDS_INFORMATION, {}, MB_ICONWARNING});
    if (!run.ready()) return 0;
    edms::cancel::CZTCheckOutCancelDlg dialog(instance, run.appType());
    dialog.DoModal();
  } catch (...) {
    // Nothing useful is left to do; the record tells the caller what happened.
  }
  return 0;
}
