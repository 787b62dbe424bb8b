#include "common/win/association.h"

#include <windows.h>
#include <shlwapi.h>

#include "common/win/text.h"

namespace edms::win {

std::string AssociatedProgram(std::string_view extension) {
  if (extension.empty()) return {};
  const std::wstring wide = Widen(extension);
  DWORD length = 0;
  if (AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_EXECUTABLE, wide.c_str(), L"open", nullptr, &length) != S_FALSE ||
      length <= 1) {
    return {};
  }
  std::wstring program(length, L'\0');
  if (FAILED(AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_EXECUTABLE, wide.c_str(), L"open", program.data(), &length))) {
    return {};
  }
  program.resize(wcsnlen(program.c_str(), program.size()));
  return Narrow(program);
}

}  // namespace edms::win
