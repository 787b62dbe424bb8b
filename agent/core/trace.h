// Debug lines of the agent: "[Pellarin] text" on the debugger output (under Wine,
// WINEDEBUG=+debugstr shows them). There is no log file.
#pragma once
#include <string>

namespace edms {

void Trace(const std::string& utf8Line);

}  // namespace edms
