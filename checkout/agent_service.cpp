#include "checkout/agent_service.h"

#include <windows.h>

#include <cstdio>

#include <string>

#include "common/win/handles.h"
#include "common/win/trace.h"

namespace edms::checkout {
namespace {

// The service's failures go to standard output, where an administrator running the program
// by hand sees them, and to the debugger output.
void Report(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
  std::string line(text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  win::Trace(line);
}

}  // namespace

void SignalAgentService() {
  char line[128];
  win::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    std::snprintf(line, sizeof line, "OpenSCManager failed w/err 0x%08lx\n", GetLastError());
    Report(line);
    return;
  }
  win::UniqueService service(
      OpenServiceW(manager.get(), kAgentServiceName,
                   SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_USER_DEFINED_CONTROL));
  if (!service) {
    std::snprintf(line, sizeof line, "OpenService failed w/err 0x%08lx\n", GetLastError());
    Report(line);
    return;
  }
  SERVICE_STATUS status{};
  if (!ControlService(service.get(), kAgentServiceControl, &status)) {
    Report("\nZeltoAgentSvc failed to signal.\n");
  }
}

}  // namespace edms::checkout
