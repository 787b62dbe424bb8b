#include "common/win/program_start.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/system_error.h"
#include "common/win/trace.h"

namespace edms::win {

void InitCommonControlsForDialogs() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)registered;
}

ProgramStartupResult ProgramStartup(AppTypeRule rule, const std::string& keyPath) {
  ProgramStartupResult result;
  ProgramSettings settings = LoadProgramSettings(rule == AppTypeRule::kOnlyWithLanguageId, keyPath);
  result.configStatus = settings.status;
  if (settings.status != ERROR_SUCCESS) {
    Trace("configuration not read: " + DescribeError(static_cast<DWORD>(settings.status)));
  }
  if (settings.hasLanguage) {
    ApplyLanguage(settings.language);
    result.languageApplied = true;
    result.language = settings.language;
  }
  result.appType = std::move(settings.appType);
  return result;
}

SocketsForRun::SocketsForRun() {
  WSADATA wsa{};
  ok_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

SocketsForRun::~SocketsForRun() {
  if (ok_) WSACleanup();
}

ProgramRun::ProgramRun(HINSTANCE instance, AppTypeRule rule, const SocketFailureNotice& notice)
    : startup_(ProgramStartup(rule)) {
  InitCommonControlsForDialogs();
  if (sockets_.ok()) return;
  const std::string caption = notice.captionId ? LoadStringLang(instance, notice.captionId) : notice.captionText;
  ShowMessage(nullptr, LoadStringLang(instance, notice.textId), caption, MB_OK | notice.icon, false);
}

}  // namespace edms::win
