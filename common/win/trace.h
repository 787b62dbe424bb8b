// Debug lines of a program: the debugger output only (under Wine, WINEDEBUG=+debugstr or
// warn+seh shows them); there is no log file.
#pragma once
#include <string>
#include <string_view>

namespace edms::win {

// The text put before every line of this process ("[Pellarin] ", "[ZTCheckIn]"). Set once
// at start, before any other thread runs; empty by default.
void SetTracePrefix(std::string prefix);

// Writes prefix + line + "\n".
void Trace(std::string_view line);

}  // namespace edms::win
