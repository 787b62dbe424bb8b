#include "checkout/editor.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "checkout/resource.h"
#include "common/filename.h"
#include "common/text_format.h"
#include "common/win/association.h"
#include "common/win/text.h"

namespace edms::checkout {
namespace {

bool Launched(HINSTANCE result) { return reinterpret_cast<INT_PTR>(result) > 32; }

// The executable registered to "open" files of the path's extension; empty when none.
std::wstring AssociatedProgram(const std::wstring& path, const std::string& utf8Path) {
  const std::string program = win::AssociatedProgram(SplitExtension(LastPathComponent(utf8Path)).extension);
  if (!program.empty()) return win::Widen(program);
  // FindExecutableW writes at most MAX_PATH characters by its contract.
  wchar_t found[MAX_PATH] = {};
  if (Launched(FindExecutableW(path.c_str(), nullptr, found))) return found;
  return {};
}

}  // namespace

void StartEditor(const std::string& utf8Path, CheckOutHost& host) {
  const std::wstring path = win::Widen(utf8Path);
  SetLastError(0);
  if (Launched(ShellExecuteW(host.Owner(), L"open", path.c_str(), nullptr, nullptr,
                             SW_SHOWNORMAL))) {
    return;
  }
  const std::wstring program = AssociatedProgram(path, utf8Path);
  if (program.empty()) {
    host.ShowNotice(host.Text(IDS_NO_ASSOCIATED_APP));
    return;
  }
  const std::wstring quoted = L"\"" + path + L"\"";
  SetLastError(0);
  HINSTANCE started =
      ShellExecuteW(host.Owner(), L"open", program.c_str(), quoted.c_str(), nullptr, SW_SHOWNORMAL);
  if (Launched(started)) return;
  DWORD error = GetLastError();
  if (error == 0) error = static_cast<DWORD>(reinterpret_cast<INT_PTR>(started));
  std::string text = host.Text(IDS_SHELLEXECUTE_ERROR);
  if (text.empty()) text = "ShellExecute error: %d";
  host.ShowNotice(FillPlaceholders(text, {std::to_string(static_cast<int>(error))}));
}

}  // namespace edms::checkout
