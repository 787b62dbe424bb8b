// The agent's process life: single instance, configuration, language, main window.
#pragma once
#include <windows.h>

namespace edms {

// Runs the agent until Exit, and then ends the process itself once the bounded waits of the
// exit are over. Returns at once (0) when another agent holds the instance mutex; shows
// "Configuration information is not valid." and returns 0 when the configuration key is
// missing or unreadable.
int RunPellarin(HINSTANCE instance);

}  // namespace edms
