// The signal to the local agent service after a document arrived.
#pragma once

namespace edms::checkout {

inline constexpr wchar_t kAgentServiceName[] = L"ZeltoAgentSvc";
inline constexpr unsigned long kAgentServiceControl = 147;

// Sends the user-defined control 147 to the service "ZeltoAgentSvc" through the local service
// control manager. Best effort: nothing is awaited, every failure is only traced.
void SignalAgentService();

}  // namespace edms::checkout
