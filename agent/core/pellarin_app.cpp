#include "agent/core/pellarin_app.h"

#include "agent/core/pellarin_dlg.h"
#include "agent/core/shared_config.h"
#include "agent/resource.h"
#include "common/win/client_config.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/trace.h"

namespace edms {

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
  if (!win::ConfigKeyExists() || !win::LoadClientConfig(win::kConfigKeyPath, config)) {
    win::Trace("configuration missing");
    win::ShowMessage(nullptr, win::LoadStringLang(instance, IDS_CONFIG_INVALID),
                     win::LoadStringLang(instance, IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, false);
    return 0;
  }
  win::ApplyAgentLanguage(config);

  SharedConfig shared(std::move(config));
  CPellarinDlg dialog(instance, shared);
  return dialog.Run();
}

}  // namespace edms
