#include "common/win/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "common/win/text.h"

namespace edms::win {
namespace {

std::string SecondElement(const wchar_t* commandLine) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
  if (!argv) return {};
  std::unique_ptr<LPWSTR, decltype(&LocalFree)> owner(argv, &LocalFree);
  return argc > 1 ? Narrow(argv[1]) : std::string();
}

}  // namespace

std::string ProgramArgumentString() { return SecondElement(GetCommandLineW()); }

std::string ArgumentStringFrom(std::string_view commandLine) {
  return SecondElement(Widen(commandLine).c_str());
}

}  // namespace edms::win
