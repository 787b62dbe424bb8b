// The agent's process life: single instance, configuration, language, main window.
#pragma once
#include <windows.h>

#include <string>

namespace edms {

// Runs the agent until Exit, and then ends the process itself once the bounded waits of the
// exit are over. Returns at once (0) when another agent holds the instance mutex; shows
// ConfigProblemText and returns 0 when the configuration key cannot be read.
int RunPellarin(HINSTANCE instance);

// What the user is told when the configuration key `keyPath` (below HKEY_CURRENT_USER) could
// not be read with the Win32 result `status`: that this user may not read it
// (ERROR_ACCESS_DENIED), else "Configuration information is not valid.".
std::string ConfigProblemText(HINSTANCE instance, LONG status, const std::string& keyPath);

}  // namespace edms
