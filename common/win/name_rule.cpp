#include "common/win/name_rule.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "common/win/text.h"

namespace edms::win {
namespace {

std::string ProcessPathext() {
  DWORD size = GetEnvironmentVariableW(L"PATHEXT", nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  DWORD got = GetEnvironmentVariableW(L"PATHEXT", value.data(), size);
  value.resize(got < size ? got : 0);
  return Narrow(value);
}

}  // namespace

bool IsDangerousType(std::string_view extension) {
  if (extension.empty()) return false;
  if (IsProgramExtension(extension, ProcessPathext())) return true;
  return AssocIsDangerous(Widen(extension).c_str()) != FALSE;
}

NameProblem CheckFileName(std::string_view name) {
  // The type first: "run.exe." is a program to Windows, whatever else is wrong with it.
  if (IsDangerousType(ShellExtension(name))) return NameProblem::kDangerousType;
  return CheckNameText(name);
}

}  // namespace edms::win
