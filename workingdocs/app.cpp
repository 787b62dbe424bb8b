// ZTWorkingDocuments.exe: start-up. One list at a time; the exit code is always 0.
#include <windows.h>

#include "common/text_format.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/program_start.h"
#include "common/win/trace.h"
#include "resource.h"
#include "single_instance.h"
#include "working_documents_dlg.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace edms;
  try {
    win::SetTracePrefix("[ZTWorkingDocuments]");
    const win::ProgramStartupResult startup = win::ProgramStartup(win::AppTypeRule::kAlways);
    win::InitCommonControlsForDialogs();

    const std::string title = win::LoadStringLang(instance, IDS_TITLE);
    if (!workingdocs::CloseEarlierList(title)) {
      win::ShowMessage(nullptr, FillPlaceholder(win::LoadStringLang(instance, IDS_CLOSE_EARLIER), title),
                       win::LoadStringLang(instance, IDS_INFORMATION), MB_OK | MB_ICONWARNING);
      return 0;
    }
    if (!workingdocs::RegisterListWindowClass(instance)) win::Trace("the list's window class cannot be registered");
    workingdocs::CZTWorkingDocumentsDlg dialog(instance, startup.appType);
    if (dialog.DoModal() == -1) {
      win::ShowMessage(nullptr, win::LoadStringLang(instance, IDS_UNKNOWN_ERROR),
                       win::LoadStringLang(instance, IDS_INFORMATION));
    }
  } catch (...) {
    // Nothing is left to do: the list changes nothing by itself.
  }
  return 0;
}
