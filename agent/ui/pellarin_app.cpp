#include "agent/ui/pellarin_app.h"

#include "agent/ui/pellarin_dlg.h"
#include "agent/service/shared_config.h"
#include "agent/resource.h"
#include "common/text_format.h"
#include "common/win/client_config.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/system_error.h"
#include "common/win/trace.h"

namespace edms {

std::string ConfigProblemText(HINSTANCE instance, LONG status, const std::string& keyPath) {
  if (status == ERROR_ACCESS_DENIED) {
    return FillPlaceholder(win::LoadStringLang(instance, IDS_CONFIG_ACCESS_DENIED), "HKEY_CURRENT_USER\\" + keyPath);
  }
  return win::LoadStringLang(instance, IDS_CONFIG_INVALID);
}

int RunPellarin(HINSTANCE instance) {
  win::SetTracePrefix("[Pellarin] ");
  // Never closed: the mutex marks the running agent until the process ends.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"mtxPellarin");
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    win::Trace("another agent is running");
    return 0;
  }

  // The installation writes the key; an agent that finds none has nothing to serve, and
  // creating an empty key here would hide the broken installation.
  win::ClientConfig config;
  if (const LONG status = win::LoadClientConfig(win::kConfigKeyPath, config); status != ERROR_SUCCESS) {
    win::Trace("configuration not read: " + win::DescribeError(static_cast<DWORD>(status)));
    win::ShowMessage(nullptr, ConfigProblemText(instance, status, win::kConfigKeyPath),
                     win::LoadStringLang(instance, IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, false);
    return 0;
  }
  win::ApplyAgentLanguage(config);

  // Neither is ever destroyed: see below.
  auto* shared = new SharedConfig(std::move(config));
  auto* dialog = new CPellarinDlg(instance, *shared);
  const int result = dialog->Run();
  dialog->Shutdown();
  // Threads the bounded waits left behind (a check-out cycle waiting for its editor, a
  // session-user lookup held up by a share that does not answer, a window that would not
  // close) still use the agent's objects: the process ends here, before any of them goes.
  win::Trace("exit with " + std::to_string(result));
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}

}  // namespace edms
