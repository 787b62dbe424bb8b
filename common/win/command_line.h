// The argument string a program was started with: the second element of its command line.
#pragma once
#include <string>
#include <string_view>

namespace edms::win {

// Element 1 of CommandLineToArgvW(GetCommandLineW()) in UTF-8; empty when absent.
std::string ProgramArgumentString();

// Element 1 of `commandLine` (UTF-8) split by the platform's rules; empty when absent.
std::string ArgumentStringFrom(std::string_view commandLine);

}  // namespace edms::win
