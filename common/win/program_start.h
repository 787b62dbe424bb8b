// What the short-lived programs set up before their dialog.
#pragma once
#include <windows.h>

#include <string>

#include "common/win/client_config.h"

namespace edms::win {

// Registers every common-control class the dialogs use (progress bars, trackbars, lists). The
// first call loads the common controls; later calls, from any thread, do nothing.
void InitCommonControlsForDialogs();

// Start-up reading of the four short-lived programs, before any window exists: the
// configuration's LanguageID is applied when present (even 0) and AppType read (see
// LoadProgramSettings). The cancel program passes kOnlyWithLanguageId. A key that cannot be
// read leaves the system's language and an empty AppType, and the run goes on.
enum class AppTypeRule { kAlways, kOnlyWithLanguageId };

struct ProgramStartupResult {
  LONG configStatus = ERROR_FILE_NOT_FOUND;  // the Win32 result of reading the key
  bool languageApplied = false;
  LANGID language = 0;  // the value applied, when languageApplied
  std::string appType;
};

ProgramStartupResult ProgramStartup(AppTypeRule rule = AppTypeRule::kAlways,
                                    const std::string& keyPath = kConfigKeyPath);

// Windows Sockets for the program's run: started on construction, cleaned up on
// destruction when the start succeeded.
class SocketsForRun {
 public:
  SocketsForRun();
  ~SocketsForRun();
  SocketsForRun(const SocketsForRun&) = delete;
  SocketsForRun& operator=(const SocketsForRun&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// How a program tells the user that Windows Sockets could not start (never topmost).
struct SocketFailureNotice {
  UINT textId;              // "Socket initialization failed."
  UINT captionId;           // the caption's string id, or 0 to use captionText
  std::string captionText;  // used when captionId is 0
  UINT icon;                // MB_ICONWARNING or MB_ICONEXCLAMATION
};

// Everything a short-lived program does before its dialog: ProgramStartup(rule), the common
// controls, Windows Sockets for the run. When the sockets cannot start, the notice is shown
// and ready() is false: the program then ends with 0.
class ProgramRun {
 public:
  ProgramRun(HINSTANCE instance, AppTypeRule rule, const SocketFailureNotice& notice);
  bool ready() const { return sockets_.ok(); }
  const std::string& appType() const { return startup_.appType; }

 private:
  ProgramStartupResult startup_;
  SocketsForRun sockets_;
};

}  // namespace edms::win
