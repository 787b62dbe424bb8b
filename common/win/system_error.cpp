#include "common/win/system_error.h"

#include "common/win/handles.h"
#include "common/win/text.h"

namespace edms::win {

std::string SystemErrorText(DWORD error, HMODULE module) {
  const DWORD source = module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
  UniqueLocalMem<wchar_t> buffer;
  const DWORD length = FormatMessageW(source | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      module, error, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
  std::wstring text = length && buffer ? std::wstring(buffer.get(), length) : std::wstring();
  const size_t first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return {};
  text.erase(text.find_last_not_of(L" \t\r\n") + 1);
  return Narrow(text.substr(first));
}

std::string DescribeError(DWORD error) {
  std::string text = SystemErrorText(error);
  return text.empty() ? "error " + std::to_string(error) : text;
}

}  // namespace edms::win
