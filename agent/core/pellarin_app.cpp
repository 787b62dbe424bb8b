#include "agent/core/pellarin_app.h"

#include <commctrl.h>

#include "agent/core/pellarin_dlg.h"
#include "agent/core/shared_config.h"
#include "agent/core/trace.h"
#include "agent/resource.h"
#include "common/win/client_config.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"

namespace edms {
namespace {

// The installation writes the key; an agent that finds none has nothing to serve, and
// creating an empty key here would hide the broken installation.
bool ConfigKeyExists() {
  win::UniqueHKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, win::Widen(win::kConfigKeyPath).c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
         ERROR_SUCCESS;
}

}  // namespace

int RunPellarin(HINSTANCE instance) {
  // Never closed: the mutex marks the running agent until the process ends.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"mtxPellarin");
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    Trace("another agent is running");
    return 0;
  }

  win::ClientConfig config;
  if (!ConfigKeyExists() || !win::LoadClientConfig(win::kConfigKeyPath, config)) {
    Trace("configuration missing");
    win::ShowMessage(nullptr, win::LoadStringLang(instance, IDS_CONFIG_INVALID),
                     win::LoadStringLang(instance, IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, false);
    return 0;
  }
  win::ApplyAgentLanguage(config);

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = 0xFF;
  InitCommonControlsEx(&controls);

  SharedConfig shared(std::move(config));
  int result;
  {
    CPellarinDlg dialog(instance, shared);
    result = dialog.Run();
  }
  return result;
}

}  // namespace edms
